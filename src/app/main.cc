// The program body: start-up, the run over the bases, the normal end.
#include <string_view>
#include <vector>

#include "app/packer_app.h"
#include "msgbase/formats/all_formats.h"
#include "platform/console.h"
#include "platform/fault.h"
#include "platform/process_setup.h"

int main(int argc, char** argv) {
  qlr::PrepareConsole();
  qlr::InstallFaultHandler(qlr::kMaintainerContact);
  qlr::IgnoreFileSizeSignal();
  qlr::InstallBuiltInFormats();
  static qlr::PackerApp app;
  app.Init(std::vector<std::string_view>(argv + 1, argv + argc));
  app.Run();
  qlr::EndProcess(app.ExitCode());
}
