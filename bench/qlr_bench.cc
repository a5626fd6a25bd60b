// The library benchmarks and the data makers of bench/run.sh.
//
//   qlr_bench make-jam PATH COUNT BODY    a JAM base of COUNT messages with
//                                         BODY text bytes each, through the
//                                         library's own writer
//   qlr_bench make-pkt FILE COUNT AREA    a type-2 packet of COUNT echomail
//                                         messages for AREA, the same ones
//                                         the write benchmarks store
//   qlr_bench [benchmark flags]           the Google Benchmark cases:
//     write/FORMAT/N/sync|nosync  N messages into a new base
//     read/FORMAT/N               the N messages of such a base read back
//
// Every case works in QLR_BENCH_DIR (default /tmp). The "nosync" cases run
// on a platform whose flushes to stable storage do nothing, the way a
// tosser writes; "sync" is the library as the program uses it. Old bases
// are renamed into a trash directory, never deleted here: creating many
// files right after deleting many is much slower on ext4 for minutes, and
// would slow the next case. run.sh removes the trash at its end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/interop/ftn_records.h"
#include "msgbase/formats/all_formats.h"
#include "msgbase/message.h"
#include "msgbase/message_base.h"
#include "msgbase/open_base.h"
#include "platform/platform.h"
#include "testing/forwarding_platform.h"

