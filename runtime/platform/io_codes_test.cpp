#include "runtime/platform/io_codes.h"

#include <cerrno>

#include "gtest/gtest.h"

namespace diskmaps {
namespace {

TEST(IoCodesTest, ErrnoValuesMapOntoTheirCodes) {
  const struct {
    int error_number;
    std::int32_t code;
  } cases[] = {
      {ENOENT, 3},
      {ENOTDIR, 3},
      {EACCES, 5},
      {EPERM, 5},
      {EROFS, 5},
      {EISDIR, 5},
      {EMFILE, 4},
      {ENFILE, 4},
      {ENOSPC, 112},
      {EDQUOT, 112},
      {ENAMETOOLONG, 206},
      {EBUSY, 32},
      {ETXTBSY, 32},
      {EPIPE, 232},
      {EBADF, 6},
      {EINVAL, 87},
      {EIO, 31},
      {EAGAIN, 31},
      {0, 31},
      {-1, 31},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(IoCodeFromErrno(test.error_number), test.code)
        << "errno " << test.error_number;
  }
}

}  // namespace
}  // namespace diskmaps
