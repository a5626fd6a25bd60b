#include <csignal>

#include "platform/process_setup.h"

namespace qlr {

void IgnoreFileSizeSignal() {
  // An ignored signal stays ignored across exec, so the archiver, too,
  // sees EFBIG and can report it rather than vanish.
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGXFSZ, &action, nullptr);
}

}  // namespace qlr
