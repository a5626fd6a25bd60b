#include "msgbase/formats/all_formats.h"

#include <array>

#include "msgbase/jam/jam_format.h"
#include "msgbase/msgdir/msgdir_format.h"
#include "msgbase/packet/packet_format.h"
#include "msgbase/squish/squish_format.h"

namespace qlr {

std::span<const FormatDescriptor* const> BuiltInFormats() {
  static const std::array<const FormatDescriptor*, 4> kFormats = {
      &MsgDirFormat(),
      &PacketFormat(),
      &SquishFormat(),
      &JamFormat(),
  };
  return kFormats;
}

void InstallBuiltInFormats() { InstallFormats(BuiltInFormats()); }

}  // namespace qlr
