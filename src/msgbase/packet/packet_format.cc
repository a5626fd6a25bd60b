#include "msgbase/packet/packet_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/file_set_check.h"
#include "msgbase/ftn_date.h"
#include "msgbase/open_contract.h"
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
#include <utility>

namespace qlr {
namespace {

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
Status ErasePacket(std::string_view location, const CopyManifest* copied,
                   std::unique_ptr<MessageBase>* emptied) {
  const std::string packet = FileOfSet(location, ".pkt");
  if (Status why; !FileSetUnchangedSinceCopy(PacketFormat(), location, copied, &why)) return why;
  // The platform's reason for the call that failed, or `what` about `path`.
  const auto failed = [](const Status& reported, std::string_view path, std::string_view what) {
    return reported.ok() ? Status(StatusKind::kIoError, path, what) : reported;
  };
  const std::string temp = packet + std::string(kEmptyTempSuffix);
  if (const Status written = WriteEmptyPacket(temp); !written) {
    return failed(written, temp, "cannot be written");
  }
  // The empty packet keeps the permissions of the one it replaces.
  if (const auto status = Os().Stat(packet)) {
    if (const Status moded = Os().RestoreNativeMode(temp, status->native_mode); !moded) {
      const Status why = failed(moded, temp, "cannot take the packet's permissions");
      DeleteFileIfExists(temp);
      return why;
    }
  }
  if (const Status renamed = Os().Rename(temp, packet); !renamed) {
    const Status why = failed(renamed, packet, "cannot be replaced");
    DeleteFileIfExists(temp);
    return why;
  }
  // Until the rename is durable a crash may bring the copied packet back;
  // that loses nothing, but the erase is not reported as done.
  const std::string directory = JustPathName(packet);
  const std::string_view dir = directory.empty() ? std::string_view(".") : directory;
  if (const Status synced = Os().SyncDirectory(dir); !synced) {
    return failed(synced, dir, "cannot be flushed");
  }
  auto base = std::make_unique<PacketBase>();
  if (base->Create(packet) || base->State() != BaseState::kCreated) {
    return base->LastError().ok() ? Status(StatusKind::kIoError, packet, "cannot be opened")
                                  : base->LastError();
  }
  if (emptied != nullptr) *emptied = std::move(base);
  return Status::Ok();
}

// A packet is opened by its file name; a missing one is created.
Status OpenPacket(std::string_view location, std::unique_ptr<MessageBase>* base) {
  const std::string packet = std::string(location) + ".pkt";
  auto made = std::make_unique<PacketBase>();
  const bool failed =
      KeyFileExists(PacketFormat(), location) ? made->Open(packet) : made->Create(packet);
  return ConcludeOpen(std::move(made), failed, base);
}

OpenCourse ForeseePacket(std::string_view location) {
  return KeyFileExists(PacketFormat(), location) ? OpenCourse::kOpen : OpenCourse::kCreate;
}

}  // namespace

const FormatDescriptor& PacketFormat() {
  static const FormatDescriptor kFormat{
      .name = "packet",
      .type_characters = "P",
      .layout = FileLayout::kFileSet,
      // The files of a base, in the order they are handled, as the base
      // class names them: the one list of them.
      .extensions = PacketBase::kExtensions,
      .message_mask = {},
      .lock_extension = {},
      .open = &OpenPacket,
      .foresee = &ForeseePacket,
      .erase = &ErasePacket,
      .check = &CheckPacket,
  };
  return kFormat;
}

}  // namespace qlr
