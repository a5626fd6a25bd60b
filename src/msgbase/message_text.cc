// Splitting a stored FTN text into message fields, and composing it again.
//
// The composed form: the netmail kludges FMPT, TOPT and INTL (not for
// echomail, whose addresses travel elsewhere), MSGID, REPLY, FLAGS, PID,
// TID and the other kept kludges, the body exactly as held, the tear line,
// the origin line and the trailing control lines. Every composed line ends
// in a single CR; the body brings its own line ends.
#include "msgbase/message.h"
#include "msgbase/message_base.h"
#include "msgbase/message_text_split.h"
#include "util/strings.h"

namespace qlr {
namespace {

// A composed line is a short string, cut at 255 characters, and a CR.
void WriteLine(Stream& out, std::string_view prefix, std::string_view value) {
  const ShortString line = ShortString(prefix) + value;
  out.Write(line.data(), line.size());
  out.Write("\r", 1);
}

void WriteKludgeLines(Stream& out, const Collection<KludgeLine>& lines) {
  for (const auto& item : lines) WriteLine(out, item->Prefix.view(), item->Value.view());
}

}  // namespace

bool MessageBase::ReadText(Message& message, std::int32_t start, std::int32_t end) {
  if (!stream_ || start < 0 || start >= end) return true;
  // A latched error makes Size -1, so a stream in trouble fails here too.
  if (stream_->Size() < end) return true;
  ResetStreams();

  MemoryStream& text = message.Text;
  text.ClearError();
  text.Seek(0);
  stream_->Seek(start);
  text.CopyFromStream(*stream_, end - start);
  text.Truncate();
  if (!stream_->Ok() || !text.Ok()) {
    // The file could not be read after all, or there was no memory for
    // the text: no half text. The stream keeps its error for the caller.
    text.ClearError();
    text.Seek(0);
    text.Truncate();
    return true;
  }
  StripTrailingNuls(text);
  SplitText(message);
  return false;
}

void FtnTextBase::WriteText(Message& message) {
  if (!stream_) return;
  Stream& out = *stream_;
  const Message& m = message;
  if (m.Area.empty()) {
    if (m.OrigPoint != 0) WriteLine(out, "\001FMPT ", LongToStr(m.OrigPoint));
    if (m.DestPoint != 0) WriteLine(out, "\001TOPT ", LongToStr(m.DestPoint));
    if (!m.Intl.empty()) WriteLine(out, "\001INTL ", m.Intl);
  }
  if (!m.MsgId.empty()) WriteLine(out, "\001MSGID: ", m.MsgId);
  if (!m.ReplyId.empty()) WriteLine(out, "\001REPLY: ", m.ReplyId);
  if (!m.Flags.empty()) WriteLine(out, "\001FLAGS ", m.Flags);
  if (!m.Pid.empty()) WriteLine(out, "\001PID: ", m.Pid);
  if (!m.Tid.empty()) WriteLine(out, "\001TID: ", m.Tid);
  WriteKludgeLines(out, m.Kludges);

  MemoryStream& body = message.Text;
  body.ClearError();
  const std::int32_t size = body.Size();
  body.Seek(0);
  out.CopyFromStream(body, size);

  if (!m.TearLine.empty()) WriteLine(out, "--- ", m.TearLine);
  // No blank before the parenthesis: a read origin keeps its own.
  if (!m.Origin.empty() || !m.Area.empty()) {
    WriteLine(out, " * Origin: ", m.Origin + "(" + m.OrigAddressText() + ")");
  }
  WriteKludgeLines(out, m.TrailLines);
}

}  // namespace qlr
