// Helpers for the Squish message tests: messages with known fields, a
// base on the memory platform, and a readable summary of a base.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/squish/squish_base.h"
#include "platform/host.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr::testing {

// The base path in the host's style: the base code splits paths at the
// host's separator, so on Windows "/b/area" would have no directory part
// and "/b" would never be made. The disks take "\" there too.
inline const std::string kSquishPath = "/b" + std::string(1, PathSeparator()) + "area";

// A disk that takes the paths the base code builds on this host.
inline void UseHostSeparator(MemoryPlatform& disk) { disk.SetBackslashIsSeparator(kHostIsWindows); }

// An echomail message whose sender, subject and body carry `tag`.
inline std::unique_ptr<Message> TaggedMessage(const std::string& tag) {
  auto m = std::make_unique<Message>();
  m->From = "From " + tag;
  m->To = "All";
  m->Subject = "Subject " + tag;
  m->Area = "ECHO";
  m->OrigZone = 2;
  m->OrigNet = 5020;
  m->OrigNode = 1;
  m->MsgId = "2:5020/1 " + tag;
  const std::string body = "Body of " + tag + "\r";
  m->Text.Write(body.data(), body.size());
  return m;
}

// Creates the base at kSquishPath on `disk` holding messages "m1".."mN",
// all durable. Records a test failure when that does not work.
inline void MakeSquishBase(MemoryPlatform& disk, int count) {
  UseHostSeparator(disk);
  ScopedPlatform installed(disk);
  SquishBase base;
  ASSERT_FALSE(base.Create(kSquishPath));
  for (int i = 1; i <= count; ++i) {
    auto m = TaggedMessage("m" + std::to_string(i));
    ASSERT_FALSE(base.WriteMessage(i, *m));
  }
  disk.MakeAllDurable();
}

// What a reader sees of the base at kSquishPath (with Os() the platform
// that holds it): "count N", then one "From|Subject|body" line per
// message, or a line naming the message that cannot be read; at most
// `most` messages are read (a damaged NumMsg can claim millions).
inline std::vector<std::string> SquishSummary(std::int32_t most = 1 << 30) {
  SquishBase base;
  if (base.Open(kSquishPath)) return {"cannot open"};
  std::vector<std::string> lines = {"count " + std::to_string(base.Count())};
  for (std::int32_t i = 1; i <= base.Count() && i <= most; ++i) {
    Message m;
    if (base.ReadMessage(i, m)) {
      lines.push_back("unreadable " + std::to_string(i));
      continue;
    }
    std::string body(static_cast<std::size_t>(m.Text.Size()), '\0');
    m.Text.Seek(0);
    m.Text.Read(body.data(), body.size());
    lines.push_back(m.From.str() + "|" + m.Subject.str() + "|" + body);
  }
  return lines;
}

}  // namespace qlr::testing