namespace {

namespace fs = std::filesystem;
using qlr::testing::interop::FtnAddress;
using qlr::testing::interop::RawMessage;

constexpr FtnAddress kLink{2, 5020, 1, 0};
constexpr FtnAddress kOurs{2, 5020, 1042, 0};

// A file whose flush to stable storage does nothing.
class NoSyncFile final : public qlr::testing::ForwardingFile {
 public:
  using ForwardingFile::ForwardingFile;
  bool Sync() override { return true; }
};

// The host platform without flushes to stable storage.
class NoSyncPlatform final : public qlr::testing::ForwardingPlatform {
 public:
  std::unique_ptr<qlr::FileHandle> OpenFile(std::string_view path, qlr::OpenMode mode) override {
    std::unique_ptr<qlr::FileHandle> file = ForwardingPlatform::OpenFile(path, mode);
    if (file == nullptr) return nullptr;
    return std::make_unique<NoSyncFile>(std::move(file));
  }
  bool SyncDirectory(std::string_view) override { return true; }
  bool SyncFileSystem(std::string_view) override { return true; }
};

fs::path WorkDir() {
  const char* dir = std::getenv("QLR_BENCH_DIR");
  return fs::path(dir != nullptr && *dir != '\0' ? dir : "/tmp");
}

// Moves `path` out of the way (see the file comment), if it exists.
void MoveAside(const fs::path& path) {
  if (!fs::exists(path)) return;
  static int serial = 0;
  const fs::path trash = WorkDir() / "trash";
  fs::create_directories(trash);
  fs::rename(path, trash / (path.filename().string() + "." + std::to_string(getpid()) + "." +
                            std::to_string(++serial)));
}

// Message `i` as a tosser would receive it: an echomail message with the
// usual kludges and trailing lines and `body` bytes of text lines.
RawMessage RawEcho(int i, std::string_view area, std::size_t body) {
  RawMessage m;
  m.from = "Carol Echo";
  m.to = "All";
  m.subject = "Benchmark message " + std::to_string(i);
  m.date = "06 Mar 21  11:22:33";
  m.orig = {0, kLink.net, kLink.node, 0};
  m.dest = {0, kOurs.net, kOurs.node, 0};
  char serial[16];
  std::snprintf(serial, sizeof serial, "%08x", static_cast<unsigned>(i));
  m.text = "AREA:" + std::string(area) + "\r\x01MSGID: 2:5020/1 " + serial + "\r\x01PID: Bench 1\r";
  std::string line = "The quick brown fox jumps over the lazy dog, message " + std::to_string(i);
  for (std::size_t n = 0; n < body;) {
    const std::size_t take = std::min(line.size(), body - n);
    m.text.append(line, 0, take);
    m.text += '\r';
    n += take + 1;
  }
  m.text += "--- Bench\r * Origin: Bench (2:5020/1)\rSEEN-BY: 5020/1 1042\r\x01PATH: 5020/1\r";
  return m;
}

// The same message for the library's writer.
void FillMessage(int i, std::size_t body, qlr::Message& m) {
  m.Clear();
  const RawMessage raw = RawEcho(i, "BENCH", body);
  m.From = raw.from;
  m.To = raw.to;
  m.Subject = raw.subject;
  m.Date = raw.date;
  m.AssignOrigAddress("2:5020/1");
  m.AssignDestAddress("2:5020/1042");
  // The text without its AREA line: a stored message keeps the area in
  // the base, not in the text.
  const std::string_view text = std::string_view(raw.text).substr(raw.text.find('\r') + 1);
  m.Text.Write(text.data(), text.size());
}

// Writes `count` messages into the base of `spec`; false when one failed.
bool WriteBase(const std::string& spec, int count, std::size_t body) {
  std::unique_ptr<qlr::MessageBase> base = qlr::OpenBase(spec);
  if (base == nullptr) return false;
  qlr::Message message;
  for (int i = 1; i <= count; ++i) {
    FillMessage(i, body, message);
    if (base->WriteMessage(base->Count() + 1, message)) return false;
  }
  return true;
}

struct Format {
  const char* name;
  char type;              // the base spec's type character
  const char* base_name;  // the base's path under its directory
};

constexpr Format kFormats[] = {
    {"JAM", '!', "echo"}, {"Squish", '$', "echo"}, {"MSG", '#', "echo"}, {"PKT", 'P', "echo.pkt"}};

std::string SpecOf(const Format& format, const fs::path& dir) {
  return std::string(1, format.type) + (dir / format.base_name).string();
}

constexpr std::size_t kBody = 400;

void BM_Write(benchmark::State& state, const Format& format, int count, bool durable) {
  const fs::path dir = WorkDir() / (std::string("write-") + format.name);
  NoSyncPlatform no_sync;
  std::unique_ptr<qlr::ScopedPlatform> installed;
  if (!durable) installed = std::make_unique<qlr::ScopedPlatform>(no_sync);
  for (auto _ : state) {
    state.PauseTiming();
    MoveAside(dir);
    fs::create_directories(dir);
    state.ResumeTiming();
    if (!WriteBase(SpecOf(format, dir), count, kBody)) state.SkipWithError("a write failed");
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_Read(benchmark::State& state, const Format& format, int count) {
  const fs::path dir = WorkDir() / (std::string("read-") + format.name);
  {
    NoSyncPlatform no_sync;
    qlr::ScopedPlatform installed(no_sync);
    MoveAside(dir);
    fs::create_directories(dir);
    if (!WriteBase(SpecOf(format, dir), count, kBody)) {
      state.SkipWithError("the base cannot be made");
      return;
    }
  }
  for (auto _ : state) {
    std::unique_ptr<qlr::MessageBase> base = qlr::OpenBase(SpecOf(format, dir));
    qlr::Message message;
    int read = 0;
    for (int i = 1; base != nullptr && i <= base->Count(); ++i) {
      if (!base->ReadMessage(i, message)) ++read;
    }
    if (read != count) state.SkipWithError("messages missing on reading back");
  }
  state.SetItemsProcessed(state.iterations() * count);
}

// The counts the cases run at: QLR_BENCH_COUNTS, blank-separated.
std::vector<int> Counts() {
  const char* text = std::getenv("QLR_BENCH_COUNTS");
  std::vector<int> counts;
  for (std::string_view rest = text != nullptr ? text : "10000 100000"; !rest.empty();) {
    const std::size_t end = rest.find(' ');
    const std::string word(rest.substr(0, end));
    if (!word.empty()) counts.push_back(std::atoi(word.c_str()));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return counts;
}

void RegisterCases() {
  for (const Format& format : kFormats) {
    for (const int count : Counts()) {
      for (const bool durable : {false, true}) {
        benchmark::RegisterBenchmark((std::string("write/") + format.name + "/" +
                                      std::to_string(count) + (durable ? "/sync" : "/nosync"))
                                         .c_str(),
                                     BM_Write, format, count, durable)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
      benchmark::RegisterBenchmark(
          (std::string("read/") + format.name + "/" + std::to_string(count)).c_str(), BM_Read,
          format, count)
          ->Iterations(1)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
}

int MakeJam(const std::string& path, int count, std::size_t body) {
  NoSyncPlatform no_sync;
  qlr::ScopedPlatform installed(no_sync);
  if (!WriteBase("!" + path, count, body)) {
    std::fprintf(stderr, "qlr_bench: the JAM base %s cannot be written\n", path.c_str());
    return 1;
  }
  return 0;
}

int MakePacket(const std::string& file, int count, const std::string& area) {
  std::vector<RawMessage> messages;
  messages.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) messages.push_back(RawEcho(i, area, kBody));
  std::ofstream out(file, std::ios::binary);
  out << qlr::testing::interop::PacketBytes(kLink, kOurs, messages);
  out.close();
  if (!out) {
    std::fprintf(stderr, "qlr_bench: %s cannot be written\n", file.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qlr::InstallBuiltInFormats();
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "make-jam" && argc == 5) {
    return MakeJam(argv[2], std::atoi(argv[3]), static_cast<std::size_t>(std::atol(argv[4])));
  }
  if (command == "make-pkt" && argc == 5) return MakePacket(argv[2], std::atoi(argv[3]), argv[4]);
  RegisterCases();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
