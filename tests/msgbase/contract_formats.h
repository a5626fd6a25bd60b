// What the format contract suites share: the base they work on and the
// checks of a format's own records that a reader does not make.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/squish/squish_base.h"
#include "support/coding.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr::testing {

// In the host's style: the base code splits paths at the host's separator.
inline const std::string kContractPath = "/b" + std::string(1, PathSeparator()) + "area";

inline std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  return DecodeFixed32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at);
}

// The next Squish writer takes the base (finishing what a crash cut short)
// and finds `live` messages (-1: any number); then the message chain is the
// index and the count what the files hold.
inline void SquishTakenByTheNextWriter(MemoryPlatform& disk, int live = -1) {
  SquishBase writer;
  ASSERT_FALSE(writer.Open(kContractPath));
  if (live >= 0) {
    EXPECT_EQ(writer.Count(), live);
  }
  Message m;
  m.From = "next";
  ASSERT_FALSE(writer.AppendMessage(m));
  SquishBase base;
  ASSERT_FALSE(base.Open(kContractPath));
  EXPECT_EQ(base.Count(), writer.Count());
  EXPECT_TRUE(base.Damage().ok());
  std::vector<std::uint32_t> chain;
  ASSERT_FALSE(base.MessageChain(&chain));
  const std::string sqi = disk.ReadFileBytes(kContractPath + ".sqi").value_or("");
  std::vector<std::uint32_t> index;
  for (std::size_t at = 0; at + 12 <= sqi.size(); at += 12) index.push_back(Get32(sqi, at));
  EXPECT_EQ(chain, index);
  EXPECT_EQ(index.size(), static_cast<std::size_t>(base.Count()));
}

// An echomail whose subject, sender and body carry `tag`, so that a
// reader can tell which write it came from.
inline std::unique_ptr<Message> Tagged(const std::string& tag) {
  auto m = std::make_unique<Message>();
  m->From = "From " + tag;
  m->To = "All";
  m->Subject = tag;
  m->Area = "ECHO";
  m->OrigZone = 2, m->OrigNet = 5020, m->OrigNode = 1;
  const std::string body = "Body of " + tag + "\r";
  m->Text.Write(body.data(), body.size());
  return m;
}

}  // namespace qlr::testing
