#include "msgbase/jam/jam_base.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

#include "msgbase/empty_files_in_place.h"
#include "msgbase/file_set_check.h"
#include "msgbase/ftn_date.h"
#include "platform/platform.h"
#include "util/file_name_case.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {
namespace {

// Streams address files with signed 32-bit positions. A larger file would
// make offsets and sizes wrap, so such a base is refused as a whole.
constexpr std::uint64_t kMaxFileSize = std::numeric_limits<std::int32_t>::max();

// JAM dates are u32 seconds; a clock before 1970 or after 2106 cannot be
// stored, and 0 would read as "no date", so the range is clamped.
std::uint32_t NowAsJamDate() {
  const std::int64_t seconds = DateTimeToUnix(CurrentDateTime());
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(seconds, 1, std::numeric_limits<std::uint32_t>::max()));
}

bool TooLargeForStreams(std::string_view file) {
  const std::optional<FileStatus> status = Os().Stat(file);
  return status.has_value() && status->size > kMaxFileSize;
}

}  // namespace

JamBase::JamBase() { InitHeaders(); }

JamBase::~JamBase() {
  // The object model's Done: headers back to their defaults, streams
  // closed, then the common part returns the state to Closed. The lock is
  // released last so that buffered data reaches the file while it is held.
  index_record_ = JamIndexRecord();
  base_header_ = JamBaseHeader();
  msg_header_ = JamMsgHeader();
  // A batch not ended is not committed: nothing of it is referenced.
  batch_.reset();
  DisposeStreams();
  lock_.Release();
  state_ = BaseState::kClosed;
}

void JamBase::InitHeaders() {
  base_header_.Signature = kJamSignature;
  base_header_.PasswordCrc = kJamNoPassword;
  if (base_header_.DateCreated == 0) base_header_.DateCreated = NowAsJamDate();
  if (base_header_.ModCounter == 0) base_header_.ModCounter = 1;
  base_header_.Reserved.fill(0);
  base_header_.BaseMsgNum = 1;

  msg_header_.Signature = kJamSignature;
  msg_header_.Revision = kJamRevision;
  msg_header_.PasswordCrc = kJamNoPassword;
  msg_header_.ReservedWord = 0;
}

std::string JamBase::BaseFileName(std::string_view base_path, std::string_view extension) {
  return FileOfSet(base_path, extension);
}

std::string JamBase::LastReadFileName(std::string_view header_file) {
  // The header file's name ends in ".jhr" in some case: its "h" becomes
  // an "l" of the same case.
  std::string name(header_file);
  if (name.size() < 4) return std::string();
  char& letter = name[name.size() - 2];
  letter = letter == 'H' ? 'L' : 'l';
  return name;
}

bool JamBase::AnyFileExists(std::string_view base_path) {
  return std::any_of(kExtensions.begin(), kExtensions.end(), [&](std::string_view extension) {
    return FileExists(BaseFileName(base_path, extension));
  });
}

void JamBase::DisposeStreams() {
  header_stream_.reset();
  text_file_ = nullptr;
  stream_.reset();
  index_stream_.reset();
}

bool JamBase::HoldsLockOn(std::string_view header_file) const {
  return lock_.Held() && locked_file_ == header_file;
}

void JamBase::OpenStreams(std::string_view path, FileMode mode) {
  header_file_ = BaseFileName(path, ".jhr");
  // Index and headers are read and written record by record, and other
  // programs change records in place between two of our operations: they
  // go unbuffered, so that no read is served from a stale window. The
  // texts are only ever appended, and read in lines: they keep a buffer.
  index_stream_ = std::make_unique<BufferedFileStream>(BaseFileName(path, ".jdx"), mode, 0);
  auto text = std::make_unique<BufferedFileStream>(BaseFileName(path, ".jdt"), mode);
  text_file_ = text.get();
  stream_ = std::move(text);
  // A ".jhr" this object has locked is never made anew through another
  // handle: where locks are mandatory that handle may not touch byte 0.
  const FileMode header_mode =
      mode == FileMode::kCreate && HoldsLockOn(header_file_) ? FileMode::kOpenWrite : mode;
  header_stream_ = std::make_unique<BufferedFileStream>(header_file_, header_mode, 0);
}

