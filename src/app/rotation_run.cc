// The rotation run: every base over the limit is copied into a new
// numbered directory, emptied in place and, in pack mode, archived.
//
// The run never loses a message: a base is erased only after a complete,
// durable copy exists under its rotation name, and a copy is removed only
// after the archiver ended with exit code 0 and the archive is really there
// and on stable storage. Runs of one installation never overlap (the run
// lock), and a base whose format has a writers' lock is held locked from
// before its copy until its erase is done.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/console_output.h"
#include "app/packer_app.h"
#include "app/rotation_target.h"
#include "msgbase/base_files.h"
#include "msgbase/base_lock.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/open_base.h"
#include "platform/console.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"
#include "util/template_expander.h"

namespace qlr {
namespace {

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

// The program the platform starts as the command interpreter, for a cause
// line that must say which one could not be started.
std::string InterpreterName() {
  if (auto comspec = Os().GetEnvironment("COMSPEC"); comspec && !comspec->empty()) {
    return *comspec;
  }
  return kHostIsWindows ? std::string("%COMSPEC% (not set)") : std::string("/bin/sh");
}

// Makes the archive durable before the copy it replaces goes: its bytes
// and its name. Nothing on success, else why not.
std::optional<std::string> FlushArchive(const ShortString& archive_name) {
  std::unique_ptr<FileHandle> archive = Os().OpenFile(archive_name, OpenMode::kReadWrite);
  // An archiver may leave its archive read-only; reading suffices to flush.
  if (!archive) archive = Os().OpenFile(archive_name, OpenMode::kRead);
  if (!archive) return Text("the archive cannot be opened: ", Os().LastError().ToString());
  if (!archive->Sync() || !archive->Close()) {
    return Text("the archive cannot be flushed: ", archive->LastError().ToString());
  }
  ShortString dir = JustPathName(archive_name);
  if (dir.empty()) dir = ".";
  if (Os().SyncDirectory(dir)) return std::nullopt;
  return Text("the archive's directory cannot be flushed: ", Os().LastError().ToString());
}

// The path of an operation's failure, for a cause line: the status, or
// what is known when the system did not say.
std::string Describe(const Status& status, std::string_view fallback) {
  return status.ok() ? std::string(fallback) : status.ToString();
}

}  // namespace

void PackerApp::Run() {
  if (BaseLines.empty()) ExitWithMessage("nothing to archiving...");

  const ShortString lock_path =
      !RunLockPath.empty() ? RunLockPath
                           : AddBackslash(JustPathName(Os().ExecutablePath())) + kRunLockFileName;
  FileByteLock run_lock;
  bool owns_leftovers = false;
  switch (run_lock.Acquire(lock_path, /*create=*/true, kRunLockWaitMs)) {
    case FileByteLock::Outcome::kLocked:
      owns_leftovers = true;
      break;
    case FileByteLock::Outcome::kNoLocks:
      // Nothing can keep runs apart here; partial copies found may be a
      // live run's and are left alone.
      break;
    case FileByteLock::Outcome::kBusy:
      // An earlier run (a scheduler that started us again, an operator)
      // is still at work: touching any base now could share its copies.
      WriteLine(Text("[", lock_path, "] is held by another run!"));
      WriteLine("exiting...");
      WriteCause(Text("waited ", LongToStr(kRunLockWaitMs / 1000), " seconds for the run lock [",
                      lock_path, "]"));
      exit_code_ = 1;
      return;
    case FileByteLock::Outcome::kFailed:
      WriteLine(Text("cannot lock [", lock_path, "]!"));
      WriteLine("exiting...");
      WriteCause(Text("run lock: ", Describe(run_lock.LastError(), lock_path)));
      exit_code_ = 1;
      return;
  }
  for (const HeapString& line : BaseLines) ProcessBase(line.view(), owns_leftovers);
}

void PackerApp::ProcessBase(std::string_view base_line, bool owns_leftovers) {
  const ShortString spec = ExtractWord(1, base_line, kBlanks);
  const ShortString target_dir = AddBackslash(ExtractWord(2, base_line, kBlanks));

  Write(Text("processing base [", spec, "]... "));
  // What a killed run left is this run's to finish: files its erase held
  // aside are messages again before they are counted, and its partial
  // copies go even when this base is not rotated now.
  if (owns_leftovers) {
    // Whatever must stay aside makes this run's erase fail and say so.
    (void)RecoverInterruptedErase(spec);
    RotationTarget(target_dir, true).RemoveLeftovers();
  }
  // The files of such a base are read and written in place: through a
  // link, that would be whatever file it names.
  if (const std::vector<std::string> links = LinkedBaseFiles(spec); !links.empty()) {
    WriteLine("cannot open!");
    for (const std::string& link : links) {
      WriteCause(Text("[", link, "] is a symbolic link: the base is left as it was"));
    }
    exit_code_ = 1;
    return;
  }
  std::int32_t count = 0;
  {
    OpenFailure failure = OpenFailure::kNone;
    const auto base = OpenBase(spec, &failure);
    if (!base) {
      WriteLine("cannot open!");
      if (ParseBaseSpec(spec).too_long) {
        WriteCause(Text("cannot open [", spec, "]: a file of the base passes 255 characters"));
      }
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

  // No writer may add a message between the copy and the erase: it would
  // be erased without being in the copy.
  BaseLock base_lock;
  if (base_lock.Acquire(spec)) {
    if (base_lock.Busy()) {
      WriteLine("base is busy! left as it was.");
      WriteCause(Text("[", base_lock.LockFile(), "] stayed locked by another program for ",
                      LongToStr(BaseLock::kWaitMs / 1000), " seconds"));
    } else {
      WriteLine("cannot lock! base left as it was.");
      WriteCause(Text("base lock: ", Describe(base_lock.LastError(), base_lock.LockFile())));
    }
    exit_code_ = 1;
    return;
  }

  RotationTarget target(target_dir, owns_leftovers);
  if (PackMode) target.SetArchiveExtension(ArcExtension.view());
  Status error;
  CopyManifest copied;
  const bool copy_failed = target.Prepare(&error) ||
                           CopyBaseFiles(spec, target.PartialPath(), &copied, &error) ||
                           target.Publish(&error);
  for (const std::string& link : copied.Links()) {
    WriteCause(Text("[", link, "] is a symbolic link: neither copied nor removed"));
  }
  if (copy_failed) {
    target.Discard();
    WriteLine(Text("cannot copy to [", target.CopyName(), "]! base left as it was."));
    WriteCause(
        Text("cannot copy to [", target.CopyName(), "]: ", Describe(error, target.PartialPath())));
    exit_code_ = 1;
    return;
  }
  const ShortString& copy_name = target.CopyName();
  copied.RelocateCopy(AddBackslash(target.PartialPath()), AddBackslash(copy_name));

  // Only what the copy holds as it is now is erased.
  Status erase_error;
  if (!EraseBase(spec, &copied, &erase_error)) {
    WriteLine(Text("cannot erase! copy kept in [", copy_name, "]"));
    WriteCause(Text("cannot erase [", spec, "]: ", Describe(erase_error, spec)));
    exit_code_ = 1;
    return;
  }
  base_lock.Release();

  if (!PackMode) {
    WriteLine(Text("copied to [", copy_name, "]"));
    return;
  }
  const ShortString archive_name = ForceExtension(copy_name, ArcExtension.view());
  std::string cause;
  if (PackCopy(copy_name, archive_name, &cause)) {
    WriteLine(Text("packed to [", archive_name, "]"));
    target.RemoveCopy();
    return;
  }
  // The copy is kept, as in copy mode, but a scheduler must see that the
  // archives are not being made.
  WriteLine(Text("copied to [", copy_name, "]"));
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
  // Only a clean exit AND an archive that really holds something count: an
  // empty Arc.Add runs the interpreter with " /C " alone, which exits 0
  // having archived nothing, and an archiver may leave an empty file.
  if (!result.started) {
    *cause = Text("cannot start the command interpreter [", InterpreterName(), "]");
    return false;
  }
  if (!result.exited_normally) {
    *cause = "the archiver was ended by a signal";
    return false;
  }
  if (result.exit_code != 0) {
    *cause = Text("the archiver ended with exit code ", LongToStr(result.exit_code));
    return false;
  }
  const std::optional<FileStatus> archive = Os().Stat(archive_name);
  if (!archive || !archive->is_regular) {
    *cause = Text("the archiver made no archive [", archive_name, "]");
    return false;
  }
  if (archive->size == 0) {
    *cause = Text("the archive [", archive_name, "] is empty");
    return false;
  }
  if (const auto not_flushed = FlushArchive(archive_name)) {
    *cause = *not_flushed;
    return false;
  }
  return true;
}

}  // namespace qlr
