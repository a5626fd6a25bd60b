// Prints the process id and then N MSGID serials, one a line, for the
// test that runs two of these side by side:
//   qlr_serial_probe N
#include <cstdio>
#include <cstdlib>

#include "msgbase/serial.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: qlr_serial_probe N\n", stderr);
    return 2;
  }
  const long n = std::strtol(argv[1], nullptr, 10);
  std::printf("%u\n", static_cast<unsigned>(qlr::Os().ProcessId()));
  for (long i = 0; i < n; ++i) {
    const qlr::ShortString serial = qlr::NewSerial();
    std::fwrite(serial.data(), 1, serial.size(), stdout);
    std::fputc('\n', stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
