// Windows-only parts of the platform contract: how system error codes
// become statuses.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <string>

#include "platform/status.h"
#include "platform/win32/win32_error.h"

namespace qlr {
namespace {

TEST(PlatformContractWin32Test, ErrorKinds) {
  struct Case {
    DWORD error;
    StatusKind kind;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, StatusKind::kNotFound},
      {ERROR_PATH_NOT_FOUND, StatusKind::kNotFound},
      {ERROR_DISK_FULL, StatusKind::kNoSpace},
      {ERROR_HANDLE_DISK_FULL, StatusKind::kNoSpace},
      {ERROR_LOCK_VIOLATION, StatusKind::kBusy},
      {ERROR_SHARING_VIOLATION, StatusKind::kBusy},
      {ERROR_INVALID_PARAMETER, StatusKind::kInvalidArgument},
      {ERROR_NOT_SUPPORTED, StatusKind::kNotSupported},
      {ERROR_INVALID_FUNCTION, StatusKind::kNotSupported},
      {ERROR_ACCESS_DENIED, StatusKind::kIoError},
      {ERROR_WRITE_FAULT, StatusKind::kIoError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(KindOfWin32Error(c.error), c.kind);
    EXPECT_EQ(Win32ErrorStatus(c.error, "C:\\x").kind(), c.kind);
  }
}

TEST(PlatformContractWin32Test, StatusCarriesPathAndSystemText) {
  const Status status = Win32ErrorStatus(ERROR_FILE_NOT_FOUND, "C:\\base\\a.jhr");
  EXPECT_EQ(status.path(), "C:\\base\\a.jhr");
  ASSERT_FALSE(status.detail().empty());
  // The message's own line break is not part of the text.
  const char last = status.detail().back();
  EXPECT_NE(last, '\n');
  EXPECT_NE(last, '\r');
  EXPECT_EQ(status.ToString(), "C:\\base\\a.jhr: " + status.detail());
}

}  // namespace
}  // namespace qlr

#endif  // _WIN32
