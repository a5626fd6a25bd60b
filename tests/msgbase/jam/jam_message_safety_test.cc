// JAM messages against hostile lengths and offsets in their headers and
// index records.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jam_message_support.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message_attributes.h"
#include "testing/corruption.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::BaseView;
using testing::FillMessage;
using testing::MemoryPlatform;
using testing::ViewBase;

constexpr std::string_view kBase = "/area";
constexpr const char* kFiles[] = {"/area.jhr", "/area.jdt", "/area.jdx"};

// A base of three messages with every kind of subfield and a text with
// tear and origin lines, so that damage can hit every part of a message.
void MakeRichBase() {
  JamBase base;
  ASSERT_FALSE(base.Create(kBase));
  for (int i = 1; i <= 3; ++i) {
    Message m;
    FillMessage(m, "Message " + std::to_string(i), "Body " + std::to_string(i) + "\rmore\r");
    m.ReplyId = "2:5020/9 00000001";
    m.Pid = "QLR";
    m.TearLine = "qlr";
    m.Area = "TEST";
    m.Origin = "Node ";
    m.AttrFlags[4] = true;  // Att: subfield 9 too
    m.ExtFlags[kExtZoneGate] = true;
    m.AddVia("2:5020/1 @20000101.000000");
    auto kludge = std::make_unique<KludgeLine>();
    kludge->Prefix = NewStr("\001");
    kludge->Value = NewStr("CHRS: IBMPC 2");
    m.Kludges.Insert(std::move(kludge));
    ASSERT_FALSE(base.WriteMessage(i, m));
  }
}

// Reads, writes and deletes on whatever the files hold now: none of it
// may crash or touch memory it should not (the sanitizer build checks).
void Exercise() {
  const BaseView view = ViewBase(kBase);
  if (!view.opens) return;
  JamBase base;
  ASSERT_FALSE(base.Open(kBase));
  Message m;
  FillMessage(m, "New", "new\r");
  static_cast<void>(base.WriteMessage(2, m));
  static_cast<void>(base.DeleteMessage(1));
  static_cast<void>(base.WriteMessage(base.Count() + 1, m));
  for (std::int32_t n = 1; n <= base.Count(); ++n)
    static_cast<void>(testing::DescribeMessage(base, n));
}

class JamDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeRichBase();
    for (const char* file : kFiles) original_.push_back(testing::FileBytes(disk_, file));
  }
  void Restore() {
    for (std::size_t i = 0; i < original_.size(); ++i)
      disk_.WriteFileBytes(kFiles[i], original_[i]);
  }

  MemoryPlatform disk_;
  ScopedPlatform installed_{disk_};
  std::vector<std::string> original_;
};

TEST_F(JamDamageTest, HostileLengthsAndOffsetsGiveAFailureOrAPartialRead) {
  struct Field {
    const char* name;
    std::uint64_t offset;  // in the header of message 1
  };
  const Field fields[] = {{"SubfieldLen", 8}, {"TxtOffset", 60}, {"TxtLen", 64}};
  for (const Field& field : fields) {
    for (const std::uint32_t value : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFFF0u}) {
      SCOPED_TRACE(std::string(field.name) + " " + std::to_string(value));
      std::string jhr = original_[0];
      jhr.replace(1024 + field.offset, 4, testing::Le32(value));
      disk_.WriteFileBytes("/area.jhr", jhr);
      const BaseView view = ViewBase(kBase);
      ASSERT_TRUE(view.opens);
      ASSERT_EQ(view.count, 3);
      // Message 1 is read as far as the files hold it; the others whole.
      EXPECT_TRUE(view.messages[0].has_value());
      JamBase base;
      ASSERT_FALSE(base.Open(kBase));
      Message m;
      ASSERT_FALSE(base.ReadMessage(1, m));
      if (field.offset != 8) {
        EXPECT_EQ(testing::TextOf(m), "");
      }
      EXPECT_EQ(view.messages[1], ViewBase(kBase).messages[1]);
      Exercise();
      Restore();
    }
  }
  // Index records that point anywhere but at a header.
  for (const std::uint32_t offset : {0u, 1023u, 0x7FFFFFFFu, 0xFFFFFFFEu}) {
    SCOPED_TRACE(offset);
    std::string jdx = original_[2];
    jdx.replace(4, 4, testing::Le32(offset));
    disk_.WriteFileBytes("/area.jdx", jdx);
    JamBase base;
    ASSERT_FALSE(base.Open(kBase));
    Message m;
    EXPECT_TRUE(base.ReadMessage(1, m));
    EXPECT_TRUE(base.DeleteMessage(1));
    Exercise();
    Restore();
  }
}

}  // namespace
}  // namespace qlr
