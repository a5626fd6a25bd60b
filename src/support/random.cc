#include "support/random.h"

namespace qlr {

PseudoRandom& ProgramRandom() {
  static PseudoRandom generator;
  return generator;
}

}  // namespace qlr
