#include "msgbase/packet/packet_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/file_set_check.h"
#include "msgbase/ftn_date.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_check.h"
#include "msgbase/packet/packet_records.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qlr {
namespace {

constexpr std::array<std::string_view, 1> kExtensions = {".pkt"};

// Written beside the packet while the empty packet that replaces it is
// made; like the purge's temporary name, it is never taken for a packet.
constexpr std::string_view kEmptyTempSuffix = ".qlr-empty";

// Writes an empty packet (header and terminator) to `path` and makes it
// durable. On failure the file is removed again.
Status WriteEmptyPacket(const std::string& path) {
  PacketHeader h;
  StampPacketHeader(h, CurrentDateTime());
  std::array<std::uint8_t, kEmptyPacketSize> bytes{};  // the terminator stays 0
  h.EncodeTo(bytes.data());
  RemoveStaleTemporary(path);
  auto file = Os().OpenFile(path, OpenMode::kCreateNew);
  if (!file) return file.status();
  std::size_t written = 0;
  Status ok = file->Write(bytes.data(), bytes.size(), &written);
  if (ok) ok = file->Sync();
  const Status closed = file->Close();
  if (ok) ok = closed;
  if (!ok) DeleteFileIfExists(path);
  return ok;
}

// Replaces the packet after a complete copy by an empty one under the same
// name. Packets have no lock convention, so this happens only when the
// packet is still the file that was copied (size, time, identity): a
// packet that a mailer appended to meanwhile stays, whole, for the next
// rotation. The empty packet is written and made durable under another
// name first and then renamed over the packet, so a crash at any point
// leaves a packet under the name: the copied one or the empty one.
std::unique_ptr<MessageBase> ErasePacket(std::string_view location, const CopyManifest* copied,
                                         Status* why) {
  const ShortString packet = FileOfSet(location, ".pkt");
  if (!FileSetUnchangedSinceCopy(PacketFormat(), location, copied, why)) return nullptr;
  // The platform's reason for the call that failed, or `what` about `path`.
  const auto failed = [why](const Status& reported, std::string_view path, std::string_view what) {
    *why = reported.ok() ? Status(StatusKind::kIoError, path, what) : reported;
    return nullptr;
  };
  const std::string temp = std::string(packet.view()) + std::string(kEmptyTempSuffix);
  if (const Status written = WriteEmptyPacket(temp); !written) {
    return failed(written, temp, "cannot be written");
  }
  // The empty packet keeps the permissions of the one it replaces.
  if (const auto status = Os().Stat(packet)) {
    if (const Status moded = Os().RestoreNativeMode(temp, status->native_mode); !moded) {
      failed(moded, temp, "cannot take the packet's permissions");
      DeleteFileIfExists(temp);
      return nullptr;
    }
  }
  if (const Status renamed = Os().Rename(temp, packet); !renamed) {
    failed(renamed, packet, "cannot be replaced");
    DeleteFileIfExists(temp);
    return nullptr;
  }
  // Until the rename is durable a crash may bring the copied packet back;
  // that loses nothing, but the erase is not reported as done.
  const ShortString directory = JustPathName(packet);
  const std::string_view dir = directory.empty() ? std::string_view(".") : directory.view();
  if (const Status synced = Os().SyncDirectory(dir); !synced) {
    return failed(synced, dir, "cannot be flushed");
  }
  auto base = std::make_unique<PacketBase>();
  if (base->Create(packet) || base->State() != BaseState::kCreated) {
    *why = base->LastError().ok() ? Status(StatusKind::kIoError, packet, "cannot be opened")
                                  : base->LastError();
    return nullptr;
  }
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
      .check = &CheckPacket,
  };
  return kFormat;
}

}  // namespace qlr