bool JamBase::Open(std::string_view path) {
  // The common part makes the directory and records Path and State; its
  // result is the format's to decide.
  static_cast<void>(MessageBase::Open(path));
  DropBatch();
  DisposeStreams();

  const auto fail = [this](Status why) {
    state_ = BaseState::kOpenError;
    count_ = 0;
    DisposeStreams();
    return Fail(std::move(why));
  };
  for (const std::string_view extension : kExtensions) {
    const std::string file = BaseFileName(path, extension);
    if (TooLargeForStreams(file)) return fail(Status::Invalid(file, "larger than 2 GiB"));
  }

  OpenStreams(path, FileMode::kOpenWrite);
  // A missing or short ".jhr" fails the read as a whole (nothing partial
  // is taken); the header's contents are not judged here. Under our own
  // lock the header is read through the locking handle.
  std::array<std::uint8_t, JamBaseHeader::kEncodedSize> bytes{};
  if (HoldsLockOn(header_file_)) {
    if (lock_.ReadAt(0, bytes) || !header_stream_->Ok()) {
      return fail(lock_.LastError().ok()
                      ? StreamFailure(*header_stream_, header_file_, "cannot be read")
                      : lock_.LastError());
    }
  } else {
    header_stream_->Read(bytes.data(), bytes.size());
    if (!header_stream_->Ok())
      return fail(StreamFailure(*header_stream_, header_file_, "cannot be read"));
  }
  const std::optional<JamBaseHeader> header = JamBaseHeader::DecodeFrom(bytes);
  if (!header.has_value()) return fail(Status::Corruption(header_file_, "no base header"));
  base_header_ = *header;

  state_ = BaseState::kOpened;
  // A missing index reports size -1 and counts no messages; a trailing
  // partial record is not a message.
  const std::int32_t index_size = index_stream_->Size();
  // Only a missing index is an empty one: a count of 0 for an index that
  // could not be read would let the next append overwrite message 1.
  if (index_size < 0 && index_stream_->LastError().kind() != StatusKind::kNotFound) {
    return fail(StreamFailure(*index_stream_, BaseFileName(path, ".jdx"), "cannot be read"));
  }
  count_ =
      index_size < 0 ? 0 : index_size / static_cast<std::int32_t>(JamIndexRecord::kEncodedSize);
  return false;
}

bool JamBase::Create(std::string_view path) { return MakeEmpty(path, FileMode::kCreate); }

bool JamBase::EmptyInPlace(std::string_view path) {
  for (const std::string_view extension : kExtensions) {
    if (!FileExists(BaseFileName(path, extension))) return Create(path);
  }
  return MakeEmpty(path, FileMode::kOpenWrite);
}

