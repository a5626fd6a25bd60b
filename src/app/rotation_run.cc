// The rotation run: every base over the limit is copied into a new
// numbered directory, emptied in place and, in pack mode, archived.
//
// The run never loses a message: a base is erased only after a complete,
// durable copy exists, and a copy is removed only after the archiver ended
// with exit code 0 and the archive is really there.
#include <cstdint>
#include <optional>
#include <string>

#include "app/console_output.h"
#include "app/packer_app.h"
#include "msgbase/base_files.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/open_base.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"
#include "util/template_expander.h"

namespace qlr {
namespace {

struct RotationTarget {
  ShortString copy_name;
  ShortString archive_name;
};

// Anything at all under the name blocks its number: an earlier copy, an
// earlier archive, or a plain file that happens to carry the name.
bool NameTaken(std::string_view path) { return Os().Stat(path).has_value(); }

// The first free eight-digit number from 00000000 upward; gaps are reused.
// The search stops at ffffffff instead of wrapping around.
std::optional<RotationTarget> FindRotationTarget(std::string_view target_dir,
                                                 std::string_view arc_extension) {
  for (std::uint64_t number = 0; number <= 0xFFFFFFFFu; ++number) {
    RotationTarget target;
    target.copy_name = target_dir + HexLong(static_cast<std::uint32_t>(number));
    target.archive_name = ForceExtension(target.copy_name, arc_extension);
    if (!NameTaken(target.copy_name) && !NameTaken(target.archive_name)) return target;
  }
  return std::nullopt;
}

// The interpreter's command tail: " /C " and Arc.Add with @ArcName and
// @FileName replaced. Nothing when the command had to be cut to fit 255
// characters: a cut command may archive the wrong files and still exit 0.
std::optional<ShortString> ArchiverCommandTail(std::string_view arc_add,
                                               std::string_view copy_name) {
  constexpr std::string_view kSwitch = " /C ";
  if (kSwitch.size() + arc_add.size() > ShortString::kMax) return std::nullopt;
  ShortString tail = ShortString(kSwitch) + arc_add;
  TemplateExpander expander;
  expander.Define("@ArcName", copy_name, false);
  expander.Define("@FileName", copy_name, false);
  expander.Expand(tail);
  // A full-length result cannot be told from one that was cut.
  if (tail.size() >= ShortString::kMax) return std::nullopt;
  return tail;
}

}  // namespace

void PackerApp::Run() {
  if (BaseLines.empty()) ExitWithMessage("nothing to archiving...");
  for (const HeapString& line : BaseLines) ProcessBase(line.view());
}

void PackerApp::ProcessBase(std::string_view base_line) {
  const ShortString spec = ExtractWord(1, base_line, kBlanks);
  const ShortString target_dir = AddBackslash(ExtractWord(2, base_line, kBlanks));

  Write(Text("processing base [", spec, "]... "));
  std::int32_t count = 0;
  {
    OpenFailure failure = OpenFailure::kNone;
    const auto base = OpenBase(spec, &failure);
    if (!base) {
      WriteLine("cannot open!");
      // A base that is missing and cannot be created, or of a format this
      // build cannot open, is a matter of the control file and leaves the
      // run's result alone. A base that is there but cannot be read has
      // messages nobody counted: it may be over the limit and is not
      // rotated, which the caller must learn from the exit code.
      if (failure == OpenFailure::kUnreadable) exit_code_ = 1;
      return;
    }
    count = base->Count();
  }  // closes the base's files before they are copied
  if (count <= MaxMessages) {
    WriteLine(Text("only ", LongToStr(count), " messages. let it live."));
    return;
  }
  Write(Text(LongToStr(count), " messages. "));

  const auto target = FindRotationTarget(target_dir, ArcExtension.view());
  if (!target) {
    WriteLine(
        Text("cannot copy to [", target_dir, HexLong(0xFFFFFFFFu), "]! base left as it was."));
    exit_code_ = 1;
    return;
  }
  CopyManifest copied;
  if (CopyBaseFiles(spec, target->copy_name, &copied)) {
    // The number was free, so everything under it is this run's own.
    RemoveTree(target->copy_name, true);
    WriteLine(Text("cannot copy to [", target->copy_name, "]! base left as it was."));
    exit_code_ = 1;
    return;
  }
  // Only what the copy holds as it is now is erased.
  if (!EraseBase(spec, &copied)) {
    WriteLine(Text("cannot erase! copy kept in [", target->copy_name, "]"));
    exit_code_ = 1;
    return;
  }

  if (!PackMode) {
    WriteLine(Text("copied to [", target->copy_name, "]"));
    return;
  }
  std::string cause;
  if (PackCopy(target->copy_name, target->archive_name, &cause)) {
    WriteLine(Text("packed to [", target->archive_name, "]"));
    RemoveTree(target->copy_name, false);
    return;
  }
  // The copy is kept, as in copy mode, but a scheduler must see that the
  // archives are not being made.
  WriteLine(Text("copied to [", target->copy_name, "]"));
  WriteCause(Text("not packed: ", cause));
  exit_code_ = 1;
}

bool PackerApp::PackCopy(const ShortString& copy_name, const ShortString& archive_name,
                         std::string* cause) {
  const auto tail = ArchiverCommandTail(ArcAddCommand.view(), copy_name);
  if (!tail) {
    *cause = "the archiver command would pass 255 characters";
    return false;
  }
  // "N messages. " must precede the archiver's own output.
  FlushStdout();
  const ProcessResult result = Os().RunCommandInterpreter(*tail);
  // Only a clean exit AND an archive that really exists count: an empty
  // Arc.Add runs the interpreter with " /C " alone, which exits 0 having
  // archived nothing.
  if (!result.started) {
    *cause = "the command interpreter could not be started";
  } else if (!result.exited_normally) {
    *cause = "the archiver was ended by a signal";
  } else if (result.exit_code != 0) {
    *cause = Text("the archiver ended with exit code ", LongToStr(result.exit_code));
  } else if (!FileExists(archive_name)) {
    *cause = Text("the archiver made no archive [", archive_name, "]");
  } else {
    return true;
  }
  return false;
}

}  // namespace qlr
