// The rotation run: every base over the limit is copied into a new
// numbered directory, emptied in place and, in pack mode, archived.
//
// The run never loses a message: a base is erased only after a complete,
// durable copy exists under its rotation name, and a copy is removed only
// after the archiver ended with exit code 0 and the archive is really there
// and on stable storage. Runs of one installation never overlap (the run
// lock), and a base whose format has a writers' lock is held locked from
// before its copy until its erase is done.
//
// The archiver never writes under the archive's final name. It is handed,
// as @ArcName, a name in a directory of the run's own ("qlr-packing." and
// eight hex digits, beside the copies, mode 0700), which also holds a
// marker file made just before the archiver starts. Only an archive found
// there that is a regular file with one name, newer than the marker, not
// empty, no more readable than the messages it holds, and flushed, is
// renamed to NNNNNNNN.ext, never over anything. A run killed meanwhile
// leaves the private directory; the next run removes it and reports a copy
// whose archive was never published.
//
// Nothing the run creates is more open than what it was made of: the
// directories it makes get no permission the base directory lacks, and
// the archiver runs under a umask that gives the archive no more than the
// most restrictive of the copied files.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/console_output.h"
#include "app/packer_app.h"
#include "msgbase/base_files.h"
#include "msgbase/base_lock.h"
#include "msgbase/base_reference.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/format_registry.h"
#include "msgbase/open_base.h"
#include "plan/pack_names.h"
#include "plan/rotation_target.h"
#include "plan/run_settings.h"
#include "platform/console.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

// The marker's extension, after the copy's number.
constexpr std::string_view kMarkerExtension = "qlr-started";
constexpr std::uint32_t kPermissionBits = 0777;
constexpr std::uint32_t kOwnerBits = 0700;

// The program the platform starts as the command interpreter, for a cause
// line that must say which one could not be started.
std::string InterpreterName() {
  if (auto comspec = Os().GetEnvironment("COMSPEC"); comspec && !comspec->empty()) {
    return *comspec;
  }
  return kHostIsWindows ? std::string("%COMSPEC% (not set)") : std::string("/bin/sh");
}

// Makes the archive's bytes durable before it is published. Nothing on
// success, else why not.
std::optional<std::string> FlushArchive(const std::string& archive_name) {
  auto archive = Os().OpenFile(archive_name, OpenMode::kReadWrite);
  // An archiver may leave its archive read-only; reading suffices to flush.
  if (!archive) archive = Os().OpenFile(archive_name, OpenMode::kRead);
  if (!archive) return Text("the archive cannot be opened: ", archive.status().ToString());
  Status flushed = archive->Sync();
  if (flushed) flushed = archive->Close();
  if (!flushed) return Text("the archive cannot be flushed: ", flushed.ToString());
  return std::nullopt;
}

// A directory as the system names it: the empty path is the current one.
std::string ForOs(std::string_view dir) {
  return dir.empty() ? std::string(".") : std::string(dir);
}

// The partial lock file inside the directory `copy`.
std::string PartialLockOf(const std::string& copy) {
  return AddBackslash(copy) + std::string(kPartialLockName);
}

std::string OctalMode(std::uint32_t mode) {
  std::string text = "0";
  for (int shift = 6; shift >= 0; shift -= 3) {
    text += static_cast<char>('0' + ((mode >> shift) & 7));
  }
  return text;
}

// Sets the process's creation mask to its old bits and `extra` for the
// lifetime of the object. The process is single-threaded, and the
// archiver inherits the mask.
class ScopedCreationMask {
 public:
  explicit ScopedCreationMask(std::uint32_t extra) : previous_(Os().SetCreationMask(0777)) {
    static_cast<void>(Os().SetCreationMask(previous_ | extra));
  }
  ~ScopedCreationMask() { static_cast<void>(Os().SetCreationMask(previous_)); }
  ScopedCreationMask(const ScopedCreationMask&) = delete;
  ScopedCreationMask& operator=(const ScopedCreationMask&) = delete;

 private:
  std::uint32_t previous_;
};

// The mode of the directory that holds the base's files; nothing when the
// system keeps no such bits or it cannot be examined.
std::optional<std::uint32_t> BaseDirectoryMode(const BaseReference& base) {
  if (kHostIsWindows) return std::nullopt;
  if (base.format == nullptr) return std::nullopt;
  const std::string dir = base.format->layout == FileLayout::kDirectory
                              ? RemoveBackslash(base.location)
                              : JustPathName(base.location);
  const auto status = Os().Stat(ForOs(dir));
  if (!status) return std::nullopt;
  return status->native_mode & kPermissionBits;
}