bool JamBase::MakeEmpty(std::string_view path, FileMode mode) {
  static_cast<void>(MessageBase::Create(path));
  DropBatch();
  DisposeStreams();
  // Readers that cache a base notice changes by its ModCounter: the empty
  // base counts one more than the header it replaces, where that header
  // is readable (read now: Create truncates the file as it opens it).
  const auto counter_on_disk =
      [this](std::string_view header_file) -> std::optional<std::uint32_t> {
    if (!FileExists(header_file)) return std::nullopt;
    std::array<std::uint8_t, JamBaseHeader::kEncodedSize> bytes{};
    if (HoldsLockOn(header_file)) {
      if (lock_.ReadAt(0, bytes)) return std::nullopt;
    } else {
      BufferedFileStream stream(header_file, FileMode::kOpenRead, 0);
      stream.Read(bytes.data(), bytes.size());
      if (!stream.Ok()) return std::nullopt;
    }
    const std::optional<JamBaseHeader> header = JamBaseHeader::DecodeFrom(bytes);
    if (!header.has_value() || header->Signature != kJamSignature) return std::nullopt;
    return header->ModCounter;
  };
  const std::optional<std::uint32_t> old_counter = counter_on_disk(BaseFileName(path, ".jhr"));
  OpenStreams(path, mode);
  // The files are empty once the steps below are done, whatever base this
  // object held before.
  InitHeaders();
  if (old_counter.has_value()) base_header_.ModCounter = *old_counter + 1;
  base_header_.ActiveMsgs = 0;
  std::array<std::uint8_t, JamBaseHeader::kEncodedSize> bytes{};
  base_header_.EncodeTo(bytes.data());
  // The index first: the count is its size, so from here on the base
  // counts no message, whatever the other files still hold. Then the
  // header, synced at once (byte 0 is ours only through the handle that
  // locks it), and the texts; index and texts are synced last.
  std::array<EmptyFileStep, 3> steps = {{
      {.stream = index_stream_.get()},
      {.stream = header_stream_.get(),
       .lock = HoldsLockOn(header_file_) ? &lock_ : nullptr,
       .image = bytes,
       .sync = EmptyFileStep::Sync::kNow},
      {.stream = text_file_},
  }};
  const bool failed = WriteEmptyFilesInPlace(steps) || !header_stream_->Ok();
  const bool header_failed = steps[1].lock != nullptr && steps[1].failed;
  // A base that could not be emptied must not pass for an empty one: the
  // caller would report an erase that did not happen.
  if (failed) {
    const std::string_view what = "cannot be emptied";
    Status why = header_failed ? lock_.LastError()
                 : !index_stream_->Ok()
                     ? StreamFailure(*index_stream_, BaseFileName(path, ".jdx"), what)
                 : !stream_->Ok() ? StreamFailure(*stream_, BaseFileName(path, ".jdt"), what)
                                  : StreamFailure(*header_stream_, header_file_, what);
    if (why.ok()) why = Status(StatusKind::kIoError, header_file_, what);
    state_ = BaseState::kOpenError;
    count_ = 0;
    DisposeStreams();
    return Fail(std::move(why));
  }
  // Where it cannot be made the base is still whole; a reader makes it.
  (void)MakeEmptyFileIfMissing(LastReadFileName(header_file_));
  count_ = 0;
  state_ = BaseState::kCreated;
  left_count_ = -1;
  return false;
}

bool JamBase::IsValidMsg(std::int32_t number) {
  if (!Usable() || number < 1 || number > count_) return false;
  if (index_stream_ == nullptr || header_stream_ == nullptr) return false;

  bool valid = false;
  const std::int64_t record_offset = (static_cast<std::int64_t>(number) - 1) *
                                     static_cast<std::int64_t>(JamIndexRecord::kEncodedSize);
  if (record_offset <= std::numeric_limits<std::int32_t>::max()) {
    std::array<std::uint8_t, JamIndexRecord::kEncodedSize> bytes{};
    index_stream_->Seek(static_cast<std::int32_t>(record_offset));
    index_stream_->Read(bytes.data(), bytes.size());
    // A failed read (the index shrank since Open) leaves a zero-filled
    // record, which must not pass for a message at offset 0.
    const bool read_ok = index_stream_->Ok();
    index_record_ = JamIndexRecord::DecodeFrom(bytes).value_or(JamIndexRecord());
    if (read_ok) {
      // The offset is signed in the format: a deleted record reads -1. It
      // must leave room for the whole message header, and may not point
      // into the base header, where a later rewrite would destroy it.
      const auto header_offset =
          static_cast<std::int64_t>(static_cast<std::int32_t>(index_record_.HdrOffset));
      const std::int32_t header_file_size = header_stream_->Size();
      valid =
          header_offset >= static_cast<std::int64_t>(JamBaseHeader::kEncodedSize) &&
          header_offset + static_cast<std::int64_t>(JamMsgHeader::kEncodedSize) <= header_file_size;
    }
  }
  ResetStreams();
  return valid;
}

void JamBase::ResetStreams() {
  MessageBase::ResetStreams();
  if (index_stream_) index_stream_->ClearError();
  if (header_stream_) header_stream_->ClearError();
}

bool JamBase::LockBase(int timeout_ms) {
  if (!Usable() || header_file_.empty()) return true;
  if (lock_.Held()) return false;
  // Opened as the other writers open it, by its name.
  if (lock_.Acquire(header_file_, /*create=*/false, timeout_ms, /*follow_links=*/true) !=
      FileByteLock::Outcome::kLocked) {
    return true;
  }
  locked_file_ = header_file_;
  // A base made by a program that left it out gets one before we write.
  (void)MakeEmptyFileIfMissing(LastReadFileName(header_file_));
  return false;
}

}  // namespace qlr
