// Reading, writing and deleting single messages of a *.msg directory, and
// the mapping between the stored header and the Message record.
//
// Each operation opens the one file it needs and closes it before it
// returns, so no file is held open between operations.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "msgbase/message.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "platform/platform.h"
#include "support/coding.h"
#include "support/stream.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::int32_t kHeaderSize = static_cast<std::int32_t>(StoredMsgHeader::kEncodedSize);

template <std::size_t N>
std::string TextOf(const std::array<std::uint8_t, N>& field) {
  return DecodeFixedText(field, N);
}

// The bytes after the NUL keep what the field held before.
template <std::size_t N>
void StoreText(std::array<std::uint8_t, N>& field, std::string_view text) {
  EncodeFixedText(field.data(), N, text);
}

}  // namespace

std::optional<std::string> MsgDirBase::CheckedMsgFileName(std::int32_t number) {
  if (number < 1) {
    Fail(Status::Invalid(BaseDirectory(),
                         "message number " + std::to_string(number) + " is below 1"));
    return std::nullopt;
  }
  return MsgFileName(number);
}

void MsgDirBase::TransferHeader(bool to_message, Message& message) {
  MessageBase::TransferHeader(to_message, message);
  StoredMsgHeader& h = msg_header_buffer_;
  if (to_message) {
    message.From = TextOf(h.from_user_name);
    message.To = TextOf(h.to_user_name);
    message.Subject = TextOf(h.subject);
    message.Date = TextOf(h.date_time);
    message.TimesRead = h.times_read;
    message.DestNode = h.dest_node;
    message.OrigNode = h.orig_node;
    message.OrigNet = h.orig_net;
    message.DestNet = h.dest_net;
    message.Attr = h.attribute;
  } else {
    StoreText(h.from_user_name, message.From);
    StoreText(h.to_user_name, message.To);
    StoreText(h.subject, message.Subject);
    StoreText(h.date_time, message.Date);
    h.times_read = message.TimesRead;
    h.dest_node = message.DestNode;
    h.orig_node = message.OrigNode;
    h.orig_net = message.OrigNet;
    h.dest_net = message.DestNet;
    h.attribute = static_cast<std::uint16_t>(message.Attr & 0xFFFF);
  }
  // The two date words are never trusted nor kept: the date travels as the
  // FTS text, which the other programs of the area read.
  h.date_written = 0;
  h.date_arrived = 0;
  message.DateWritten = 0;
  message.DateArrived = 0;
}

bool MsgDirBase::ReadMessage(std::int32_t number, Message& message) {
  (void)MessageBase::ReadMessage(number, message);
  last_error_ = Status();
  if (!Usable()) return Fail(Status::Invalid(path_, "base not open"));
  const std::optional<std::string> checked = CheckedMsgFileName(number);
  if (!checked) return true;
  const std::string& name = *checked;
  if (!IsValidMsg(number)) return Fail(Status(StatusKind::kNotFound, name, "no such message"));
  stream_ = std::make_unique<BufferedFileStream>(name, FileMode::kOpenRead);
  Stream& file = *stream_;
  // The header is checked against the real size before anything of the
  // message changes: a short file is damaged, not an empty message.
  const std::int32_t size = file.Size();
  if (!file.Ok()) {
    const Status why = StreamFailure(file, name, "cannot be read");
    stream_.reset();
    return Fail(why);
  }
  if (size < kHeaderSize) {
    stream_.reset();
    return Fail(Status::Corruption(
        name, "file of " + std::to_string(size) + " bytes is shorter than the 190-byte header"));
  }
  std::array<std::uint8_t, StoredMsgHeader::kEncodedSize> bytes{};
  file.Read(bytes.data(), bytes.size());
  const std::optional<StoredMsgHeader> header = StoredMsgHeader::DecodeFrom(bytes);
  if (!file.Ok() || !header) {
    const Status why = StreamFailure(file, name, "header cannot be read");
    stream_.reset();
    return Fail(why);
  }

  message.Clear();
  msg_header_buffer_ = *header;
  message.TrailLines.DisposeAll();
  message.Kludges.DisposeAll();
  TransferHeader(true, message);
  // The text is every byte after the header. ReadText refuses an empty
  // one, which is no failure; with bytes there, a refusal means they could
  // not be read (or the file shrank meanwhile) and the text is missing.
  const bool text_failed = ReadText(message, kHeaderSize, size) && size > kHeaderSize;
  if (text_failed || !file.Ok()) {
    const Status why = StreamFailure(file, name, "text cannot be read");
    stream_.reset();
    return Fail(why);
  }
  message.SyncAttributes(true);
  message.CompleteAddresses();
  stream_.reset();
  message.MsgState = Message::kStateRead;
  return false;
}

