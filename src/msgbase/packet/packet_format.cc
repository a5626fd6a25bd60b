#include "msgbase/packet/packet_format.h"

#include <array>
#include <string_view>

namespace qlr {
namespace {

constexpr std::array<std::string_view, 1> kExtensions = {".pkt"};

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
      // No packet base object in this build yet: a packet cannot be opened
      // or emptied, but it can be copied.
      .construct = nullptr,
      .erase = nullptr,
  };
  return kFormat;
}

}  // namespace qlr
