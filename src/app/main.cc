// The program body: start-up, the run over the bases, the normal end.
#include <new>
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
  int code = 1;
  try {
    qlr::InstallBuiltInFormats();
    static qlr::PackerApp app;
    app.Init(std::vector<std::string_view>(argv + 1, argv + argc));
    app.Run();
    code = app.ExitCode();
  } catch (const std::bad_alloc&) {
    // A base whose counts promise more than memory holds: one line, and
    // no base is touched further (every write makes its step durable
    // before the next one).
    qlr::WriteStderr("qlr: out of memory, run stopped\r\n");
  }
  qlr::EndProcess(code);
}
