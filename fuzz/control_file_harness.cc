// The control file: the bytes are qlr.ctl, loaded with the program's
// keywords, then read back the way the program reads it.
#include "harness_support.h"
#include "harnesses.h"
#include "support/stream.h"
#include "util/control_file.h"

namespace qlr::fuzz {

int FuzzControlFile(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    // The line reader on its own, to the end of the data.
    MemoryStream stream;
    stream.Write(bytes.data(), bytes.size());
    stream.Seek(0);
    std::int32_t status = 0;
    bool cut = false;
    while (stream.Position() < stream.Size()) {
      const std::int32_t before = stream.Position();
      (void)ReadLine(stream, &status, &cut);
      if (stream.Position() <= before) break;  // a reader that stops moving
    }
  }
  MemoryDisk disk;
  disk.Write("qlr.ctl", bytes);
  ControlFile control;
  for (const std::string_view keyword : {"MaxMessages", "Base", "Arc.Extension", "Arc.Add"}) {
    control.AddKeyword(keyword);
  }
  if (control.Load(MemoryDisk::Path("qlr.ctl"))) return 0;
  for (std::int32_t keyword = 0; keyword <= 5; ++keyword) {
    const std::int32_t count = control.ValueCount(keyword);
    for (std::int32_t index = 0; index <= count + 1; ++index) {
      (void)control.GetValue(keyword, index);
    }
  }
  for (std::int32_t index = 0; index <= control.ErrorCount() + 1; ++index) {
    (void)control.ErrorLine(index);
  }
  return 0;
}

}  // namespace qlr::fuzz
