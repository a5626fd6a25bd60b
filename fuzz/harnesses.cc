#include "harnesses.h"

#include <array>

namespace qlr::fuzz {

std::span<const Harness> AllHarnesses() {
  static constexpr std::array<Harness, 9> kHarnesses = {{
      {"control_file", FuzzControlFile},
      {"template_expander", FuzzTemplateExpander},
      {"ftn_date", FuzzFtnDate},
      {"ftn_address", FuzzFtnAddress},
      {"read_text", FuzzReadText},
      {"msgdir_base", FuzzMsgDirBase},
      {"jam_base", FuzzJamBase},
      {"squish_base", FuzzSquishBase},
      {"packet_base", FuzzPacketBase},
  }};
  return kHarnesses;
}

}  // namespace qlr::fuzz
