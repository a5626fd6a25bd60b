// Reading, writing and deleting single messages of a *.msg directory, and
// the mapping between the stored header and the Message record.
//
// Each operation opens the one file it needs and closes it before it
// returns, so no file is held open between operations.
#include <array>
#include <cstdint>
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

// The reason a stream failed, with the file's name when it gave none.
Status StreamFailure(const Stream& stream, std::string_view path, std::string_view what) {
  if (!stream.LastError().ok()) return stream.LastError();
  return Status(StatusKind::kIoError, path, what);
}

}  // namespace

bool MsgDirBase::Fail(Status status) {
  last_error_ = std::move(status);
  return true;
}

std::optional<ShortString> MsgDirBase::CheckedMsgFileName(std::int32_t number) {
  if (number < 1) {
    Fail(Status::Invalid(BaseDirectory(),
                         "message number " + std::to_string(number) + " is below 1"));
    return std::nullopt;
  }
  const ShortString name = MsgFileName(number);
  // MsgFileName cuts at 255 characters; a cut name is another file.
  const std::string whole = std::string(BaseDirectory().view()) + std::to_string(number) + "." +
                            std::string(JustExtension(JustFileName(path_)).view());
  if (name.view() != whole) {
    Fail(Status::Invalid(whole, "message file name longer than 255 characters"));
    return std::nullopt;
  }
  return name;
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
  const std::optional<ShortString> checked = CheckedMsgFileName(number);
  if (!checked) return true;
  const ShortString& name = *checked;
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
  message.MsgState = 2;
  return false;
}

bool MsgDirBase::WriteMessage(std::int32_t number, Message& message) {
  (void)MessageBase::WriteMessage(number, message);
  last_error_ = Status();
  if (path_.empty()) return Fail(Status::Invalid("", "base not open"));
  const std::optional<ShortString> name = CheckedMsgFileName(number);
  if (!name) return true;

  message.SyncAttributes(false);
  TransferHeader(false, message);

  // The new content goes to a file beside the message that no scan counts;
  // a stale one from an interrupted write is simply truncated.
  const std::string temporary = std::string(name->view()) + std::string(kNewMsgFileSuffix);
  auto owned = std::make_unique<BufferedFileStream>(temporary, FileMode::kCreate);
  BufferedFileStream& file = *owned;
  stream_ = std::move(owned);
  std::array<std::uint8_t, StoredMsgHeader::kEncodedSize> bytes{};
  msg_header_buffer_.EncodeTo(bytes.data());
  file.Write(bytes.data(), bytes.size());
  WriteText(message);
  // Synced before the rename, so the name never reaches a file whose bytes
  // a crash could still lose; Close reports what only closing reveals.
  bool failed = file.SyncToDisk();
  failed = file.Close() || failed;
  if (failed) {
    const Status why = StreamFailure(file, temporary, "cannot be written");
    stream_.reset();
    if (Os().Stat(temporary)) (void)Os().DeleteFile(temporary);
    return Fail(why);
  }
  stream_.reset();
  if (!Os().Rename(temporary, *name)) {
    const Status why = Os().LastError();
    (void)Os().DeleteFile(temporary);
    return Fail(why.ok() ? Status(StatusKind::kIoError, temporary, "rename failed") : why);
  }
  // The rename is durable only once the directory is. The new message is
  // in place when this fails, but it may not survive a crash: the write
  // is not reported as done.
  if (!Os().SyncDirectory(BaseDirectory())) {
    const Status why = Os().LastError();
    return Fail(why.ok() ? Status(StatusKind::kIoError, BaseDirectory(), "sync failed") : why);
  }
  message.MsgState = 3;
  if (count_ < std::numeric_limits<std::int32_t>::max()) ++count_;
  return false;
}

bool MsgDirBase::DeleteMessage(std::int32_t number) {
  (void)MessageBase::DeleteMessage(number);
  last_error_ = Status();
  if (!Usable()) return Fail(Status::Invalid(path_, "base not open"));
  const std::optional<ShortString> checked = CheckedMsgFileName(number);
  if (!checked) return true;
  const ShortString& name = *checked;
  if (!IsValidMsg(number)) return Fail(Status(StatusKind::kNotFound, name, "no such message"));
  if (!Os().DeleteFile(name)) {
    const Status why = Os().LastError();
    return Fail(why.ok() ? Status(StatusKind::kIoError, name, "cannot be erased") : why);
  }
  return false;
}

}  // namespace qlr
