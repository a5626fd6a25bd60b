// The unit tests' main: the program's formats are installed first, as the
// program's own main does, so that base specs mean what they mean there.
#include <gtest/gtest.h>

#include "msgbase/formats/all_formats.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qlr::InstallBuiltInFormats();
  return RUN_ALL_TESTS();
}
