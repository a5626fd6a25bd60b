// The FTN text reader: the bytes are a stored message text. The first two
// bytes pick a second, partial range to read; the message read is then
// composed again, read back, and given to the code that takes addresses
// and attributes from its kludges.
#include <memory>

#include "harness_support.h"
#include "harnesses.h"
#include "msgbase/message.h"
#include "msgbase/message_base.h"
#include "support/stream.h"

namespace qlr::fuzz {
namespace {

// The smallest base with an FTN text: its Stream holds the given bytes.
class TextBase : public FtnTextBase {
 public:
  explicit TextBase(std::string_view bytes) {
    auto stream = std::make_unique<MemoryStream>();
    stream->Write(bytes.data(), bytes.size());
    stream_ = std::move(stream);
  }
  std::string Contents() {
    stream_->ClearError();
    std::string bytes(static_cast<std::size_t>(stream_->Size()), '\0');
    stream_->Seek(0);
    if (!bytes.empty()) stream_->Read(bytes.data(), bytes.size());
    return bytes;
  }
};

void Digest(Message& message) {
  message.CompleteAddresses();
  message.SyncAttributes(true);
  message.SyncAttributes(false);
}

}  // namespace

int FuzzReadText(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  const std::uint8_t start_pick = input.Byte();
  const std::uint8_t end_pick = input.Byte();
  const std::string_view text = input.Rest();
  const auto length = static_cast<std::int32_t>(text.size());
  TextBase base(text);

  Message whole;
  if (!base.ReadText(whole, 0, length)) {
    Digest(whole);
    TextBase composed{std::string_view()};
    composed.WriteText(whole);
    const std::string bytes = composed.Contents();
    Message reread;
    (void)composed.ReadText(reread, 0, static_cast<std::int32_t>(bytes.size()));
  }
  // A range inside the text, or one that reaches past its end.
  const std::int32_t start = length == 0 ? 0 : start_pick % (length + 1);
  const std::int32_t end = start + end_pick;
  Message part;
  (void)base.ReadText(part, start, end);
  return 0;
}

}  // namespace qlr::fuzz
