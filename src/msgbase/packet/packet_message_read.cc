// Reading one packed message into a Message.
//
// The message's bytes are known from the boundary scan; every read here is
// held inside them and inside the file as it is now (another program may
// have shortened it since the scan), so a damaged packet gives a shorter
// message, never a read into the next one.
#include <algorithm>
#include <cstddef>
#include <string>

#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "util/strings.h"

namespace qlr {
namespace {

// The longest name or line kept; the rest of a longer one is skipped.
constexpr std::size_t kMaxKept = 255;
// Names and lines are scanned in pieces of this size, so a hostile string
// of megabytes is skipped without being held.
constexpr std::size_t kScanPiece = 256;

// Reads the strings at the start of one message, never beyond `end`.
class BoundedReader {
 public:
  BoundedReader(Stream& in, std::int32_t end) : in_(in), end_(end) {}

  // A name: the bytes up to a NUL or a CR, which ends it and is not kept
  // (some writers end names with a CR). A name that reaches the end of the
  // message takes what is there; the message has nothing after it then.
  ShortString ReadName() { return ReadUntil(std::string_view("\0\r", 2)); }

  // A text line, ended by CR or LF; CR LF and LF CR count as one line end.
  ShortString ReadLine() {
    const ShortString line = ReadUntil("\r\n");
    if (last_end_ != '\0' && in_.Position() < end_) {
      char next = 0;
      in_.Read(&next, 1);
      const char pair = last_end_ == '\r' ? '\n' : '\r';
      if (in_.Ok() && next != pair) in_.Seek(in_.Position() - 1);
    }
    return line;
  }

  // True once a read of the file failed (not the end of the message).
  bool Failed() const { return !in_.Ok(); }

 private:
  ShortString ReadUntil(std::string_view delimiters) {
    std::string kept;
    last_end_ = '\0';
    while (true) {
      const std::int32_t at = in_.Position();
      if (at < 0 || at >= end_) break;
      std::string piece;
      const std::size_t room = static_cast<std::size_t>(end_ - at);
      const ReadStop stop = in_.ReadUntilAny(delimiters, &piece, std::min(room, kScanPiece));
      if (stop == ReadStop::kDelimiter) {
        last_end_ = piece.back();
        piece.pop_back();
      }
      if (kept.size() < kMaxKept) kept.append(piece, 0, kMaxKept - kept.size());
      if (stop != ReadStop::kLimit) break;
    }
    return ShortString(kept);
  }

  Stream& in_;
  std::int32_t end_;
  char last_end_ = '\0';
};

}  // namespace

bool PacketBase::ReadMessage(std::int32_t number, Message& message) {
  (void)MessageBase::ReadMessage(number, message);
  if (!Usable() || !IsValidMsg(number)) return true;
  if (number >= static_cast<std::int32_t>(boundaries_.size())) return true;
  const std::int32_t size = stream_->Size();
  if (size < 0) return true;
  message.Clear();

  // The message runs from its type word through the NUL at its boundary;
  // its fixed part starts after the type word.
  const std::int32_t start = boundaries_[static_cast<std::size_t>(number - 1)] + 3;
  const std::int32_t closing_nul = boundaries_[static_cast<std::size_t>(number)];
  // Nothing reads the closing byte itself: a subject without text ends
  // there anyway, and in a damaged packet it may be no NUL at all.
  const std::int32_t text_end = std::min(closing_nul, size);

  // A message too short for its fixed part (a cut or damaged last one)
  // gets zeros for the missing bytes.
  pkt_msg_buffer_.fill(0);
  stream_->Seek(std::min(start, text_end));
  if (start < text_end) {
    std::string fixed;
    const std::size_t room = static_cast<std::size_t>(text_end - start);
    (void)stream_->ReadUpTo(&fixed, std::min(room, pkt_msg_buffer_.size()));
    std::copy(fixed.begin(), fixed.end(), pkt_msg_buffer_.begin());
  }

  BoundedReader reader(*stream_, text_end);
  message.To = reader.ReadName();
  message.From = reader.ReadName();
  message.Subject = reader.ReadName();

  // The area tag of an echomail message is its first text line.
  const std::int32_t text_start = stream_->Position();
  if (text_start >= 0 && text_start < text_end) {
    const ShortString line = reader.ReadLine();
    if (UpperStr(line.view().substr(0, 5)) == "AREA:") {
      message.Area = line.view().substr(5);
    } else {
      stream_->Seek(text_start);
    }
  }
  // The reads above stopped at the message's end at the latest; only a
  // failure of the file itself is left to report. Unlike a cut message it
  // is not passed off as what the message holds.
  if (reader.Failed()) return true;

  message.TrailLines.DisposeAll();
  message.Kludges.DisposeAll();
  TransferHeader(true, message);
  const std::int32_t body_start = stream_->Position();
  if (body_start < text_end && ReadText(message, body_start, text_end)) return true;
  message.SyncAttributes(true);
  message.CompleteAddresses();
  message.MsgState = Message::kStateRead;
  return false;
}

}  // namespace qlr
