#include "e2e/crash_bases.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>

#include "msgbase/formats/all_formats.h"
#include "msgbase/ftn_date.h"
#include "msgbase/message_base.h"
#include "msgbase/open_base.h"
#include "platform/platform.h"
#include "testing/forwarding_platform.h"

namespace qlr::testing {
namespace {

constexpr const char* kSubjectPrefix = "crash message ";
constexpr int kBodyLines = 16;

// Flushes to disk cost the writer of a test base thousands of waits on a
// busy disk, and a test base needs none: it is made before any program
// under test runs, and no test cuts the power.
class NoSyncFile : public ForwardingFile {
 public:
  using ForwardingFile::ForwardingFile;
  Status Sync() override { return Status::Ok(); }
};

class NoSyncPlatform : public ForwardingPlatform {
 public:
  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    auto file = ForwardingPlatform::OpenFile(path, mode);
    if (!file) return file;
    return std::make_unique<NoSyncFile>(std::move(file));
  }
  Status SyncDirectory(std::string_view) override { return Status::Ok(); }
  Status SyncFileSystem(std::string_view) override { return Status::Ok(); }
};

std::string TextOf(Message& m) {
  m.Text.ClearError();
  std::string text(static_cast<std::size_t>(m.Text.Size()), '\0');
  m.Text.Seek(0);
  m.Text.Read(text.data(), text.size());
  return text;
}

std::string LinesOf(const Collection<KludgeLine>& lines) {
  std::string out;
  for (const auto& line : lines) {
    out += std::string(line->Prefix.view()) + "|" + std::string(line->Value.view()) + ";";
  }
  return out;
}

// The files of a base named `name` (without extension) of the format of
// type character `type`; none for a directory of *.msg files, whose files
// are every file in its directory.
std::vector<std::string> BaseFileNames(char type, const std::string& name) {
  switch (type) {
    case '!':
      return {name + ".jhr", name + ".jdt", name + ".jdx"};
    case '$':
      return {name + ".sqd", name + ".sqi"};
    case 'P':
      return {name + ".pkt"};
    default:
      return {};
  }
}

// The number a crash message's subject gives; nothing for another subject.
std::optional<int> CrashMessageNumber(const Message& m) {
  const std::string subject = m.Subject.str();
  const std::string prefix = kSubjectPrefix;
  if (subject.rfind(prefix, 0) != 0 || subject.size() == prefix.size()) return std::nullopt;
  int number = 0;
  for (char c : subject.substr(prefix.size())) {
    if (c < '0' || c > '9' || number > 100000000) return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

// Everything a reader sees of a message: header fields, control lines,
// body. Reads the message's text from its start.
std::string DescribeMessage(Message& m) {
  return m.From.str() + "/" + m.To.str() + "/" + m.Subject.str() + "/" + m.Date.str() + "/" +
         std::to_string(m.DateWritten) + "/" + m.OrigAddressText().str() + "/" +
         m.DestAddressText().str() + "/attr " + std::to_string(m.Attr) + "/kludges " +
         LinesOf(m.Kludges) + "/text " + TextOf(m) + "/tear " + m.TearLine.str() + "/origin " +
         m.Origin.str() + "/trail " + LinesOf(m.TrailLines);
}

}  // namespace

void UseBuiltInFormats() { InstallBuiltInFormats(); }

std::string CrashBaseSpec(char type, const std::string& dir) {
  return std::string(1, type) + (type == '#' ? dir : dir + "/area");
}

bool CrashBasePresent(char type, const std::string& dir) {
  if (type == '#') return std::filesystem::is_directory(dir);
  for (const std::string& name : BaseFileNames(type, "area")) {
    if (!std::filesystem::is_regular_file(dir + "/" + name)) return false;
  }
  return true;
}

void FillCrashMessage(Message& m, int number) {
  m.Clear();
  m.From = "Crash Tester";
  m.To = "All";
  m.Subject = kSubjectPrefix + std::to_string(number);
  const DateTime written{2021, 3, 5, 10, 20, number % 60};
  m.DateWritten = PackDateTime(written);
  char date[21];
  std::snprintf(date, sizeof date, "05 Mar 21  10:20:%02d", number % 60);
  m.Date = date;
  m.OrigZone = 2;
  m.OrigNet = 5020;
  m.OrigNode = 1;
  m.DestZone = 2;
  m.DestNet = 5020;
  m.DestNode = 2;
  std::string body;
  for (int line = 1; line <= kBodyLines; ++line) {
    body += "line " + std::to_string(line) + " of crash message " + std::to_string(number) + "\r";
  }
  m.Text.Write(body.data(), body.size());
}

void AppendCrashMessages(const std::string& spec, int first, int last) {
  NoSyncPlatform no_sync;
  const ScopedPlatform installed(no_sync);
  const std::unique_ptr<MessageBase> base = OpenBase(spec);
  ASSERT_NE(base, nullptr) << spec;
  Message m;
  for (int number = first; number <= last; ++number) {
    FillCrashMessage(m, number);
    ASSERT_FALSE(base->WriteMessage(base->Count() + 1, m)) << spec << " message " << number;
  }
}

BaseReading ReadWholeBase(const std::string& spec) {
  BaseReading reading;
  const std::unique_ptr<MessageBase> base = OpenBase(spec);
  // OpenBase returns an empty packet in state OpenError: it opened, and
  // counts 0.
  if (base == nullptr) return reading;
  reading.opened = true;
  reading.count = base->Count();
  Message m;
  for (int number = 1; number <= reading.count; ++number) {
    if (base->ReadMessage(number, m)) {
      reading.messages.emplace_back();
      reading.numbers.emplace_back();
      continue;
    }
    reading.messages.push_back(DescribeMessage(m));
    reading.numbers.push_back(CrashMessageNumber(m));
  }
  return reading;
}

}  // namespace qlr::testing
