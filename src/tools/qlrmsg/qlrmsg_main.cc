// qlrmsg: lists, shows and copies the messages of a base from the command
// line, for scripts and for looking into a base by hand.
#include <new>
#include <string_view>
#include <vector>

#include "msgbase/formats/all_formats.h"
#include "platform/console.h"
#include "platform/fault.h"
#include "tools/qlrmsg/qlrmsg_commands.h"

int main(int argc, char** argv) {
  qlr::PrepareConsole();
  qlr::InstallFaultHandler(qlr::kMaintainerContact);
  int code = 1;
  try {
    qlr::InstallBuiltInFormats();
    code = qlr::qlrmsg::Run(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const std::bad_alloc&) {
    // What a copy made durable before stays; nothing half written counts.
    qlr::WriteStderr("qlrmsg: out of memory\n");
  }
  qlr::EndProcess(code);
}
