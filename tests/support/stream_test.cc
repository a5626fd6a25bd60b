#include "support/stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::FailMode;
using testing::FaultInjectingPlatform;
using testing::PlatformOp;
using testing::ScratchDir;

using namespace std::string_literals;

// Bytes that differ from their neighbours and from zero, so misplaced or
// zeroed bytes show.
std::string Pattern(std::size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(1 + (i * 7 + seed) % 251);
  return s;
}

// Reads n bytes into a destination that starts out non-zero, so a read
// that leaves bytes untouched is told apart from one that zero-fills.
std::string ReadBytes(Stream& stream, std::size_t n) {
  std::string out(n, '\xAA');
  stream.Read(out.data(), n);
  return out;
}

void WriteBytes(Stream& stream, std::string_view bytes) {
  stream.Write(bytes.data(), bytes.size());
}

// Compares long byte strings and reports only the first difference.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at offset " << i;
}

// Everything in the stream, read from position 0 (moves the position).
std::string Contents(Stream& stream) {
  const std::int32_t size = stream.Size();
  if (size < 0) return "<no size>";
  stream.Seek(0);
  return ReadBytes(stream, static_cast<std::size_t>(size));
}

// --- the contract shared by both kinds of stream ---------------------------

// Each kind makes a healthy stream holding `content` at position 0.
template <std::size_t kBuffer>
struct FileKind {
  static std::unique_ptr<Stream> Make(const ScratchDir& dir, std::string_view content) {
    dir.WriteFile("data.bin", content);
    return std::make_unique<BufferedFileStream>(dir.Path("data.bin"), FileMode::kOpenWrite,
                                                kBuffer);
  }
};

template <std::size_t kBlock>
struct MemoryKind {
  static std::unique_ptr<Stream> Make(const ScratchDir&, std::string_view content) {
    auto stream = std::make_unique<MemoryStream>(0, kBlock);
    WriteBytes(*stream, content);
    stream->Seek(0);
    return stream;
  }
};

template <typename Kind>
class StreamContractTest : public ::testing::Test {
 protected:
  std::unique_ptr<Stream> Make(std::string_view content) {
    auto stream = Kind::Make(dir_, content);
    EXPECT_EQ(stream->Status(), kStreamOk);
    return stream;
  }

  ScratchDir dir_;
};

// Small buffers and blocks make every test cross their boundaries; a file
// buffer of 0 is the unbuffered case.
using StreamKinds = ::testing::Types<FileKind<kDefaultFileBuffer>, FileKind<16>, FileKind<0>,
                                     MemoryKind<0>, MemoryKind<16>>;
TYPED_TEST_SUITE(StreamContractTest, StreamKinds);

TYPED_TEST(StreamContractTest, ReadsAndWritesSequentially) {
  auto stream = this->Make(Pattern(100));
  EXPECT_EQ(ReadBytes(*stream, 30), Pattern(100).substr(0, 30));
  EXPECT_EQ(ReadBytes(*stream, 70), Pattern(100).substr(30));
  EXPECT_EQ(stream->Position(), 100);
  WriteBytes(*stream, "tail");
  EXPECT_EQ(stream->Position(), 104);
  EXPECT_EQ(stream->Size(), 104);
  EXPECT_EQ(Contents(*stream), Pattern(100) + "tail");
  EXPECT_EQ(stream->Status(), kStreamOk);
}

TYPED_TEST(StreamContractTest, ShortReadIsAllOrNothing) {
  auto stream = this->Make("ABCDEF");
  stream->Seek(4);
  // Two bytes remain: asking for four gives four zeros, not "EF\0\0".
  EXPECT_EQ(ReadBytes(*stream, 4), std::string(4, '\0'));
  EXPECT_EQ(stream->Status(), kStreamReadError);
  stream->ClearError();
  // The failed read consumed nothing.
  EXPECT_EQ(stream->Position(), 4);
  EXPECT_EQ(ReadBytes(*stream, 2), "EF");
  EXPECT_EQ(stream->Status(), kStreamOk);
}

TYPED_TEST(StreamContractTest, ShortReadSpanningBufferedWritesIsAllOrNothing) {
  auto stream = this->Make(Pattern(40));
  stream->Seek(40);
  WriteBytes(*stream, "xyz");
  stream->Seek(35);
  EXPECT_EQ(ReadBytes(*stream, 9), std::string(9, '\0'));
  EXPECT_EQ(stream->Status(), kStreamReadError);
}

TYPED_TEST(StreamContractTest, ReadAtOrBeyondTheEndFails) {
  for (const std::int32_t position : {6, 7, 1000}) {
    SCOPED_TRACE(position);
    auto stream = this->Make("ABCDEF");
    stream->Seek(position);
    EXPECT_EQ(stream->Position(), position);
    EXPECT_EQ(ReadBytes(*stream, 1), std::string(1, '\0'));
    EXPECT_EQ(stream->Status(), kStreamReadError);
  }
}

TYPED_TEST(StreamContractTest, LatchedStatusMakesEveryOperationInert) {
  auto stream = this->Make("0123456789");
  stream->Seek(3);
  stream->SetError(kStreamWriteError, 77);
  EXPECT_EQ(stream->Status(), kStreamWriteError);
  EXPECT_EQ(stream->ErrorDetail(), 77);

  // The whole destination is zeroed, although the data is there.
  EXPECT_EQ(ReadBytes(*stream, 60), std::string(60, '\0'));
  WriteBytes(*stream, "XYZ");
  stream->Seek(8);
  stream->Truncate();
  EXPECT_EQ(stream->Position(), -1);
  EXPECT_EQ(stream->Size(), -1);
  stream->Flush();
  // Nothing above cleared or replaced the first error.
  EXPECT_EQ(stream->Status(), kStreamWriteError);
  EXPECT_EQ(stream->ErrorDetail(), 77);

  stream->ClearError();
  EXPECT_EQ(stream->Status(), kStreamOk);
  EXPECT_EQ(stream->ErrorDetail(), 0);
  EXPECT_EQ(stream->Position(), 3);
  EXPECT_EQ(stream->Size(), 10);
  EXPECT_EQ(Contents(*stream), "0123456789");
}