// The bits a directory made by the run may not have: those the base
// directory lacks, except the owner's, who must fill it.
std::uint32_t DirectoryMask(std::optional<std::uint32_t> base_dir_mode) {
  if (!base_dir_mode) return kHostIsWindows ? 0 : 0077;
  return ~(*base_dir_mode | kOwnerBits) & kPermissionBits;
}

// The most an archive of the copy may allow: what every copied file
// allows, and of that only what the classes of users who could enter the
// base directory could reach. The owner (the run's user) keeps reading
// and writing.
std::uint32_t ArchiveModeLimit(const CopyManifest& copied,
                               std::optional<std::uint32_t> base_dir_mode) {
  std::uint32_t allowed = kPermissionBits;
  for (const CopiedFile& file : copied.Files()) allowed &= file.status.native_mode;
  if (base_dir_mode) {
    for (int shift : {6, 3, 0}) {
      if (((*base_dir_mode >> shift) & 1) == 0) allowed &= ~(7u << shift);
    }
  }
  // No execute bit: an archive is data.
  return (allowed & 0666) | 0600;
}

// The path of an operation's failure, for a cause line: the status, or
// what is known when the system did not say.
std::string Describe(const Status& status, std::string_view fallback) {
  return status.ok() ? std::string(fallback) : status.ToString();
}

// The published copies in `target_dir` (NNNNNNNN directories) that still
// hold the partial lock file: a run removes it once the erase after the
// copy is over, so a run killed between the two left it.
std::vector<std::string> UnfinishedCopies(const std::string& target_dir) {
  std::vector<std::string> copies;
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(ForOs(target_dir), "*.*", &entries)) return copies;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & kAttrDirectory) == 0 || entry.name.size() != 8 ||
        !RotationNumberOf(entry.name)) {
      continue;
    }
    const std::string copy = target_dir + entry.name;
    const auto status = Os().StatLink(copy);
    if (status && !status->is_link && Os().StatLink(PartialLockOf(copy))) copies.push_back(copy);
  }
  return copies;
}

// True when a file of the copy has another name too (a base it was linked
// from, whose erase is not over).
bool SharesFiles(const std::string& copy) {
  const std::string dir = AddBackslash(copy);
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(dir, "*.*", &entries)) return true;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & kAttrDirectory) != 0 || entry.name == kPartialLockName) continue;
    const auto status = Os().StatLink(dir + entry.name);
    if (!status || status->link_count > 1) return true;
  }
  return false;
}

// Counts the base's messages, opening (or making) it and closing it again
// before its files are copied; a damaged base is counted as far as it can
// be read, and said so. Not ok as OpenBase reports it.
Status CountMessages(const BaseReference& reference, std::string_view spec, std::int32_t* count) {
  std::unique_ptr<MessageBase> base;
  const Status opened = OpenBase(reference, &base);
  if (!opened.ok()) return opened;
  *count = base->Count();
  if (!base->Damage().ok()) {
    WriteCause(Text("[", spec, "] is damaged: ", Describe(base->Damage(), spec)));
  }
  return Status::Ok();
}

// Copies the base into the next numbered directory of `target` and
// publishes it, recording in `copied` what the copy holds. Not ok with the
// path that failed when the system gave no reason.
Status CopyIntoTarget(RotationTarget& target, const BaseReference& base, CopyManifest* copied) {
  Status error;
  if (!target.Prepare(&error) && !CopyBaseFiles(base, target.PartialPath(), copied, &error) &&
      !target.Publish(&error)) {
    return Status::Ok();
  }
  return error.ok() ? Status(StatusKind::kIoError, target.PartialPath(), "") : error;
}

}  // namespace

