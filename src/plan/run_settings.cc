#include "plan/run_settings.h"

#include "util/control_file.h"
#include "util/paths.h"

namespace qlr {
namespace {

// Keyword numbers follow the order of registration.
enum Keyword : std::int32_t {
  kMaxMessages = 1,
  kBase = 2,
  kArcExtension = 3,
  kArcAdd = 4,
};

std::string Beside(std::string_view path, std::string_view name) {
  return AddBackslash(JustPathName(path)) + std::string(name);
}

}  // namespace

bool LoadRunSettings(std::string_view control_path, RunSettings* settings) {
  ControlFile control;
  control.AddKeyword("MaxMessages");
  control.AddKeyword("Base");
  control.AddKeyword("Arc.Extension");
  control.AddKeyword("Arc.Add");
  if (control.Load(control_path)) return true;
  settings->MaxMessages = StrToLong(control.GetValue(kMaxMessages, 1));
  for (std::int32_t i = 1; i <= control.ValueCount(kBase); ++i) {
    settings->BaseLines.push_back(NewStr(control.GetValue(kBase, i)));
  }
  SetStr(settings->ArcExtension, control.GetValue(kArcExtension, 1));
  SetStr(settings->ArcAddCommand, control.GetValue(kArcAdd, 1));
  for (std::int32_t i = 1; i <= control.ErrorCount(); ++i) {
    settings->WrongLines.push_back(control.ErrorLine(i));
  }
  return false;
}

std::string ControlFileBeside(std::string_view executable) {
  return Beside(executable, kControlFileName);
}

std::string RunLockBeside(std::string_view control_path) {
  return Beside(control_path, kRunLockFileName);
}

}  // namespace qlr