TYPED_TEST(StreamContractTest, ErrorFromAFailedReadLatches) {
  auto stream = this->Make("0123456789");
  stream->Seek(8);
  EXPECT_EQ(ReadBytes(*stream, 3), std::string(3, '\0'));
  ASSERT_EQ(stream->Status(), kStreamReadError);
  stream->Seek(0);
  EXPECT_EQ(ReadBytes(*stream, 2), std::string(2, '\0'));
  WriteBytes(*stream, "ab");
  EXPECT_EQ(stream->Size(), -1);
  EXPECT_EQ(stream->Status(), kStreamReadError);
  stream->ClearError();
  EXPECT_EQ(stream->Position(), 8);
  EXPECT_EQ(Contents(*stream), "0123456789");
}

TYPED_TEST(StreamContractTest, NegativeSeekPositionsAtZero) {
  auto stream = this->Make("ABCDEF");
  stream->Seek(4);
  stream->Seek(-5);
  EXPECT_EQ(stream->Position(), 0);
  EXPECT_EQ(ReadBytes(*stream, 1), "A");
  stream->Seek(std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(stream->Position(), 0);
  EXPECT_EQ(stream->Status(), kStreamOk);
}

TYPED_TEST(StreamContractTest, TruncateCutsAtThePosition) {
  auto stream = this->Make(Pattern(300));
  stream->Seek(100);
  stream->Truncate();
  EXPECT_EQ(stream->Size(), 100);
  EXPECT_EQ(stream->Position(), 100);
  EXPECT_EQ(Contents(*stream), Pattern(100));
  EXPECT_EQ(stream->Status(), kStreamOk);
}

TYPED_TEST(StreamContractTest, TruncateDropsBufferedWritesBeyondThePosition) {
  auto stream = this->Make("");
  WriteBytes(*stream, "keep-drop");
  stream->Seek(4);
  stream->Truncate();
  EXPECT_EQ(stream->Size(), 4);
  EXPECT_EQ(Contents(*stream), "keep");
}

TYPED_TEST(StreamContractTest, TruncateBeyondTheEndExtendsWithZeros) {
  auto stream = this->Make("abc");
  stream->Seek(20);
  stream->Truncate();
  EXPECT_EQ(stream->Size(), 20);
  EXPECT_EQ(Contents(*stream), "abc" + std::string(17, '\0'));
}

TYPED_TEST(StreamContractTest, WritingBeyondTheEndLeavesAZeroGap) {
  auto stream = this->Make("abc");
  stream->Seek(37);
  WriteBytes(*stream, "XY");
  EXPECT_EQ(stream->Size(), 39);
  EXPECT_EQ(Contents(*stream), "abc" + std::string(34, '\0') + "XY");
}

TYPED_TEST(StreamContractTest, DataCutByTruncateDoesNotComeBack) {
  auto stream = this->Make(Pattern(40));
  stream->Seek(5);
  stream->Truncate();
  stream->Seek(30);
  WriteBytes(*stream, "Z");
  EXPECT_EQ(Contents(*stream), Pattern(5) + std::string(25, '\0') + "Z");
}

TYPED_TEST(StreamContractTest, ReadsAndSizeSeeWritesNotYetFlushed) {
  auto stream = this->Make(Pattern(50));
  stream->Seek(10);
  WriteBytes(*stream, "mid");
  stream->Seek(50);
  WriteBytes(*stream, "end");
  EXPECT_EQ(stream->Size(), 53);
  stream->Seek(8);
  const std::string p = Pattern(50);
  EXPECT_EQ(ReadBytes(*stream, 7), p.substr(8, 2) + "mid" + p.substr(13, 2));
  stream->Seek(48);
  EXPECT_EQ(ReadBytes(*stream, 5), p.substr(48) + "end");
  // Overwrite the data just read and read it again.
  stream->Seek(49);
  WriteBytes(*stream, "!!");
  stream->Seek(47);
  EXPECT_EQ(ReadBytes(*stream, 6), p.substr(47, 2) + "!!nd");
  EXPECT_EQ(stream->Status(), kStreamOk);
}

TYPED_TEST(StreamContractTest, LargeTransfersRoundTrip) {
  auto stream = this->Make("");
  const std::string big = Pattern(70000, 3);
  WriteBytes(*stream, big.substr(0, 5));
  WriteBytes(*stream, big.substr(5, 40000));
  WriteBytes(*stream, big.substr(40005));
  EXPECT_EQ(stream->Size(), 70000);
  stream->Seek(3);
  EXPECT_TRUE(SameBytes(ReadBytes(*stream, 50000), big.substr(3, 50000)));
  EXPECT_TRUE(SameBytes(ReadBytes(*stream, 19997), big.substr(50003)));
  EXPECT_EQ(stream->Status(), kStreamOk);
}

TYPED_TEST(StreamContractTest, ZeroLengthTransfersChangeNothing) {
  auto stream = this->Make("abc");
  stream->Seek(2);
  stream->Read(nullptr, 0);
  stream->Write(nullptr, 0);
  EXPECT_EQ(stream->Position(), 2);
  EXPECT_EQ(stream->Size(), 3);
  EXPECT_EQ(stream->Status(), kStreamOk);
}

TYPED_TEST(StreamContractTest, ShortReadSaysWhatWasWantedAndAvailable) {
  struct Case {
    std::int32_t position;
    std::size_t wanted;
    const char* detail;
  };
  const Case cases[] = {
      {4, 4, "read error: 4 bytes wanted at position 4, 2 available"},
      {6, 1, "read error: 1 bytes wanted at position 6, 0 available"},
      {1000, 3, "read error: 3 bytes wanted at position 1000, 0 available"},
      {0, 60, "read error: 60 bytes wanted at position 0, 6 available"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.detail);
    auto stream = this->Make("ABCDEF");
    EXPECT_TRUE(stream->LastError().ok());
    stream->Seek(c.position);
    ReadBytes(*stream, c.wanted);
    EXPECT_EQ(stream->Status(), kStreamReadError);
    EXPECT_EQ(stream->LastError().kind(), StatusKind::kIoError);
    EXPECT_EQ(stream->LastError().detail(), c.detail);
    stream->ClearError();
    EXPECT_TRUE(stream->LastError().ok());
  }
}

TYPED_TEST(StreamContractTest, ErrorSetByHandHasAReasonUntilCleared) {
  auto stream = this->Make("abc");
  stream->SetError(kStreamWriteError, 3);
  EXPECT_FALSE(stream->LastError().ok());
  // A later failure does not replace the first reason.
  stream->Read(nullptr, 0);
  ReadBytes(*stream, 10);
  EXPECT_EQ(stream->LastError().detail(), "write error");
  stream->ClearError();
  EXPECT_TRUE(stream->LastError().ok());
}

// --- scanning for a delimiter -----------------------------------------------

// Uses the scan every stream inherits, which goes through Read and Seek.
class DefaultScanStream : public MemoryStream {
 public:
  using MemoryStream::MemoryStream;
  ReadStop ReadUntilAny(std::string_view delimiters, std::string* out, std::size_t max) override {
    return Stream::ReadUntilAny(delimiters, out, max);
  }
};

struct DefaultScanKind {
  static std::unique_ptr<Stream> Make(const ScratchDir&, std::string_view content) {
    auto stream = std::make_unique<DefaultScanStream>(0, 16);
    WriteBytes(*stream, content);
    stream->Seek(0);
    return stream;
  }
};

template <typename Kind>
class ReadUntilTest : public StreamContractTest<Kind> {};

// Buffers of 1, 2 and 7 bytes put delimiters at every offset of a window.
using ScanKinds =
    ::testing::Types<FileKind<1>, FileKind<2>, FileKind<7>, FileKind<kDefaultFileBuffer>,
                     FileKind<0>, MemoryKind<0>, MemoryKind<3>, DefaultScanKind>;
TYPED_TEST_SUITE(ReadUntilTest, ScanKinds);

const char* StopName(ReadStop stop) {
  switch (stop) {
    case ReadStop::kDelimiter:
      return "delimiter";
    case ReadStop::kLimit:
      return "limit";
    case ReadStop::kEnd:
      return "end";
    case ReadStop::kError:
      return "error";
  }
  return "?";
}

TYPED_TEST(ReadUntilTest, StopsAtDelimiterLimitOrEnd) {
  struct Case {
    const char* name;
    std::string content;
    std::int32_t start;
    std::string delimiters;
    std::size_t max;
    std::string read;
    ReadStop stop;
  };
  const Case cases[] = {
      {"delimiter", "abc\ndef", 0, "\n", kReadAll, "abc\n", ReadStop::kDelimiter},
      {"last line without delimiter", "abc\ndef", 4, "\n", kReadAll, "def", ReadStop::kEnd},
      {"delimiter first", "\nabc", 0, "\n", kReadAll, "\n", ReadStop::kDelimiter},
      {"delimiter last", "abcdefghij\n", 0, "\n", kReadAll, "abcdefghij\n", ReadStop::kDelimiter},
      {"empty stream", "", 0, "\n", kReadAll, "", ReadStop::kEnd},
      {"at the end", "abc", 3, "\n", kReadAll, "", ReadStop::kEnd},
      {"beyond the end", "abc", 10, "\n", kReadAll, "", ReadStop::kEnd},
      {"limit before delimiter", "abcdef\n", 0, "\n", 3, "abc", ReadStop::kLimit},
      {"delimiter is the last byte allowed", "abc\n", 0, "\n", 4, "abc\n", ReadStop::kDelimiter},
      {"limit one short of the delimiter", "abc\n", 0, "\n", 3, "abc", ReadStop::kLimit},
      {"limit 0", "abc\n", 1, "\n", 0, "", ReadStop::kLimit},
      {"end before limit", "abc", 0, "\n", 5, "abc", ReadStop::kEnd},
      {"NUL-terminated string", "name\0rest"s, 0, "\0"s, 36, "name\0"s, ReadStop::kDelimiter},
      {"either line end", "ab\rcd\n", 0, "\r\n", kReadAll, "ab\r", ReadStop::kDelimiter},
      {"either line end, LF first", "ab\ncd\r", 0, "\r\n", kReadAll, "ab\n", ReadStop::kDelimiter},
      {"no delimiters: up to max", "abcdef", 1, "", 4, "bcde", ReadStop::kLimit},
      {"no delimiters: to the end", "abcdef", 1, "", 10, "bcdef", ReadStop::kEnd},
      {"delimiter byte with the high bit",
       "ab\xFF"
       "cd",
       0, "\xFF", kReadAll, "ab\xFF", ReadStop::kDelimiter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto stream = this->Make(c.content);
    stream->Seek(c.start);
    std::string out = "pre";  // appended to, not replaced
    EXPECT_STREQ(StopName(stream->ReadUntilAny(c.delimiters, &out, c.max)), StopName(c.stop));
    EXPECT_EQ(out, "pre" + c.read);
    // Nothing latches, not even at the end of the data.
    EXPECT_EQ(stream->Status(), kStreamOk);
    const auto moved = static_cast<std::int32_t>(c.read.size());
    EXPECT_EQ(stream->Position(), c.start + moved);
  }
}

TYPED_TEST(ReadUntilTest, SplitsLinesOfEveryLengthAcrossBufferBoundaries) {
  // Lines of 1 to 17 bytes: with any buffer, some delimiters fall on the
  // last byte of a window, some on the first, and long lines span windows.
  std::string content;
  std::vector<std::string> lines;
  for (std::size_t length = 1; length <= 17; ++length) {
    std::string line(length - 1, static_cast<char>('a' + length));
    line += '\r';
    lines.push_back(line);
    content += line;
  }
  content += "tail";
  for (const std::int32_t start : {0, 1, 5}) {
    SCOPED_TRACE(start);
    auto stream = this->Make(content);
    stream->Seek(start);
    std::string expected_rest = content.substr(static_cast<std::size_t>(start));
    std::string got;
    ReadStop stop = ReadStop::kDelimiter;
    std::vector<std::string> pieces;
    while (stop == ReadStop::kDelimiter && pieces.size() < 40) {
      got.clear();
      stop = stream->ReadUntil('\r', &got, kReadAll);
      pieces.push_back(got);
    }
    EXPECT_EQ(stop, ReadStop::kEnd);
    std::string joined;
    for (const std::string& piece : pieces) joined += piece;
    EXPECT_EQ(joined, expected_rest);
    EXPECT_EQ(pieces.back(), "tail");
    if (start == 0) {
      pieces.pop_back();
      EXPECT_EQ(pieces, lines);
    }
    EXPECT_EQ(stream->Position(), static_cast<std::int32_t>(content.size()));
    EXPECT_EQ(stream->Status(), kStreamOk);
  }
}

TYPED_TEST(ReadUntilTest, LineLongerThanTheBufferInPiecesOfMax) {
  const std::string line = std::string(5000, 'x') + "\n";
  auto stream = this->Make(line + "next");
  std::string out;
  std::size_t pieces = 0;
  ReadStop stop;
  do {
    stop = stream->ReadUntil('\n', &out, 300);
    ++pieces;
  } while (stop == ReadStop::kLimit && pieces < 100);
  EXPECT_EQ(stop, ReadStop::kDelimiter);
  EXPECT_EQ(pieces, 17u);  // 16 x 300 bytes, then the last 201
  EXPECT_TRUE(SameBytes(out, line));
  out.clear();
  EXPECT_EQ(stream->ReadUntil('\n', &out, kReadAll), ReadStop::kEnd);
  EXPECT_EQ(out, "next");
}

TYPED_TEST(ReadUntilTest, ScanRightAfterAWriteKeepsTheWrittenBytes) {
  auto stream = this->Make("0123456789\nnext\n");
  EXPECT_EQ(ReadBytes(*stream, 2), "01");
  // No Seek in between: the written bytes may still be in the buffer when
  // the scan moves it on.
  WriteBytes(*stream, "AB");
  std::string out;
  EXPECT_EQ(stream->ReadUntil('\n', &out, kReadAll), ReadStop::kDelimiter);
  EXPECT_EQ(out, "456789\n");
  WriteBytes(*stream, "NE");
  out.clear();
  EXPECT_EQ(stream->ReadUpTo(&out, 10), ReadStop::kEnd);
  EXPECT_EQ(out, "xt\n");
  EXPECT_EQ(Contents(*stream), "01AB456789\nNExt\n");
}

TYPED_TEST(ReadUntilTest, NullDestinationSkips) {
  auto stream = this->Make("skip this\nkeep");
  EXPECT_EQ(stream->ReadUntil('\n', nullptr, kReadAll), ReadStop::kDelimiter);
  EXPECT_EQ(stream->Position(), 10);
  EXPECT_EQ(ReadBytes(*stream, 4), "keep");
}

TYPED_TEST(ReadUntilTest, LatchedErrorReadsNothing) {
  auto stream = this->Make("abc\ndef");
  stream->Seek(1);
  stream->SetError(kStreamReadError, 9);
  std::string out = "kept";
  EXPECT_EQ(stream->ReadUntil('\n', &out, kReadAll), ReadStop::kError);
  EXPECT_EQ(stream->ReadUpTo(&out, 3), ReadStop::kError);
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(stream->Status(), kStreamReadError);
  EXPECT_EQ(stream->ErrorDetail(), 9);
  stream->ClearError();
  EXPECT_EQ(stream->Position(), 1);
}

TYPED_TEST(ReadUntilTest, SeesWritesNotYetFlushedAndMixesWithReadAndWrite) {
  auto stream = this->Make("aaaa\nbbbb\n");
  stream->Seek(2);
  WriteBytes(*stream, "X\nY");  // the file is now "aaX\nYbbbb\n"
  stream->Seek(0);
  std::string out;
  EXPECT_EQ(stream->ReadUntil('\n', &out, kReadAll), ReadStop::kDelimiter);
  EXPECT_EQ(out, "aaX\n");
  EXPECT_EQ(ReadBytes(*stream, 2), "Yb");
  out.clear();
  EXPECT_EQ(stream->ReadUntil('\n', &out, kReadAll), ReadStop::kDelimiter);
  EXPECT_EQ(out, "bbb\n");

  // Appended data, scanned right after it was written.
  WriteBytes(*stream, "cc\ndd");
  stream->Seek(10);
  out.clear();
  EXPECT_EQ(stream->ReadUntil('\n', &out, kReadAll), ReadStop::kDelimiter);
  EXPECT_EQ(out, "cc\n");
  out.clear();
  EXPECT_EQ(stream->ReadUntil('\n', &out, kReadAll), ReadStop::kEnd);
  EXPECT_EQ(out, "dd");
  // A write goes where the scan stopped.
  WriteBytes(*stream, "!");
  stream->Seek(6);
  out.clear();
  EXPECT_EQ(stream->ReadUntil('d', &out, 2), ReadStop::kLimit);
  EXPECT_EQ(out, "bb");
  WriteBytes(*stream, "__");
  EXPECT_EQ(Contents(*stream), "aaX\nYbbb__cc\ndd!");
  EXPECT_EQ(stream->Status(), kStreamOk);
}

// --- copying between streams ------------------------------------------------

// Records the size of every Read and Write, in order, across both streams.
class RecordingStream : public MemoryStream {
 public:
  explicit RecordingStream(std::vector<std::string>* log) : log_(log) {}
  void Read(void* buffer, std::size_t n) override {
    log_->push_back("R" + std::to_string(n));
    MemoryStream::Read(buffer, n);
  }
  void Write(const void* buffer, std::size_t n) override {
    log_->push_back("W" + std::to_string(n));
    MemoryStream::Write(buffer, n);
  }

 private:
  std::vector<std::string>* log_;
};

TEST(CopyFromStreamTest, MovesDataInPiecesOfAtMost16384Bytes) {
  struct Case {
    std::int32_t n;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {0, {}},
      {1, {"R1", "W1"}},
      {16384, {"R16384", "W16384"}},
      {16385, {"R16384", "W16384", "R1", "W1"}},
      {40000, {"R16384", "W16384", "R16384", "W16384", "R7232", "W7232"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    const std::string data = Pattern(40010, 5);
    std::vector<std::string> log;
    RecordingStream source(&log);
    source.MemoryStream::Write(data.data(), data.size());
    source.Seek(7);
    RecordingStream target(&log);
    target.MemoryStream::Write("head", 4);

    target.CopyFromStream(source, c.n);

    EXPECT_EQ(log, c.calls);
    EXPECT_EQ(source.Position(), 7 + c.n);
    EXPECT_TRUE(
        SameBytes(Contents(target), "head" + data.substr(7, static_cast<std::size_t>(c.n))));
    EXPECT_EQ(source.Status(), kStreamOk);
    EXPECT_EQ(target.Status(), kStreamOk);
  }
}

TEST(CopyFromStreamTest, GoesOnAfterTheSourceRunsOut) {
  MemoryStream source;
  const std::string data = Pattern(20000);
  WriteBytes(source, data);
  source.Seek(0);
  MemoryStream target;
  target.CopyFromStream(source, 30000);
  // The first piece arrives; the second read fails and is written as
  // zeros; the source's error stays in the source.
  EXPECT_EQ(source.Status(), kStreamReadError);
  EXPECT_EQ(target.Status(), kStreamOk);
  EXPECT_TRUE(
      SameBytes(Contents(target), data.substr(0, 16384) + std::string(30000 - 16384, '\0')));
}

TEST(CopyFromStreamTest, BetweenFiles) {
  ScratchDir dir;
  const std::string data = Pattern(50000, 9);
  dir.WriteFile("in.bin", data);
  {
    BufferedFileStream source(dir.Path("in.bin"), FileMode::kOpenRead);
    BufferedFileStream target(dir.Path("out.bin"), FileMode::kCreate);
    source.Seek(100);
    target.CopyFromStream(source, 40000);
    EXPECT_EQ(source.Status(), kStreamOk);
    EXPECT_EQ(target.Status(), kStreamOk);
  }
  EXPECT_TRUE(SameBytes(dir.ReadFile("out.bin"), data.substr(100, 40000)));
}

// --- the buffered file stream -----------------------------------------------

std::uintmax_t SizeOnDisk(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? static_cast<std::uintmax_t>(-1) : size;
}

TEST(BufferedFileStreamTest, MissingFileLeavesAnInertStream) {
  ScratchDir dir;
  BufferedFileStream stream(dir.Path("missing.bin"), FileMode::kOpenRead);
  EXPECT_EQ(stream.Status(), kStreamInitError);
  EXPECT_EQ(ReadBytes(stream, 60), std::string(60, '\0'));
  EXPECT_EQ(stream.Size(), -1);
  EXPECT_EQ(stream.Status(), kStreamInitError);

  stream.ClearError();
  EXPECT_EQ(stream.Status(), kStreamOk);
  // There is still no file: every operation fails and latches again.
  EXPECT_EQ(ReadBytes(stream, 4), std::string(4, '\0'));
  EXPECT_EQ(stream.Status(), kStreamOsError);
  const std::vector<void (*)(Stream&)> operations = {
      [](Stream& s) { EXPECT_EQ(s.Size(), -1); },
      [](Stream& s) { EXPECT_EQ(s.Position(), -1); },
      [](Stream& s) { s.Seek(0); },
      [](Stream& s) { s.Truncate(); },
      [](Stream& s) { WriteBytes(s, "x"); },
  };
  for (auto operation : operations) {
    stream.ClearError();
    operation(stream);
    EXPECT_EQ(stream.Status(), kStreamOsError);
  }
  stream.ClearError();
  EXPECT_TRUE(stream.SyncToDisk());
  EXPECT_FALSE(std::filesystem::exists(dir.Path("missing.bin")));
}

TEST(BufferedFileStreamTest, FailedOpenKeepsTheReasonWithThePath) {
  ScratchDir dir;
  FaultInjectingPlatform faulty;
  struct Case {
    const char* name;
    bool inject;  // fail through the fault injector rather than for real
    FileMode mode;
  };
  const Case cases[] = {
      {"missing file", false, FileMode::kOpenRead},
      {"missing file for writing", false, FileMode::kOpenWrite},
      {"open refused", true, FileMode::kCreate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Path("absent.bin");
    std::optional<ScopedPlatform> installed;
    if (c.inject) {
      installed.emplace(faulty);
      faulty.FailCall(PlatformOp::kOpenFile, 1, FailMode::kOnce);
    }
    BufferedFileStream stream(path, c.mode);
    EXPECT_EQ(stream.Status(), kStreamInitError);
    EXPECT_FALSE(stream.LastError().ok());
    EXPECT_EQ(stream.LastError().path(), path);
    EXPECT_NE(stream.LastError().ToString().find(path), std::string::npos);

    // Without a file every later operation says so, with the path.
    stream.ClearError();
    EXPECT_TRUE(stream.LastError().ok());
    std::string out;
    EXPECT_EQ(stream.ReadUntil('\n', &out, kReadAll), ReadStop::kError);
    EXPECT_EQ(stream.Status(), kStreamOsError);
    EXPECT_EQ(stream.LastError().kind(), StatusKind::kInvalidArgument);
    EXPECT_EQ(stream.LastError().path(), path);
  }
}

TEST(BufferedFileStreamTest, OpenModes) {
  ScratchDir dir;
  dir.WriteFile("f.bin", "old content");
  {
    BufferedFileStream read_only(dir.Path("f.bin"), FileMode::kOpenRead);
    EXPECT_EQ(Contents(read_only), "old content");
    // The handle is read-only: the write is taken into the buffer and
    // fails when it reaches the file.
    read_only.Seek(0);
    WriteBytes(read_only, "new");
    read_only.Flush();
    EXPECT_EQ(read_only.Status(), kStreamOsError);
  }
  EXPECT_EQ(dir.ReadFile("f.bin"), "old content");
  {
    BufferedFileStream read_write(dir.Path("f.bin"), FileMode::kOpenWrite);
    EXPECT_EQ(read_write.Size(), 11);
    WriteBytes(read_write, "NEW");
  }
  EXPECT_EQ(dir.ReadFile("f.bin"), "NEW content");
  {
    BufferedFileStream created(dir.Path("f.bin"), FileMode::kCreate);
    EXPECT_EQ(created.Status(), kStreamOk);
    EXPECT_EQ(created.Size(), 0);
  }
  EXPECT_EQ(dir.ReadFile("f.bin"), "");
  BufferedFileStream missing(dir.Path("absent.bin"), FileMode::kOpenWrite);
  EXPECT_EQ(missing.Status(), kStreamInitError);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("absent.bin")));
}

TEST(BufferedFileStreamTest, BufferedDataReachesTheFileBeforeSizeSeekTruncateAndClose) {
  ScratchDir dir;
  const std::string path = dir.Path("f.bin");
  auto stream = std::make_unique<BufferedFileStream>(path, FileMode::kCreate);
  WriteBytes(*stream, "0123456789");
  EXPECT_EQ(SizeOnDisk(path), 0u) << "small writes are expected to be buffered";
  EXPECT_EQ(stream->Size(), 10);
  EXPECT_EQ(SizeOnDisk(path), 10u);

  WriteBytes(*stream, "abc");
  stream->Seek(2);
  EXPECT_EQ(SizeOnDisk(path), 13u);

  stream->Seek(13);
  WriteBytes(*stream, "defg");
  stream->Seek(15);
  stream->Truncate();
  EXPECT_EQ(dir.ReadFile("f.bin"), "0123456789abcde");

  WriteBytes(*stream, "XY");
  stream->Flush();
  EXPECT_EQ(dir.ReadFile("f.bin"), "0123456789abcdeXY");
  WriteBytes(*stream, "Z");
  stream.reset();
  EXPECT_EQ(dir.ReadFile("f.bin"), "0123456789abcdeXYZ");
}

TEST(BufferedFileStreamTest, TruncateShortensTheFileOnDisk) {
  ScratchDir dir;
  dir.WriteFile("f.bin", Pattern(300));
  {
    BufferedFileStream stream(dir.Path("f.bin"), FileMode::kOpenWrite);
    stream.Seek(100);
    stream.Truncate();
  }
  EXPECT_EQ(dir.ReadFile("f.bin"), Pattern(100));
}

TEST(BufferedFileStreamTest, WritesAcceptedBeforeAnErrorStillReachTheFile) {
  ScratchDir dir;
  {
    BufferedFileStream stream(dir.Path("f.bin"), FileMode::kCreate);
    WriteBytes(stream, "accepted");
    ReadBytes(stream, 1);  // past the end
    ASSERT_EQ(stream.Status(), kStreamReadError);
  }
  EXPECT_EQ(dir.ReadFile("f.bin"), "accepted");
}

TEST(BufferedFileStreamTest, SingleByteTransfersGoThroughTheBuffer) {
  ScratchDir dir;
  constexpr std::size_t kFileSize = 10 * 1024 * 1024;
  const std::string data = Pattern(kFileSize);
  dir.WriteFile("big.bin", data);
  FaultInjectingPlatform counting;
  const auto installed = counting.Install();

  BufferedFileStream reader(dir.Path("big.bin"), FileMode::kOpenRead);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < kFileSize; ++i) {
    char c = 0;
    reader.Read(&c, 1);
    if (c != data[i]) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(reader.Status(), kStreamOk);
  EXPECT_LE(counting.Calls(PlatformOp::kRead), static_cast<int>(kFileSize / 4096 + 2));

  {
    BufferedFileStream writer(dir.Path("copy.bin"), FileMode::kCreate);
    for (std::size_t i = 0; i < 1024 * 1024; ++i) writer.Write(&data[i], 1);
    EXPECT_EQ(writer.Status(), kStreamOk);
  }
  EXPECT_LE(counting.Calls(PlatformOp::kWrite), 1024 * 1024 / 4096 + 2);
  EXPECT_TRUE(SameBytes(dir.ReadFile("copy.bin"), data.substr(0, 1024 * 1024)));
}

TEST(BufferedFileStreamTest, OperatingSystemFailuresLatchAndKeepTheReasonWithThePath) {
  struct Case {
    const char* name;
    PlatformOp op;
    std::size_t write_size;  // 0: a read test
    std::int32_t expected;
    StatusKind kind;          // of LastError; kOk: whatever the platform says
    std::int32_t size_after;  // what reached the 100-byte file
  };
  const Case cases[] = {
      {"buffered write fails at flush", PlatformOp::kWrite, 10, kStreamOsError, StatusKind::kOk,
       100},
      {"direct write fails", PlatformOp::kWrite, 10000, kStreamOsError, StatusKind::kOk, 100},
      {"short direct write", PlatformOp::kShortWrite, 10000, kStreamWriteError,
       StatusKind::kNoSpace, 5000},
      {"short write at flush", PlatformOp::kShortWrite, 10, kStreamWriteError, StatusKind::kOk,
       100},
      {"read fails", PlatformOp::kRead, 0, kStreamOsError, StatusKind::kOk, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.WriteFile("f.bin", Pattern(100));
    FaultInjectingPlatform faulty;
    const auto installed = faulty.Install();
    BufferedFileStream stream(dir.Path("f.bin"), FileMode::kOpenWrite);
    faulty.FailCall(c.op, 1, FailMode::kOnce);
    if (c.write_size == 0) {
      EXPECT_EQ(ReadBytes(stream, 8), std::string(8, '\0'));
    } else {
      WriteBytes(stream, Pattern(c.write_size, 2));
      stream.Flush();
    }
    ASSERT_EQ(stream.Status(), c.expected);
    EXPECT_EQ(faulty.Failures(), 1);
    EXPECT_FALSE(stream.LastError().ok());
    EXPECT_EQ(stream.LastError().path(), dir.Path("f.bin"));
    if (c.kind != StatusKind::kOk) {
      EXPECT_EQ(stream.LastError().kind(), c.kind);
    }
    // Latched: nothing more reaches the file until the error is cleared.
    const int writes = faulty.Calls(PlatformOp::kWrite);
    WriteBytes(stream, Pattern(5000));
    stream.Flush();
    EXPECT_EQ(faulty.Calls(PlatformOp::kWrite), writes);
    EXPECT_EQ(stream.Size(), -1);
    EXPECT_EQ(stream.Status(), c.expected);

    stream.ClearError();
    EXPECT_TRUE(stream.LastError().ok());
    stream.Seek(0);
    WriteBytes(stream, "ok");
    EXPECT_EQ(stream.Size(), c.size_after);
    EXPECT_EQ(stream.Status(), kStreamOk);
  }
}

TEST(BufferedFileStreamTest, SyncToDiskIsTrueOnFailure) {
  ScratchDir dir;
  FaultInjectingPlatform faulty;
  const auto installed = faulty.Install();
  BufferedFileStream stream(dir.Path("f.bin"), FileMode::kCreate);
  WriteBytes(stream, "abc");
  EXPECT_FALSE(stream.SyncToDisk());
  EXPECT_EQ(dir.ReadFile("f.bin"), "abc");

  faulty.FailCall(PlatformOp::kSync, 1);
  EXPECT_TRUE(stream.SyncToDisk());
  EXPECT_EQ(stream.Status(), kStreamOsError);
  faulty.Reset();
  // Still true while the error is latched, without touching the file.
  EXPECT_TRUE(stream.SyncToDisk());
  EXPECT_EQ(faulty.Calls(PlatformOp::kSync), 0);
}

TEST(BufferedFileStreamTest, FailedScanReadsNothingAndStaysPut) {
  ScratchDir dir;
  const std::string data = std::string(5000, 'a') + "\nrest";
  dir.WriteFile("f.bin", data);
  FaultInjectingPlatform faulty;
  const auto installed = faulty.Install();
  BufferedFileStream stream(dir.Path("f.bin"), FileMode::kOpenRead);
  EXPECT_EQ(ReadBytes(stream, 10), std::string(10, 'a'));
  // The line goes on beyond the first window; its second refill fails.
  faulty.FailCall(PlatformOp::kRead, 1, FailMode::kOnce);
  std::string out = "kept";
  EXPECT_EQ(stream.ReadUntil('\n', &out, kReadAll), ReadStop::kError);
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(stream.Status(), kStreamOsError);
  EXPECT_EQ(stream.LastError().path(), dir.Path("f.bin"));
  stream.ClearError();
  EXPECT_EQ(stream.Position(), 10);
  EXPECT_EQ(stream.ReadUntil('\n', &out, kReadAll), ReadStop::kDelimiter);
  EXPECT_EQ(out, "kept" + data.substr(10, 4991));
}

TEST(BufferedFileStreamTest, ScanReadsInWholeBuffers) {
  ScratchDir dir;
  std::string data;
  for (int i = 0; i < 20000; ++i) data += "line " + std::to_string(i) + "\r";
  dir.WriteFile("f.bin", data);
  FaultInjectingPlatform counting;
  const auto installed = counting.Install();
  BufferedFileStream stream(dir.Path("f.bin"), FileMode::kOpenRead);
  std::string out;
  int lines = 0;
  while (stream.ReadUntil('\r', &out, 72) == ReadStop::kDelimiter) ++lines;
  EXPECT_EQ(lines, 20000);
  EXPECT_TRUE(SameBytes(out, data));
  // One refill per 4096 bytes and the one that finds the end.
  EXPECT_LE(counting.Calls(PlatformOp::kRead), static_cast<int>(data.size() / 4096 + 2));
}

TEST(BufferedFileStreamTest, CloseReportsEveryFailure) {
  struct Case {
    const char* name;
    PlatformOp op;  // fails at the write-back; kOpenFile: nothing fails
    bool read_past_end_first;
    bool failure;
    std::int32_t expected;
    std::string on_disk;
  };
  const Case cases[] = {
      {"success", PlatformOp::kOpenFile, false, false, kStreamOk, "0123456789new"},
      {"write-back fails", PlatformOp::kWrite, false, true, kStreamOsError, "0123456789"},
      {"write-back short", PlatformOp::kShortWrite, false, true, kStreamWriteError, "0123456789n"},
      // The earlier error is reported, and the data still reaches the file.
      {"error latched before", PlatformOp::kOpenFile, true, true, kStreamReadError,
       "0123456789new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.WriteFile("f.bin", "0123456789");
    FaultInjectingPlatform faulty;
    const auto installed = faulty.Install();
    BufferedFileStream stream(dir.Path("f.bin"), FileMode::kOpenWrite);
    stream.Seek(10);
    WriteBytes(stream, "new");
    if (c.read_past_end_first) ReadBytes(stream, 1);
    if (c.op != PlatformOp::kOpenFile) faulty.FailCall(c.op, 1);
    EXPECT_EQ(stream.Close(), c.failure);
    EXPECT_EQ(stream.Status(), c.expected);
    EXPECT_EQ(stream.LastError().ok(), !c.failure);
    if (c.failure) {
      EXPECT_EQ(stream.LastError().path(), dir.Path("f.bin"));
    }
    EXPECT_EQ(dir.ReadFile("f.bin"), c.on_disk);

    // Closed: the file is gone from the stream, nothing more reaches it.
    faulty.Reset();
    stream.ClearError();
    EXPECT_FALSE(stream.Close()) << "a second Close has nothing to report";
    WriteBytes(stream, "more");
    EXPECT_EQ(stream.Status(), kStreamOsError);
    EXPECT_TRUE(stream.SyncToDisk());
    EXPECT_EQ(faulty.Calls(PlatformOp::kWrite), 0);
    EXPECT_EQ(dir.ReadFile("f.bin"), c.on_disk);
  }
}

TEST(BufferedFileStreamTest, CloseOfAStreamThatNeverOpenedIsAFailure) {
  ScratchDir dir;
  BufferedFileStream stream(dir.Path("missing.bin"), FileMode::kOpenRead);
  EXPECT_TRUE(stream.Close());
  EXPECT_EQ(stream.Status(), kStreamInitError);
}

TEST(BufferedFileStreamTest, PositionsStopAtTheLargest32BitValue) {
  ScratchDir dir;
  const std::string path = dir.Path("huge.bin");
  dir.WriteFile("huge.bin", "");
  std::error_code ec;
  // A sparse file: no disk space is used.
  std::filesystem::resize_file(path, (std::uintmax_t{1} << 31) + 100, ec);
  if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();

  BufferedFileStream stream(path, FileMode::kOpenWrite);
  constexpr std::int32_t kLast = std::numeric_limits<std::int32_t>::max();
  // Too large for a 32-bit size: an error, not a wrapped value.
  EXPECT_EQ(stream.Size(), -1);
  EXPECT_EQ(stream.Status(), kStreamOsError);
  EXPECT_EQ(stream.LastError().kind(), StatusKind::kInvalidArgument);
  EXPECT_EQ(stream.LastError().path(), path);
  EXPECT_NE(stream.LastError().detail().find("file larger than 2 GiB"), std::string::npos);
  stream.ClearError();

  stream.Seek(kLast - 4);
  EXPECT_EQ(ReadBytes(stream, 4), std::string(4, '\0'));  // sparse zeros, read fine
  EXPECT_EQ(stream.Status(), kStreamOk);
  EXPECT_EQ(stream.Position(), kLast);
  // A fifth byte would lie beyond the last position.
  stream.Seek(kLast - 4);
  EXPECT_EQ(ReadBytes(stream, 5), std::string(5, '\0'));
  EXPECT_EQ(stream.Status(), kStreamReadError);
  EXPECT_EQ(stream.LastError().kind(), StatusKind::kInvalidArgument);
  stream.ClearError();
  EXPECT_EQ(stream.Position(), kLast - 4);
  WriteBytes(stream, "12345");
  EXPECT_EQ(stream.Status(), kStreamWriteError);
  EXPECT_EQ(stream.LastError().kind(), StatusKind::kInvalidArgument);
  stream.ClearError();
  WriteBytes(stream, "1234");
  EXPECT_EQ(stream.Status(), kStreamOk);
  EXPECT_EQ(stream.Position(), kLast);
}

// A sparse file of `size` bytes (no disk space used); false when the file
// system cannot make one.
bool MakeSparseFile(const ScratchDir& dir, const std::string& name, std::uintmax_t size) {
  dir.WriteFile(name, "");
  std::error_code ec;
  std::filesystem::resize_file(dir.Path(name), size, ec);
  return !ec;
}

TEST(BufferedFileStreamTest, ScansStopAtTheLargest32BitValue) {
  ScratchDir dir;
  constexpr std::int32_t kLast = std::numeric_limits<std::int32_t>::max();
  for (const std::size_t buffer : {std::size_t{7}, kDefaultFileBuffer, std::size_t{0}}) {
    SCOPED_TRACE(buffer);
    // The file goes on beyond the last position: a scan that reaches it
    // fails there, without reading a byte or moving.
    if (!MakeSparseFile(dir, "huge.bin", (std::uintmax_t{1} << 31) + 100)) {
      GTEST_SKIP() << "no sparse files here";
    }
    BufferedFileStream huge(dir.Path("huge.bin"), FileMode::kOpenRead, buffer);
    huge.Seek(kLast - 4);
    std::string out = "kept";
    EXPECT_EQ(huge.ReadUntil('x', &out, kReadAll), ReadStop::kError);
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(huge.Status(), kStreamReadError);
    EXPECT_EQ(huge.LastError().kind(), StatusKind::kInvalidArgument);
    huge.ClearError();
    EXPECT_EQ(huge.Position(), kLast - 4);
    // Bytes before the last position are read as usual.
    EXPECT_EQ(huge.ReadUntil('\0', &out, kReadAll), ReadStop::kDelimiter);
    EXPECT_EQ(huge.ReadUpTo(&out, 3), ReadStop::kLimit);
    EXPECT_EQ(out, "kept" + std::string(4, '\0'));
    EXPECT_EQ(huge.Position(), kLast);
    EXPECT_EQ(huge.ReadUpTo(&out, 1), ReadStop::kError);
    EXPECT_EQ(huge.Status(), kStreamReadError);

    // A file that ends right at the last position ends a scan normally.
    ASSERT_TRUE(MakeSparseFile(dir, "edge.bin", static_cast<std::uintmax_t>(kLast)));
    BufferedFileStream edge(dir.Path("edge.bin"), FileMode::kOpenRead, buffer);
    EXPECT_EQ(edge.Size(), kLast);
    edge.Seek(kLast - 2);
    out.clear();
    EXPECT_EQ(edge.ReadUntil('x', &out, kReadAll), ReadStop::kEnd);
    EXPECT_EQ(out, std::string(2, '\0'));
    EXPECT_EQ(edge.Position(), kLast);
    EXPECT_EQ(edge.Status(), kStreamOk);
  }
}

// --- the memory stream ------------------------------------------------------

TEST(MemoryStreamTest, ReservedLimitIsNotData) {
  MemoryStream stream(100000, 1000);
  EXPECT_EQ(stream.Status(), kStreamOk);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(ReadBytes(stream, 1), std::string(1, '\0'));
  EXPECT_EQ(stream.Status(), kStreamReadError);
}

TEST(MemoryStreamTest, ALimitBeyond32BitsFailsConstruction) {
  MemoryStream stream(std::size_t{1} << 31, 0);
  EXPECT_EQ(stream.Status(), kStreamInitError);
  EXPECT_EQ(stream.Size(), -1);
}

TEST(MemoryStreamTest, WritesBeyondTheLastPositionAreRefused) {
  MemoryStream stream(0, 16);
  constexpr std::int32_t kLast = std::numeric_limits<std::int32_t>::max();
  stream.Seek(kLast);
  WriteBytes(stream, "x");
  EXPECT_EQ(stream.Status(), kStreamWriteError);
  stream.ClearError();
  EXPECT_EQ(stream.Size(), 0);
}

TEST(MemoryStreamTest, DataSurvivesGrowthAndTruncationAcrossBlocks) {
  MemoryStream stream(0, 8);
  const std::string data = Pattern(1000);
  for (std::size_t i = 0; i < data.size(); i += 13) WriteBytes(stream, data.substr(i, 13));
  EXPECT_TRUE(SameBytes(Contents(stream), data));
  for (const std::int32_t cut : {999, 800, 16, 15, 8, 1, 0}) {
    SCOPED_TRACE(cut);
    stream.Seek(cut);
    stream.Truncate();
    EXPECT_EQ(Contents(stream), data.substr(0, static_cast<std::size_t>(cut)));
  }
  stream.Seek(20);
  WriteBytes(stream, "q");
  EXPECT_EQ(Contents(stream), std::string(20, '\0') + "q");
}

}  // namespace
}  // namespace qlr
