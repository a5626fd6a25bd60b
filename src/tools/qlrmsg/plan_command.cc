#include "tools/qlrmsg/plan_command.h"

#include <optional>
#include <string>

#include "plan/rotation_plan.h"
#include "plan/run_settings.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "tools/qlrmsg/message_listing.h"
#include "tools/qlrmsg/qlrmsg_commands.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr::qlrmsg {
namespace {

void Complain(std::string_view text) {
  std::string line = "qlrmsg: ";
  line.append(text);
  line += kLineEnd;
  WriteStderr(line);
}

// A field of a plan line: "-" when empty, and a TAB, CR or LF inside it
// printed as a blank, so that every line has exactly seven fields.
void AppendField(std::string& line, std::string_view text) {
  if (!line.empty()) line += '\t';
  if (text.empty()) text = "-";
  for (char c : text) line += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
}

std::string PlanLine(const PlannedBase& base, std::int32_t limit) {
  std::string line;
  AppendField(line, base.spec);
  AppendField(line, base.format);
  AppendField(line, base.count ? std::to_string(*base.count) : std::string());
  AppendField(line, std::to_string(limit));
  AppendField(line, VerdictText(base.verdict));
  AppendField(line, base.copy_name);
  AppendField(line, base.command);
  line += kLineEnd;
  return line;
}

}  // namespace

int Plan(const std::vector<std::string_view>& operands) {
  std::size_t next = 0;
  bool pack_mode = false;
  if (next < operands.size()) {
    const ShortString mode = UpperStr(operands[next]);
    if (mode == "/P" || mode == "/C") {
      pack_mode = mode == "/P";
      ++next;
    }
  }
  if (operands.size() - next > 1) {
    Complain("wrong number of arguments for plan");
    WriteStderr("run qlrmsg --help for the commands\n");
    return kExitUsage;
  }
  // Without an operand: the control file of the qlr installed beside this
  // program.
  const std::string control_path = next < operands.size()
                                       ? std::string(operands[next])
                                       : ControlFileBeside(Os().ExecutablePath());
  const RunPlan plan = PlanRun(control_path, pack_mode);
  for (const std::string& warning : plan.warnings) Complain(warning);
  if (!plan.fatal.empty()) {
    Complain(plan.fatal);
    return kExitFailed;
  }
  for (const PlannedBase& base : plan.bases) {
    WriteStdout(PlanLine(base, plan.limit));
    for (const std::string& cause : base.causes) Complain(base.spec + ": " + cause);
  }
  return plan.ExitCode() == 0 ? kExitOk : kExitFailed;
}

}  // namespace qlr::qlrmsg
