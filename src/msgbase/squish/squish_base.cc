#include "msgbase/squish/squish_base.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string>

#include "msgbase/empty_files_in_place.h"
#include "msgbase/file_set_check.h"
#include "util/file_name_case.h"
#include "util/files.h"

namespace qlr {
namespace {

constexpr std::string_view kDataExtension = SquishBase::kExtensions[0];
constexpr std::string_view kIndexExtension = SquishBase::kExtensions[1];

constexpr std::uint64_t kIndexRecordBytes = SquishIndexRecord::kEncodedSize;

}  // namespace

SquishBase::SquishBase() { SquishBase::SetBaseDefaults(); }

SquishBase::~SquishBase() {
  // Nothing is written back: every message operation writes the header
  // itself, so the files are complete whenever no operation runs.
  stream_.reset();
  path_ = std::string_view();
  count_ = 0;
  state_ = BaseState::kClosed;
  ResetHeaders();
  index_stream_.reset();
  UnlockBase();
}

void SquishBase::SetBaseDefaults() {
  base_header_.len = SquishBaseHeader::kEncodedSize;
  if (base_header_.uid == 0) base_header_.uid = kSquishFirstUid;
  base_header_.sz_frame_header = SquishFrameHeader::kEncodedSize;
  if (base_header_.end_frame == 0) base_header_.end_frame = kSquishFirstFrame;
  frame_header_.frame_id = kSquishFrameId;
}

void SquishBase::ResetHeaders() {
  base_header_ = SquishBaseHeader();
  msg_header_ = SquishMsgHeader();
  index_record_ = SquishIndexRecord();
  SquishBase::SetBaseDefaults();
}

void SquishBase::CloseStreams() {
  stream_.reset();
  index_stream_.reset();
}

bool SquishBase::FailOpen(Status why) {
  CloseStreams();
  state_ = BaseState::kOpenError;
  return Fail(std::move(why));
}

std::string SquishBase::FileName(std::string_view extension) const {
  return FileOfSet(path_, extension);
}

void SquishBase::ResetStreams() {
  MessageBase::ResetStreams();
  if (index_stream_) index_stream_->ClearError();
}

bool SquishBase::AnyFileExists(std::string_view base_path) {
  for (const std::string_view extension : kExtensions) {
    if (FileExists(FileOfSet(base_path, extension))) return true;
  }
  return false;
}

bool SquishBase::Open(std::string_view path) {
  // The common part only makes sure the directory exists; the files decide.
  (void)MessageBase::Open(path);
  CloseStreams();
  damage_ = Status::Ok();
  const std::string data_name = FileOfSet(path, kDataExtension);
  const std::string index_name = FileOfSet(path, kIndexExtension);
  // Without a buffer: other programs write these files between two of our
  // reads, and a buffer would keep showing what they held before.
  stream_ = std::make_unique<BufferedFileStream>(data_name, FileMode::kOpenWrite, 0);
  index_stream_ = std::make_unique<BufferedFileStream>(index_name, FileMode::kOpenWrite, 0);

  // Size is -1 for a file the 32-bit signed stream positions cannot reach
  // (2 GiB and more). Such a base is refused as a whole: its header's
  // offsets could point where no read or write of ours can go, and a
  // wrapped offset would overwrite the wrong frame.
  const std::int32_t data_size = stream_->Size();
  if (!stream_->Ok()) return FailOpen(StreamFailure(*stream_, data_name, "cannot be read"));
  if (data_size < static_cast<std::int32_t>(SquishBaseHeader::kEncodedSize)) {
    return FailOpen(Status::Corruption(data_name, "shorter than the 256-byte base header"));
  }
  // A missing ".sqi" (its stream latched the open error) is tolerated:
  // it holds no record. One that is too large is not.
  // Any other failure to open it is no empty index: a count of 0 would
  // let the next append overwrite message 1.
  std::int32_t index_size = 0;
  if (index_stream_->Ok()) {
    index_size = index_stream_->Size();
    if (index_size < 0) {
      return FailOpen(StreamFailure(*index_stream_, index_name, "cannot be read"));
    }
  } else if (index_stream_->LastError().kind() != StatusKind::kNotFound) {
    return FailOpen(StreamFailure(*index_stream_, index_name, "cannot be read"));
  }

  std::array<std::uint8_t, SquishBaseHeader::kEncodedSize> bytes{};
  if (lock_.Held()) {
    // Where locks are mandatory only the handle that holds the lock may
    // read the locked byte.
    if (lock_.ReadAt(0, bytes)) return FailOpen(lock_.LastError());
  } else {
    // Where locks are mandatory the header cannot be read while a writer
    // holds the lock on its first byte: wait for it as a writer would.
    bool retry = false;
    (void)RetryWhileBusy(kMessageLockTimeoutMs, [&] {
      if (retry) stream_->ClearError();
      retry = true;
      stream_->Seek(0);
      stream_->Read(bytes.data(), bytes.size());
      return stream_->Ok() ? Status::Ok() : stream_->LastError();
    });
  }
  const std::optional<SquishBaseHeader> header = SquishBaseHeader::DecodeFrom(bytes);
  if (!stream_->Ok()) return FailOpen(StreamFailure(*stream_, data_name, "cannot be read"));
  if (!header) return FailOpen(Status::Corruption(data_name, "no base header"));
  base_header_ = *header;

  // The count is the header's NumMsg, but never more than the index can
  // hold: a reader reaches message N only through index record N (12
  // bytes each). A NumMsg beyond that names messages that cannot be read;
  // counting them would rotate a base for messages it does not have (a
  // hostile 0x7FFFFFFF) and size work by them. So the count is what the
  // index supports, and the difference is reported as damage. An index
  // longer than NumMsg is no damage: an append or a deletion cut short
  // leaves records beyond the count, which the next write replaces.
  // Both files stay below 2 GiB, so the count fits the signed Count.
  const std::uint64_t records = static_cast<std::uint64_t>(index_size) / kIndexRecordBytes;
  std::uint64_t count = std::min<std::uint64_t>(header->num_msg, records);
  if (count < header->num_msg) {
    damage_ =
        Status::Corruption(data_name, "the header counts " + std::to_string(header->num_msg) +
                                          " messages, the index holds " + std::to_string(count));
  } else if (count >= 2) {
    // A deletion cut short after it moved the index records down leaves
    // the last frame named twice; the files then hold one message fewer.
    SquishIndexRecord last;
    SquishIndexRecord before;
    if (!ReadIndexRecord(static_cast<std::int32_t>(count), &last) &&
        !ReadIndexRecord(static_cast<std::int32_t>(count - 1), &before) &&
        last.offset >= kSquishFirstFrame && last.offset == before.offset) {
      --count;
    }
    ResetStreams();
  }
  state_ = BaseState::kOpened;
  count_ = static_cast<std::int32_t>(count);
  return false;
}

bool SquishBase::Create(std::string_view path) { return MakeEmpty(path, /*in_place=*/false); }

bool SquishBase::EmptyInPlace(std::string_view path) { return MakeEmpty(path, /*in_place=*/true); }

bool SquishBase::MakeEmpty(std::string_view path, bool in_place) {
  (void)MessageBase::Create(path);
  CloseStreams();
  const std::string data_name = FileOfSet(path, kDataExtension);
  const std::string index_name = FileOfSet(path, kIndexExtension);
  const FileMode mode = in_place && FileExists(data_name) && FileExists(index_name)
                            ? FileMode::kOpenWrite
                            : FileMode::kCreate;
  // Unbuffered, as Open has them.
  auto data_file = std::make_unique<BufferedFileStream>(data_name, mode, 0);
  auto index_file = std::make_unique<BufferedFileStream>(index_name, mode, 0);
  BufferedFileStream& data = *data_file;
  BufferedFileStream& index = *index_file;
  stream_ = std::move(data_file);
  index_stream_ = std::move(index_file);
  // The header first, on its own: from here on the base counts no
  // message, whatever the files still hold, and should it fail nothing is
  // cut.
  if (WriteEmptyHeader(data)) {
    return FailOpen(StreamFailure(*stream_, data_name, "cannot be written"));
  }
  // Then the index and the frames after the header, each synced once both
  // are cut (the data file's sync also covers the header written through
  // this stream).
  std::array<EmptyFileStep, 2> steps = {{
      {.stream = &index},
      {.stream = &data, .at = static_cast<std::int32_t>(SquishBaseHeader::kEncodedSize)},
  }};
  static_cast<void>(WriteEmptyFilesInPlace(steps));
  if (!stream_->Ok()) return FailOpen(StreamFailure(*stream_, data_name, "cannot be written"));
  if (!index_stream_->Ok()) {
    return FailOpen(StreamFailure(*index_stream_, index_name, "cannot be written"));
  }
  count_ = 0;
  damage_ = Status::Ok();
  state_ = BaseState::kCreated;
  return false;
}

bool SquishBase::WriteEmptyHeader(BufferedFileStream& data) {
  base_header_.len = SquishBaseHeader::kEncodedSize;
  base_header_.sz_frame_header = SquishFrameHeader::kEncodedSize;
  base_header_.end_frame = kSquishFirstFrame;
  base_header_.begin_frame = kSquishFirstFrame;
  base_header_.last_frame = 0;
  base_header_.high_water = kSquishFirstHighWater;
  base_header_.uid = kSquishFirstUid;
  // The files are empty, so no message and no free frame can be counted,
  // whatever a header opened earlier by this object said. The settings
  // other programs keep in the header (name, limits) stay as they are.
  base_header_.num_msg = 0;
  base_header_.high_msg = 0;
  base_header_.free_frame = 0;
  base_header_.last_free_frame = 0;

  std::array<std::uint8_t, SquishBaseHeader::kEncodedSize> bytes{};
  base_header_.EncodeTo(bytes.data());
  // Written through the lock's handle where it is held; the frames after
  // it are cut later by MakeEmpty. The header also empties a base after
  // its copy: one that did not reach the file must not pass for an
  // emptied base.
  EmptyFileStep header{.stream = &data,
                       .lock = lock_.Held() ? &lock_ : nullptr,
                       .image = bytes,
                       .truncate = false,
                       .sync = EmptyFileStep::Sync::kLater};
  return WriteEmptyFilesInPlace({&header, 1}) || !index_stream_->Ok();
}

bool SquishBase::LockBase(int timeout_ms) {
  if (lock_.Held()) return false;
  if (!Usable()) {
    lock_error_ = Status::Invalid(path_, "base not open");
    return true;
  }
  const std::string data_name = FileName(kDataExtension);
  // Opened as the other writers open it, by its name; a system without
  // byte-range locks leaves nothing that keeps them out: no write then.
  if (lock_.Acquire(data_name, /*create=*/false, timeout_ms, /*follow_links=*/true) !=
      FileByteLock::Outcome::kLocked) {
    lock_error_ = lock_.LastError();
    return true;
  }
  lock_error_ = Status::Ok();
  // The writers reach ".sqi" through a handle of their own too, one
  // without a buffer. A missing index leaves none, and writes refuse.
  index_file_ = Os().OpenFile(FileName(kIndexExtension), OpenMode::kReadWrite);
  return false;
}

void SquishBase::UnlockBase() {
  // A batch does not outlive the lock it was written under.
  in_batch_ = false;
  batch_records_.clear();
  if (index_file_ != nullptr) (void)index_file_->Close();
  index_file_.reset();
  lock_.Release();
}

}  // namespace qlr