MsgDirBase::~MsgDirBase() { DropBatch(); }

std::string MsgDirBase::NewTemporaryName() {
  // Unique among the writers of the directory: the process id tells
  // processes apart (their objects may well sit at the same address), this
  // object's address and the clock the objects of one process, the serial
  // the writes of one object. The suffix keeps the name out of the mask.
  const LocalTime now = Os().Now();
  const std::uint64_t mix =
      (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(this)) << 8) ^
      (static_cast<std::uint64_t>(now.hour * 3600 + now.minute * 60 + now.second) * 100 +
       static_cast<std::uint64_t>(now.hundredths));
  char token[64];
  std::snprintf(token, sizeof token, "qlr-%08x-%016llx-%u", Os().ProcessId(),
                static_cast<unsigned long long>(mix), ++temporary_serial_);
  return BaseDirectory() + token + std::string(kNewMsgFileSuffix);
}

bool MsgDirBase::WriteMessageFile(const std::string& file_name, Message& message, bool sync) {
  message.SyncAttributes(false);
  TransferHeader(false, message);
  RemoveStaleTemporary(file_name);
  auto owned = std::make_unique<BufferedFileStream>(file_name, FileMode::kCreateNew);
  BufferedFileStream& file = *owned;
  stream_ = std::move(owned);
  std::array<std::uint8_t, StoredMsgHeader::kEncodedSize> bytes{};
  msg_header_buffer_.EncodeTo(bytes.data());
  file.Write(bytes.data(), bytes.size());
  WriteText(message);
  // A stored text ends in a NUL: readers that scan for it must not run
  // past the end of the file.
  file.Write("\0", 1);
  // Synced before the file gets its number, so the name never reaches a
  // file whose bytes a crash could still lose; Close reports what only
  // closing reveals.
  if (Status why = CloseDurably(file, file_name, "cannot be written", sync); !why.ok()) {
    stream_.reset();
    if (Os().Stat(file_name)) (void)Os().DeleteFile(file_name);
    return Fail(why);
  }
  stream_.reset();
  return false;
}

bool MsgDirBase::PublishFrom(const std::string& temporary, std::int64_t first, bool exact,
                             std::int32_t* used) {
  for (std::int64_t number = first;; ++number) {
    if (number > std::numeric_limits<std::int32_t>::max()) {
      return Fail(Status::Invalid(BaseDirectory(), "no free message number left"));
    }
    const std::optional<std::string> name = CheckedMsgFileName(static_cast<std::int32_t>(number));
    if (!name) return true;
    const Status why = Os().RenameNoReplace(temporary, *name);
    if (why) {
      *used = static_cast<std::int32_t>(number);
      return false;
    }
    // Only a taken number moves the message on; any other refusal would
    // repeat for every number.
    if (exact || why.kind() != StatusKind::kBusy || !Os().Stat(*name)) {
      return Fail(why.ok() ? Status(StatusKind::kIoError, temporary, "rename failed") : why);
    }
  }
}

