#include "msgbase/packet/packet_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/file_set_check.h"
#include "msgbase/packet/packet_base.h"
#include "platform/platform.h"
#include "util/files.h"

#include <array>
#include <memory>
#include <string_view>

namespace qlr {
namespace {

constexpr std::array<std::string_view, 1> kExtensions = {".pkt"};

// Deletes the packet after a complete copy and leaves an empty one under
// the same name. Packets have no lock convention, so the packet is deleted
// only when it is still the file that was copied (size, time, identity): a
// packet that a mailer appended to meanwhile stays, whole, for the next
// rotation.
std::unique_ptr<MessageBase> ErasePacket(std::string_view location, const CopyManifest* copied) {
  const ShortString packet = FileOfSet(location, ".pkt");
  if (!FileSetUnchangedSinceCopy(PacketFormat(), location, copied)) return nullptr;
  if (FileExists(packet) && !Os().DeleteFile(packet)) return nullptr;
  auto base = std::make_unique<PacketBase>();
  if (base->Create(packet) || base->State() != BaseState::kCreated) return nullptr;
  return base;
}

std::unique_ptr<MessageBase> NewPacketBase() { return std::make_unique<PacketBase>(); }

}  // namespace

const FormatDescriptor& PacketFormat() {
  static const FormatDescriptor kFormat{
      .name = "packet",
      .type_characters = "P",
      .layout = FileLayout::kFileSet,
      .extensions = kExtensions,
      .message_mask = {},
      // A packet is opened by its file name; a missing one is created.
      .open_rule = OpenRule::kOpenElseCreate,
      .open_extension = ".pkt",
      .lock_extension = {},
      .construct = &NewPacketBase,
      .erase = &ErasePacket,
  };
  return kFormat;
}

}  // namespace qlr
