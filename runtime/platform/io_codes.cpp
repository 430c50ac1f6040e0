#include "runtime/platform/io_codes.h"

#include <cerrno>

namespace diskmaps {
namespace {

struct ErrnoCode {
  int error_number;
  std::int32_t code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, kIoCodePathNotFound},     {ENOTDIR, kIoCodePathNotFound},
    {EACCES, kIoCodeAccessDenied},     {EPERM, kIoCodeAccessDenied},
    {EROFS, kIoCodeAccessDenied},      {EISDIR, kIoCodeAccessDenied},
    {EMFILE, kIoCodeTooManyOpenFiles}, {ENFILE, kIoCodeTooManyOpenFiles},
    {ENOSPC, kIoCodeDiskFull},         {EDQUOT, kIoCodeDiskFull},
    {EFBIG, kIoCodeDiskFull},          {ENAMETOOLONG, kIoCodeNameTooLong},
    {EBUSY, kIoCodeSharingViolation},  {ETXTBSY, kIoCodeSharingViolation},
    {EPIPE, kIoCodeBrokenPipe},        {EBADF, kIoCodeInvalidHandle},
    {EINVAL, kIoCodeInvalidParameter},
};

}  // namespace

std::int32_t IoCodeFromErrno(int error_number) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.error_number == error_number) return entry.code;
  }
  return kIoCodeGeneralFailure;
}

}  // namespace diskmaps
