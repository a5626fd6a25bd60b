// Start-up and the fatal exit of the application.
#include "app/packer_app.h"

#include <optional>
#include <string>
#include <utility>

#include "app/console_output.h"
#include "plan/run_settings.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr int kWrongLinePauseMs = 3000;

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
  const std::string control_path = ControlFileBeside(Os().ExecutablePath());
  RunLockPath = RunLockBeside(control_path);
  if (!FileExists(control_path)) {
    ExitWithMessage(ControlFileMissingText(control_path));
  }

  RunSettings settings;
  if (LoadRunSettings(control_path, &settings)) {
    ExitWithMessage(ControlFileUnreadableText(control_path));
  }
  MaxMessages = settings.MaxMessages;
  BaseLines = std::move(settings.BaseLines);
  ArcExtension = std::move(settings.ArcExtension);
  ArcAddCommand = std::move(settings.ArcAddCommand);
  for (const std::int32_t line : settings.WrongLines) {
    WriteLine(WrongLineText(line, control_path));
  }
  if (!settings.WrongLines.empty()) {
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