bool MsgDirBase::SyncBaseDirectory(bool whole_file_system) {
  const std::string directory = BaseDirectory();
  if (whole_file_system) {
    const Status why = Os().SyncFileSystem(directory);
    if (why) return false;
    if (why.kind() != StatusKind::kNotSupported) {
      return Fail(why.ok() ? Status(StatusKind::kIoError, directory, "sync failed") : why);
    }
  }
  const Status why = Os().SyncDirectory(directory);
  if (why) return false;
  return Fail(why.ok() ? Status(StatusKind::kIoError, directory, "sync failed") : why);
}

bool MsgDirBase::WriteMessage(std::int32_t number, Message& message) {
  (void)MessageBase::WriteMessage(number, message);
  last_error_ = Status();
  if (path_.empty()) return Fail(Status::Invalid("", "base not open"));
  const std::optional<std::string> name = CheckedMsgFileName(number);
  if (!name) return true;
  const std::optional<FileStatus> present = Os().Stat(*name);
  // Beyond Count the write is an append, even when the number has a file
  // by now: another program made it after this object counted.
  const bool append = number > count_;
  // A directory or device under a message's name is not a message to
  // replace; the write is refused before anything is made. (An append
  // passes over it like over any taken number.)
  if (present && !present->is_regular && !append) {
    return Fail(Status::Invalid(*name, "is not a regular file"));
  }
  // The new content goes to a file beside the message that no scan counts;
  // a stale one from an interrupted write is simply truncated. (Appends
  // through AppendMessage take names of their own, so that writers that
  // aim at the same number never share one.)
  const std::string temporary = *name + std::string(kNewMsgFileSuffix);
  if (append || !present) {
    // Nothing to replace. Inside Count this fills a gap, and only that
    // number will do.
    if (WriteMessageFile(temporary, message, true)) return true;
    std::int32_t used = 0;
    if (PublishFrom(temporary, number, !append, &used)) {
      (void)Os().DeleteFile(temporary);
      return true;
    }
    if (SyncBaseDirectory(false)) return true;
    message.MsgState = Message::kStateWritten;
    // Like every other write, a gap filled counts one more.
    if (!append && count_ < std::numeric_limits<std::int32_t>::max()) ++count_;
    count_ = std::max(count_, used);
    return false;
  }

  if (WriteMessageFile(temporary, message, true)) return true;
  if (const Status why = Os().Rename(temporary, *name); !why) {
    (void)Os().DeleteFile(temporary);
    return Fail(why.ok() ? Status(StatusKind::kIoError, temporary, "rename failed") : why);
  }
  // The rename is durable only once the directory is. The new message is
  // in place when this fails, but it may not survive a crash: the write
  // is not reported as done.
  if (const Status why = Os().SyncDirectory(BaseDirectory()); !why) {
    return Fail(why.ok() ? Status(StatusKind::kIoError, BaseDirectory(), "sync failed") : why);
  }
  message.MsgState = Message::kStateWritten;
  if (count_ < std::numeric_limits<std::int32_t>::max()) ++count_;
  return false;
}

bool MsgDirBase::AppendMessage(Message& message) {
  last_error_ = Status();
  if (path_.empty()) return Fail(Status::Invalid("", "base not open"));
  // A directory that could not be listed has no known numbers: it takes
  // no message.
  if (state_ == BaseState::kOpenError) return Fail(Status::Invalid(path_, "base not open"));
  const std::string temporary = NewTemporaryName();
  if (batching_) {
    if (WriteMessageFile(temporary, message, false)) return true;
    batch_.push_back(BatchFile{temporary});
    message.MsgState = Message::kStateWritten;
    return false;
  }
  if (WriteMessageFile(temporary, message, true)) return true;
  // Count is the highest number seen at Open or written since; a number
  // that another program took meanwhile only moves this message on, so
  // the directory need not be listed for every message.
  std::int32_t used = 0;
  if (PublishFrom(temporary, static_cast<std::int64_t>(count_) + 1, false, &used)) {
    (void)Os().DeleteFile(temporary);
    return true;
  }
  if (SyncBaseDirectory(false)) return true;
  message.MsgState = Message::kStateWritten;
  count_ = std::max(count_, used);
  return false;
}

