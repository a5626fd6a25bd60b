// Start-up and the fatal exit of the application.
#include "app/packer_app.h"

#include <optional>
#include <string>

#include "app/console_output.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "util/control_file.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::string_view kControlFileName = "qlr.ctl";
// The run lock is named beside the control file, and fits where it does.
static_assert(kControlFileName.size() == kRunLockFileName.size());
constexpr int kWrongLinePauseMs = 3000;

// Keyword numbers follow the order of registration.
enum Keyword : std::int32_t {
  kMaxMessages = 1,
  kBase = 2,
  kArcExtension = 3,
  kArcAdd = 4,
};

void WriteBanner() {
  Write("\r\nquillor v0.1");
  WriteLine();
  WriteLine("rotation of FTN message bases");
  WriteLine();
}

void WriteUsage() {
  WriteLine("usage: qlr.exe [/p]|[/c]");
  WriteLine("       /p - pack base");
  WriteLine("       /c - only copy base");
}

}  // namespace

void PackerApp::Init(const std::vector<std::string_view>& arguments) {
  WriteBanner();
  if (arguments.size() != 1) {
    WriteUsage();
    ExitWithMessage("");
  }
  const ShortString command_switch = UpperStr(arguments[0]);
  if (command_switch == "/P") {
    PackMode = true;
  } else if (command_switch == "/C") {
    PackMode = false;
  } else {
    ExitWithMessage("unknown command line switch");
  }

  // Beside the running executable, never the current directory.
  // Both names have the same length; cut, they would be another file's.
  const std::string executable = Os().ExecutablePath();
  const std::optional<ShortString> control_dir =
      FitsShortString(executable) ? WholeDirectory(JustPathName(executable)) : std::nullopt;
  const std::optional<ShortString> whole_control =
      control_dir ? WholePath({*control_dir, kControlFileName}) : std::nullopt;
  if (!whole_control) {
    ExitWithMessage(Text("[", executable, "]: the path of the control file passes 255 characters"));
  }
  const ShortString& control_path = *whole_control;
  RunLockPath = *control_dir + kRunLockFileName;
  if (!FileExists(control_path)) {
    ExitWithMessage(Text("[", control_path, "]", " is not found!"));
  }

  int wrong_line_count = 0;
  {
    ControlFile control;
    control.AddKeyword("MaxMessages");
    control.AddKeyword("Base");
    control.AddKeyword("Arc.Extension");
    control.AddKeyword("Arc.Add");
    if (control.Load(control_path)) {
      ExitWithMessage(Text("cannot load [", control_path, "]"));
    }
    MaxMessages = StrToLong(control.GetValue(kMaxMessages, 1));
    for (std::int32_t i = 1; i <= control.ValueCount(kBase); ++i) {
      BaseLines.push_back(NewStr(control.GetValue(kBase, i)));
    }
    SetStr(ArcExtension, control.GetValue(kArcExtension, 1));
    SetStr(ArcAddCommand, control.GetValue(kArcAdd, 1));

    wrong_line_count = control.ErrorCount();
    for (std::int32_t i = 1; i <= wrong_line_count; ++i) {
      WriteLine(
          Text("wrong line #[", LongToStr(control.ErrorLine(i)), "] in [", control_path, "]"));
    }
  }
  if (wrong_line_count > 0) {
    WriteLine("pause (3 seconds)...");
    FlushStdout();
    Os().Sleep(kWrongLinePauseMs);
  }
}

void PackerApp::ExitWithMessage(std::string_view text) {
  WriteLine(text);
  WriteLine("exiting...");
  BaseLines.clear();
  DisposeStr(ArcExtension);
  DisposeStr(ArcAddCommand);
  // A fatal exit is a failure: the scheduler that started us must see it.
  EndProcess(1);
}

}  // namespace qlr
