// Writes the seed corpora of the harnesses: small valid inputs in each
// harness's framing, the bases among them made by the library itself.
//
//   qlr_fuzz_seeds DIR     writes DIR/<harness>/<seed>
//
// A format whose message writer is missing or fails still gets its empty
// base (the files Create leaves), so every harness has a seed.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "harness_support.h"
#include "msgbase/formats/all_formats.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"

namespace qlr::fuzz {
namespace {

namespace fs = std::filesystem;

// A literal with its NULs.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

bool WriteSeed(const fs::path& dir, std::string_view harness, std::string_view name,
               std::string_view bytes) {
  const fs::path folder = dir / std::string(harness);
  std::error_code error;
  fs::create_directories(folder, error);
  std::ofstream out(folder / std::string(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write seed %s/%s\n", std::string(harness).c_str(),
                 std::string(name).c_str());
    return false;
  }
  return true;
}

void Fill(Message& m, int n) {
  m.Clear();
  m.From = "Sender " + std::to_string(n);
  m.To = n % 2 == 0 ? "All" : "Sysop";
  m.Subject = "Seed message " + std::to_string(n);
  m.Date = "05 Mar 99  23:04:1" + std::to_string(n % 10);
  m.AssignOrigAddress("2:5020/" + std::to_string(100 + n) + (n == 2 ? ".7" : ""));
  m.AssignDestAddress("1:234/56");
  if (n == 3) m.Area = "SEED.ECHO";
  m.TearLine = "seed";
  m.Origin = "Seed BBS (2:5020/" + std::to_string(100 + n) + ")";
  m.AddVia("2:5020/1 @20210305.230410 seed");
  const std::string body = "Hello " + std::to_string(n) + "\rSecond line\r\r> quoted\r";
  m.Text.Write(body.data(), body.size());
}

// A base of `spec` on a fresh memory disk holding what the library wrote
// into it; the bytes of `files` (relative to the disk) are returned.
std::vector<std::string> MakeBase(std::string_view spec, const std::vector<std::string>& files,
                                  int messages) {
  MemoryDisk disk;
  disk.platform().MakeDirs(MemoryDisk::Path("area"));
  {
    const std::unique_ptr<MessageBase> base = OpenBase(spec);
    if (base == nullptr) {
      std::fprintf(stderr, "cannot create %s\n", std::string(spec).c_str());
      return {};
    }
    for (int n = 1; n <= messages; ++n) {
      Message m;
      Fill(m, n);
      if (base->WriteMessage(base->Count() + 1, m)) {
        std::fprintf(stderr, "%s: message %d not written; seeding what is there\n",
                     std::string(spec).c_str(), n);
        break;
      }
    }
  }
  std::vector<std::string> contents;
  for (const std::string& file : files) {
    contents.push_back(disk.platform().ReadFileBytes(MemoryDisk::Path(file)).value_or(""));
  }
  return contents;
}

bool WriteBaseSeeds(const fs::path& dir) {
  bool ok = true;
  for (const int messages : {0, 1, 3}) {
    const std::string name = std::to_string(messages) + "-messages";
    {
      // *.msg: a delete pick, then name pick and length-prefixed bytes.
      const std::vector<std::string> texts = MakeBase(
          "#" + MemoryDisk::Path("area"), {"area/1.msg", "area/2.msg", "area/3.msg"}, messages);
      std::string seed(1, '\0');
      for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty()) continue;
        seed += static_cast<char>(i);  // file pick i is "<i + 1>.msg"
        seed += PrefixedPiece(texts[i]);
      }
      ok &= WriteSeed(dir, "msgdir_base", name, seed);
    }
    {
      const std::vector<std::string> f =
          MakeBase("!" + MemoryDisk::Path("area/base"),
                   {"area/base.jhr", "area/base.jdt", "area/base.jdx"}, messages);
      if (f.size() == 3) {
        ok &= WriteSeed(dir, "jam_base", name,
                        std::string(1, '\0') + PrefixedPiece(f[0]) + PrefixedPiece(f[1]) + f[2]);
      }
    }
    {
      const std::vector<std::string> f = MakeBase("$" + MemoryDisk::Path("area/base"),
                                                  {"area/base.sqd", "area/base.sqi"}, messages);
      if (f.size() == 2) {
        ok &=
            WriteSeed(dir, "squish_base", name, std::string(1, '\0') + PrefixedPiece(f[0]) + f[1]);
      }
    }
    {
      const std::vector<std::string> f =
          MakeBase("P" + MemoryDisk::Path("area/base"), {"area/base.pkt"}, messages);
      if (f.size() == 1) ok &= WriteSeed(dir, "packet_base", name, std::string(1, '\0') + f[0]);
    }
  }
  return ok;
}