void PackerApp::Run() {
  if (BaseLines.empty()) ExitWithMessage(kNothingToRotate);

  const std::string lock_path =
      !RunLockPath.empty()
          ? std::string(RunLockPath)
          : AddBackslash(JustPathName(Os().ExecutablePath())) + std::string(kRunLockFileName);
  FileByteLock run_lock;
  bool owns_leftovers = false;
  switch (run_lock.Acquire(lock_path, /*create=*/true, kRunLockWaitMs, /*follow_links=*/true)) {
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
      WriteLine(RunLockHeldText(lock_path));
      WriteLine("exiting...");
      WriteCause(Text("waited ", LongToStr(kRunLockWaitMs / 1000), " seconds for the run lock [",
                      lock_path, "]"));
      exit_code_ = 1;
      return;
    case FileByteLock::Outcome::kFailed:
      WriteLine(RunLockFailedText(lock_path));
      WriteLine("exiting...");
      WriteCause(Text("run lock: ", Describe(run_lock.LastError(), lock_path)));
      exit_code_ = 1;
      return;
  }
  for (const HeapString& line : BaseLines) ProcessBase(line.view(), owns_leftovers);
}

void PackerApp::ProcessBase(std::string_view base_line, bool owns_leftovers) {
  const ShortString spec = ExtractWord(1, base_line, kBlanks);
  const BaseReference base = ParseBaseReference(spec);
  const std::string target_dir = AddBackslash(ExtractWord(2, base_line, kBlanks));

  Write(Text("processing base [", spec, "]... "));
  // What a killed run left is this run's to finish: files its erase held
  // aside are messages again before they are counted, and its partial
  // copies go even when this base is not rotated now.
  if (owns_leftovers) {
    // Whatever must stay aside makes this run's erase fail and say so.
    (void)RecoverInterruptedErase(base);
    FinishInterruptedErases(base, spec, target_dir);
    ReportInterruptedPacks(target_dir);
    RotationTarget(target_dir, true).RemoveLeftovers();
  }
  // The files of such a base are read and written in place: through a
  // link, that would be whatever file it names.
  if (const std::vector<std::string> links = LinkedBaseFiles(base); !links.empty()) {
    WriteLine("cannot open!");
    for (const std::string& link : links) {
      WriteCause(Text("[", link, "] is a symbolic link: the base is left as it was"));
    }
    exit_code_ = 1;
    return;
  }
  std::int32_t count = 0;
  if (const Status counted = CountMessages(base, spec, &count); !counted.ok()) {
    WriteLine("cannot open!");
    if (HasReason(counted)) WriteCause(Text("cannot open [", spec, "]: ", counted.ToString()));
    // A base that is missing and cannot be created, or of a format this
    // build cannot open, is a matter of the control file and leaves the
    // run's result alone. A base that is there but cannot be read has
    // messages nobody counted: it may be over the limit and is not
    // rotated, which the caller must learn from the exit code.
    if (counted.kind() == StatusKind::kCorruption) exit_code_ = 1;
    return;
  }
  if (count <= MaxMessages) {
    WriteLine(Text("only ", LongToStr(count), " messages. let it live."));
    return;
  }
  Write(Text(LongToStr(count), " messages. "));

  // No writer may add a message between the copy and the erase: it would
  // be erased without being in the copy.
  BaseLock base_lock;
  if (base_lock.Acquire(base)) {
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
  CopyManifest copied;
  const std::optional<std::uint32_t> base_dir_mode = BaseDirectoryMode(base);
  Status copy;
  {
    // The copy's files keep their own modes; the directories made for it
    // are no more open than the base's.
    ScopedCreationMask directory_mask(DirectoryMask(base_dir_mode));
    copy = CopyIntoTarget(target, base, &copied);
  }
  for (const std::string& link : copied.Links()) {
    WriteCause(Text("[", link, "] is a symbolic link: neither copied nor removed"));
  }
  if (!copy.ok()) {
    target.Discard();
    WriteLine(Text("cannot copy to [", target.CopyName(), "]! base left as it was."));
    WriteCause(Text("cannot copy to [", target.CopyName(), "]: ", copy.ToString()));
    exit_code_ = 1;
    return;
  }
  const std::string& copy_name = target.CopyName();
  copied.RelocateCopy(AddBackslash(target.PartialPath()), AddBackslash(copy_name));

  // Only what the copy holds as it is now is erased.
  const Status erased = EraseBase(base, &copied, nullptr);
  target.RemovePartialLock();
  if (!erased.ok()) {
    WriteLine(Text("cannot erase! copy kept in [", copy_name, "]"));
    WriteCause(Text("cannot erase [", spec, "]: ", erased.ToString()));
    exit_code_ = 1;
    return;
  }
  base_lock.Release();

  if (!PackMode) {
    WriteLine(Text("copied to [", copy_name, "]"));
    return;
  }
  const std::string archive_name = ForceExtension(copy_name, ArcExtension.view());
  const Status packed =
      PackCopy(target_dir, copy_name, archive_name, ArchiveModeLimit(copied, base_dir_mode));
  if (packed.ok()) {
    WriteLine(Text("packed to [", archive_name, "]"));
    target.RemoveCopy();
    return;
  }
  // The copy is kept, as in copy mode, but a scheduler must see that the
  // archives are not being made.
  WriteLine(Text("copied to [", copy_name, "]"));
  WriteCause(Text("not packed: ", packed.detail()));
  exit_code_ = 1;
}

// The run's own place for one archive in the making, in the target
// directory: made here and now (a name that exists is somebody else's),
// readable by the run's user only, whatever the creation mask.
class PackingPlace {
 public:
  // Removes the directory and the files in it (never what is below: a
  // link there to a directory is not followed).
  void Remove() {
    if (!dir_.empty()) RemoveTree(dir_, false);
    dir_.clear();
  }

  // True on success; false with *cause.
  bool Make(const std::string& target_dir, const std::string& copy_file_name, std::string* cause) {
    ScopedCreationMask private_mask(0077);
    for (std::uint32_t k = 0; k < kPackingAttempts; ++k) {
      const std::string path = PackingPlaceName(target_dir, k);
      const Status made = Os().MakeDirectory(path);
      if (made) {
        dir_ = path;
        break;
      }
      if (!Os().StatLink(path)) {
        *cause = Text("cannot make [", path, "]: ", made.ToString());
        return false;
      }
    }
    if (dir_.empty()) {
      *cause = Text("no free name for a private archive in [", ForOs(target_dir), "]");
      return false;
    }
    stem_ = AddBackslash(dir_) + copy_file_name;
    marker_ = ForceExtension(stem_, kMarkerExtension);
    auto marker = Os().OpenFile(marker_, OpenMode::kCreate);
    const Status marked = marker ? marker->Close() : marker.status();
    if (!marked) {
      *cause = Text("cannot make [", marker_, "]: ", marked.ToString());
      return false;
    }
    // The file system's own clock: the archive is judged by the same one.
    const auto status = Os().StatLink(marker_);
    if (!status) {
      *cause = Text("cannot examine [", marker_, "]: ", status.status().ToString());
      return false;
    }
    started_ = status->modified;
    return true;
  }

  // What @ArcName stands for: the archive's name without its extension.
  const std::string& Stem() const { return stem_; }
  FileTime Started() const { return started_; }

 private:
  std::string dir_;
  std::string stem_;
  std::string marker_;
  FileTime started_;
};

Status PackerApp::PackCopy(const std::string& target_dir, const std::string& copy_name,
                           const std::string& archive_name, std::uint32_t mode_limit) {
  PackingPlace place;
  std::string cause;
  const bool packed = place.Make(target_dir, WholeFileName(copy_name), &cause) &&
                      PackInPlace(place, target_dir, copy_name, archive_name, mode_limit, &cause);
  place.Remove();
  if (packed) return Status::Ok();
  return Status(StatusKind::kIoError, "", cause);
}

bool PackerApp::PackInPlace(const PackingPlace& place, const std::string& target_dir,
                            const std::string& copy_name, const std::string& archive_name,
                            std::uint32_t mode_limit, std::string* cause) {
  const std::string made = ForceExtension(place.Stem(), ArcExtension.view());
  const auto tail = ArchiverCommandTail(ArcAddCommand.view(), place.Stem(), copy_name);
  if (!tail) {
    *cause = "the archiver command would pass 255 characters";
    return false;
  }
  // "N messages. " must precede the archiver's own output.
  FlushStdout();
  ProcessResult result;
  {
    ScopedCreationMask archive_mask(~mode_limit & kPermissionBits);
    result = Os().RunCommandInterpreter(*tail);
  }
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
  // Only a clean exit AND a new archive of the run's own that really holds
  // something count: an empty Arc.Add runs the interpreter with " /C "
  // alone, which exits 0 having archived nothing; an archiver may leave an
  // empty file; and a link, a second name of another file or a file older
  // than the archiver's start is no archive of this copy.
  const std::optional<FileStatus> archive = Os().StatLink(made);
  if (!archive) {
    *cause = Text("the archiver made no archive [", made, "]");
    return false;
  }
  if (archive->is_link) {
    *cause = Text("the archive [", made, "] is a symbolic link");
    return false;
  }
  if (!archive->is_regular) {
    *cause = Text("the archiver made no archive [", made, "]");
    return false;
  }
  if (archive->link_count > 1) {
    *cause = Text("the archive [", made, "] has ", std::to_string(archive->link_count),
                  " names: it is another file too");
    return false;
  }
  if (archive->modified.ticks < place.Started().ticks) {
    *cause = Text("the archive [", made, "] is older than the archiver's start");
    return false;
  }
  if (archive->size == 0) {
    *cause = Text("the archive [", made, "] is empty");
    return false;
  }
  if (!kHostIsWindows) {
    // Still in the private directory: narrowing it now exposes nothing.
    const std::uint32_t mode = archive->native_mode & kPermissionBits;
    if ((mode & ~mode_limit) != 0) {
      const auto narrowed = Os().RestoreNativeMode(made, mode & mode_limit)
                                ? std::optional<FileStatus>(Os().StatLink(made))
                                : std::nullopt;
      if (!narrowed || (narrowed->native_mode & kPermissionBits & ~mode_limit) != 0) {
        *cause = Text("the archive [", made, "] has mode ", OctalMode(mode),
                      ", wider than its messages' ", OctalMode(mode_limit));
        return false;
      }
    }
  }
  if (const auto not_flushed = FlushArchive(made)) {
    *cause = *not_flushed;
    return false;
  }
  if (const Status named = Os().RenameNoReplace(made, archive_name); !named) {
    *cause = Text("the archive cannot be named [", archive_name, "]: ", named.ToString());
    return false;
  }
  if (const Status synced = Os().SyncDirectory(ForOs(target_dir)); !synced) {
    // Published but perhaps not durable: the copy stays, and the archive
    // with it, complete.
    *cause = Text("the archive's directory cannot be flushed: ", synced.ToString());
    return false;
  }
  return true;
}

void PackerApp::FinishInterruptedErases(const BaseReference& base, std::string_view spec,
                                        const std::string& target_dir) {
  for (const std::string& copy : UnfinishedCopies(target_dir)) {
    const std::string lock_file = PartialLockOf(copy);
    // Held: another installation's run is at this copy right now.
    FileByteLock lock;
    const FileByteLock::Outcome outcome = lock.Acquire(lock_file, false, 0);
    if (outcome != FileByteLock::Outcome::kLocked && outcome != FileByteLock::Outcome::kNoLocks) {
      continue;
    }
    if (!FinishSharedErase(base, copy).ok()) {
      WriteCause(Text("an earlier run was stopped before it had emptied [", spec,
                      "]: messages it copied to [", copy, "] could not be removed"));
      exit_code_ = 1;
      continue;
    }
    // A pack run stopped between its erase and its archiver leaves a copy
    // that nothing would ever pack; the next runs only carry on.
    const std::string archive_name = ForceExtension(copy, ArcExtension.view());
    if (PackMode && !Os().StatLink(archive_name)) {
      WriteCause(Text("an earlier run was stopped before it packed [", copy,
                      "]: the copy is kept, its archive [", archive_name, "] was not made"));
      exit_code_ = 1;
    }
    // Files still shared belong to another base that uses this target.
    if (SharesFiles(copy)) continue;
    lock.Release();
    DeleteFileIfExists(lock_file);
  }
}

void PackerApp::ReportInterruptedPacks(const std::string& target_dir) {
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(ForOs(target_dir), "*.*", &entries)) return;
  for (const DirEntry& entry : entries) {
    if (!entry.name.starts_with(kPackingPrefix) || (entry.attributes & kAttrDirectory) == 0) {
      continue;
    }
    const std::string place = target_dir + entry.name;
    const auto status = Os().StatLink(place);
    if (!status || status->is_link) continue;  // not the run's own
    std::vector<DirEntry> markers;
    if (Os().ListDirectory(place, ShortString("*.") + kMarkerExtension, &markers)) {
      for (const DirEntry& marker : markers) {
        const auto number = RotationNumberOf(marker.name);
        if (!number) continue;
        const std::string copy_name = target_dir + std::string(HexLong(*number));
        const std::string archive_name = ForceExtension(copy_name, ArcExtension.view());
        if (DirExists(copy_name) && !Os().StatLink(archive_name)) {
          WriteCause(Text("an earlier run was stopped while packing [", copy_name,
                          "]: the copy is kept, its archive [", archive_name, "] was not made"));
          exit_code_ = 1;
        }
      }
    }
    RemoveTree(place, false);
  }
}

}  // namespace qlr