bool MsgDirBase::BeginBatch() {
  last_error_ = Status();
  if (path_.empty()) return Fail(Status::Invalid("", "base not open"));
  if (batching_) return Fail(Status::Invalid(BaseDirectory(), "a batch is already open"));
  batching_ = true;
  return false;
}

void MsgDirBase::DropBatch() {
  for (const BatchFile& file : batch_) {
    if (file.number == 0) {
      if (Os().Stat(file.temporary)) (void)Os().DeleteFile(file.temporary);
      continue;
    }
    // Published: removed only while the number still names the file that
    // was written here, never a message that another program put there.
    const std::string name = MsgFileName(file.number);
    const std::optional<FileStatus> status = Os().Stat(name);
    if (status && status->volume == file.volume && status->file_index == file.file_index &&
        (file.volume != 0 || file.file_index != 0)) {
      (void)Os().DeleteFile(name);
    }
  }
  batch_.clear();
}

bool MsgDirBase::EndBatch() {
  last_error_ = Status();
  if (!batching_) return Fail(Status::Invalid(BaseDirectory(), "no batch is open"));
  batching_ = false;
  if (batch_.empty()) return false;
  const auto fail = [this] {
    const Status why = last_error_;
    DropBatch();
    last_error_ = why;
    return true;
  };
  // The data of every file first, in one step where the platform can.
  const std::string directory = BaseDirectory();
  if (const Status synced = Os().SyncFileSystem(directory); !synced) {
    if (synced.kind() != StatusKind::kNotSupported) {
      Fail(synced);
      return fail();
    }
    for (const BatchFile& file : batch_) {
      // Windows flushes a file only through a handle that may write it.
      auto handle = Os().OpenFile(file.temporary, OpenMode::kReadWrite);
      Status flushed = handle.status();
      if (flushed) flushed = handle->Sync();
      if (flushed) flushed = handle->Close();
      if (!flushed) {
        Fail(flushed);
        return fail();
      }
    }
  }
  // Numbered as single appends are, from Count on: a number that another
  // program took meanwhile only moves the file on. (A listing per batch
  // would look at every file of the directory, which grows with the base
  // and made a long copy quadratic.)
  std::int64_t next = static_cast<std::int64_t>(count_) + 1;
  for (BatchFile& file : batch_) {
    const std::optional<FileStatus> status = Os().Stat(file.temporary);
    if (!status) {
      Fail(Status(StatusKind::kNotFound, file.temporary, "batch file vanished"));
      return fail();
    }
    file.volume = status->volume;
    file.file_index = status->file_index;
    std::int32_t used = 0;
    if (PublishFrom(file.temporary, next, false, &used)) return fail();
    file.number = used;
    next = static_cast<std::int64_t>(used) + 1;
  }
  if (SyncBaseDirectory(true)) return fail();
  count_ = std::max(count_, batch_.back().number);
  batch_.clear();
  return false;
}

bool MsgDirBase::DeleteMessage(std::int32_t number) {
  (void)MessageBase::DeleteMessage(number);
  last_error_ = Status();
  if (!Usable()) return Fail(Status::Invalid(path_, "base not open"));
  const std::optional<std::string> checked = CheckedMsgFileName(number);
  if (!checked) return true;
  const std::string& name = *checked;
  if (!IsValidMsg(number)) return Fail(Status(StatusKind::kNotFound, name, "no such message"));
  if (const Status why = Os().DeleteFile(name); !why) {
    return Fail(why.ok() ? Status(StatusKind::kIoError, name, "cannot be erased") : why);
  }
  // Like a rename, the removal is durable only once the directory is: a
  // crash could bring the message back, so until then it is not done.
  return SyncBaseDirectory(false);
}

}  // namespace qlr
