#include "app/console_output.h"

#include "platform/console.h"

namespace qlr {

void Write(std::string_view text) { WriteStdout(text); }

void WriteLine(std::string_view text) {
  WriteStdout(text);
  WriteStdout(kLineEnd);
}

void WriteCause(std::string_view text) { WriteStderr(Text("qlr: ", text, kLineEnd)); }

}  // namespace qlr
