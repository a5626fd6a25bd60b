#include "harness_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "msgbase/format_registry.h"
#include "msgbase/formats/all_formats.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "util/paths.h"

namespace qlr::fuzz {

std::uint8_t InputReader::Byte() {
  if (bytes_.empty()) return 0;
  const auto byte = static_cast<std::uint8_t>(bytes_.front());
  bytes_.remove_prefix(1);
  return byte;
}

std::string_view InputReader::Prefixed() {
  const std::size_t low = Byte();
  const std::size_t high = Byte();
  const std::size_t length = std::min(low | (high << 8), bytes_.size());
  const std::string_view piece = bytes_.substr(0, length);
  bytes_.remove_prefix(length);
  return piece;
}

std::string_view InputReader::Rest() {
  const std::string_view rest = bytes_;
  bytes_ = std::string_view();
  return rest;
}

std::string PrefixedPiece(std::string_view piece) {
  const std::size_t length = std::min<std::size_t>(piece.size(), 0xFFFF);
  std::string out;
  out += static_cast<char>(length & 0xFF);
  out += static_cast<char>(length >> 8);
  out += piece.substr(0, length);
  return out;
}

namespace {

std::unique_ptr<testing::MemoryPlatform> NewPlatform() {
  auto platform = std::make_unique<testing::MemoryPlatform>();
  platform->SetBackslashIsSeparator(PathSeparator() == '\\');
  return platform;
}

}  // namespace

MemoryDisk::MemoryDisk() : platform_(NewPlatform()), installed_(*platform_) {}

MemoryDisk::~MemoryDisk() = default;

std::string MemoryDisk::Path(std::string_view relative) {
  std::string path(1, PathSeparator());
  for (const char c : relative) path += c == '/' ? PathSeparator() : c;
  return path;
}

void MemoryDisk::Write(std::string_view relative, std::string_view bytes) {
  platform_->WriteFileBytes(Path(relative), bytes);
}

void InstallFormatsOnce() {
  static const bool installed = [] {
    InstallBuiltInFormats();
    return true;
  }();
  (void)installed;
}

namespace {

// A message with every kind of field set, for bases where nothing could
// be read.
void MakeUpMessage(Message& m) {
  m.Clear();
  m.From = "Fuzz Sender";
  m.To = "All";
  m.Subject = "written by the fuzz harness";
  m.Date = "05 Mar 99  23:04:10";
  m.AssignOrigAddress("2:5020/1.3");
  m.AssignDestAddress("1:234/56");
  m.Area = "FUZZ.ECHO";
  m.TearLine = "fuzz";
  m.Origin = "Nowhere (2:5020/1.3)";
  m.AddVia("2:5020/1 @20990101.000000 fuzz");
  static constexpr std::string_view kBody = "Line one\rLine two\r";
  m.Text.Write(kBody.data(), kBody.size());
}

// Reads every number a program would try, and some it should refuse.
// The last message read, or null when none could be.
std::unique_ptr<Message> ReadEveryMessage(MessageBase& base) {
  std::unique_ptr<Message> last;
  const std::int32_t count = base.Count();
  const std::int32_t bound = std::min(count, kMaxMessagesRead);
  auto read = [&](std::int32_t number) {
    (void)base.IsValidMsg(number);
    auto message = std::make_unique<Message>();
    if (!base.ReadMessage(number, *message)) last = std::move(message);
  };
  read(-1);
  read(0);
  for (std::int32_t number = 1; number <= bound; ++number) read(number);
  if (count > bound) read(count);
  if (count < std::numeric_limits<std::int32_t>::max()) read(count + 1);
  return last;
}

void ReadPacketHeader(MessageBase& base) {
  ShortString text;
  base.GetOrigAddress(text);
  base.GetDestAddress(text);
  base.GetPassword(text);
}

}  // namespace

void ExerciseBase(MemoryDisk& disk, std::string_view spec, std::size_t input_size,
                  std::uint8_t delete_pick, bool packet) {
  InstallFormatsOnce();
  // The check reads the hostile files first, as they were left: it must
  // neither crash nor change a byte.
  const BaseReference reference = ParseBaseReference(spec);
  if (reference.format != nullptr && reference.format->check != nullptr) {
    const std::uint64_t used = disk.platform().UsedBytes();
    (void)reference.format->check(reference.location);
    Require(disk.platform().UsedBytes() == used, "a check writes nothing");
  }
  {
    std::unique_ptr<MessageBase> base;
    if (!OpenBase(reference, &base).ok()) return;
    if (packet) ReadPacketHeader(*base);
    std::unique_ptr<Message> message = ReadEveryMessage(*base);
    if (message == nullptr) {
      message = std::make_unique<Message>();
      MakeUpMessage(*message);
    }
    const std::int32_t count = base->Count();
    if (count < std::numeric_limits<std::int32_t>::max()) {
      (void)base->WriteMessage(count + 1, *message);
    }
    // Room for the message (whose text came from the input, or is the
    // made-up one), the copy a rewrite of the file may keep while it
    // works, and the format's own records.
    const std::uint64_t budget = 3 * std::uint64_t{input_size} + 64 * 1024;
    Require(disk.platform().UsedBytes() <= budget, "one write grows the base by its message");
    const std::int32_t after_write = base->Count();
    if (after_write > 0) {
      (void)base->DeleteMessage(delete_pick % std::min(after_write, kMaxMessagesRead) + 1);
    }
  }
  // What the next run of a program would find.
  const std::unique_ptr<MessageBase> again = OpenBase(spec);
  if (again == nullptr) return;
  if (packet) ReadPacketHeader(*again);
  (void)ReadEveryMessage(*again);
}

}  // namespace qlr::fuzz

namespace qlr::fuzz {

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz harness: property broken: %s\n", what);
  std::abort();
}

}  // namespace qlr::fuzz