bool WriteTextSeeds(const fs::path& dir) {
  bool ok = true;
  const std::string_view control[] = {
      "@Define ROOT /fido\r\n"
      "MaxMessages 500                     ; rotate bases holding more than this\r\n"
      "Base #ROOT/netmail ROOT/old/netmail\r\n"
      "Base !ROOT/jam/area ROOT/old/jam\r\n"
      "Arc.Extension tar\r\n"
      "Arc.Add \"tar -cf @ArcName.tar -C @FileName .\"\r\n",
      "; only comments\n\n   \nUnknown keyword\nBase\n@Define @ROOT x\n@Define A B\nBase A\n",
      "MaxMessages 10\rBase $/a/b /c\n\rBase P/d/e.pkt /f\n",
  };
  for (std::size_t i = 0; i < std::size(control); ++i) {
    ok &= WriteSeed(dir, "control_file", "ctl-" + std::to_string(i), control[i]);
  }
  const std::string_view templates[] = {
      "\x01=@ArcName OLD0001\n=@FileName /fido/old\ntar -cf @ArcName.tar -C @FileName .\n",
      "\x01@PAD{LEFT|0|8|1f}\n@NUM{,|1234567}\n@SIZE{5|123456789}\n@UP{@PAD{RIGHT|.|10|ab}}\n",
      "\x03=X y\n@X @@X @PAD{C|*|9|@X}\n",
  };
  for (std::size_t i = 0; i < std::size(templates); ++i) {
    ok &= WriteSeed(dir, "template_expander", "tpl-" + std::to_string(i), templates[i]);
  }
  const std::string_view dates[] = {"05 Mar 99  23:04:10", "05 Mar 99 23:04:10",
                                    "Sun 05 Mar 99 23:04", "05-03-99 23:04:10",
                                    "31 Dec 2107 23:59:58"};
  for (std::size_t i = 0; i < std::size(dates); ++i) {
    ok &= WriteSeed(dir, "ftn_date", "date-" + std::to_string(i), dates[i]);
  }
  const std::string_view addresses[] = {"2:5020/1.3", "1:234/56@fidonet", "65535:65535/65535.65535",
                                        "3:633/280 1a2b3c4d", "99999:1/2"};
  for (std::size_t i = 0; i < std::size(addresses); ++i) {
    ok &= WriteSeed(dir, "ftn_address", "addr-" + std::to_string(i), addresses[i]);
  }
  const std::string texts[] = {
      Bytes("\x00\x00\x01MSGID: 1:2/3 abcd1234\r\x01PID: X 1.0\r\x01INTL 1:2/3 2:5020/1\r"
            "\x01"
            "FMPT 3\rHello\r--- T\r * Origin: My BBS (1:2/3)\rSEEN-BY: 2/3\r"
            "\x01PATH: 2/3\r"),
      Bytes("\x05\x10\x01"
            "FLAGS PVT K/S\r\x01REPLY: 2:5020/1 1234\rBody\r\n\r\n"
            "--- T\r\n * Origin: o\r\x01Via 1:2/3 @20210305\r\0\0"),
  };
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    ok &= WriteSeed(dir, "read_text", "text-" + std::to_string(i), texts[i]);
  }
  return ok;
}

}  // namespace
}  // namespace qlr::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qlr_fuzz_seeds DIR\n");
    return 2;
  }
  qlr::fuzz::InstallFormatsOnce();
  const std::filesystem::path dir(argv[1]);
  const bool ok = qlr::fuzz::WriteTextSeeds(dir) && qlr::fuzz::WriteBaseSeeds(dir);
  return ok ? 0 : 1;
}
