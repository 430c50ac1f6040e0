#pragma once

#include <cstdint>

namespace diskmaps {

// The program numbers operating-system failures the way its reports know
// them: each errno value maps onto one I/O code.
inline constexpr std::int32_t kIoCodePathNotFound = 3;
inline constexpr std::int32_t kIoCodeTooManyOpenFiles = 4;
inline constexpr std::int32_t kIoCodeAccessDenied = 5;
inline constexpr std::int32_t kIoCodeInvalidHandle = 6;
inline constexpr std::int32_t kIoCodeGeneralFailure = 31;
inline constexpr std::int32_t kIoCodeSharingViolation = 32;
inline constexpr std::int32_t kIoCodeInvalidParameter = 87;
inline constexpr std::int32_t kIoCodeDiskFull = 112;
inline constexpr std::int32_t kIoCodeNameTooLong = 206;
inline constexpr std::int32_t kIoCodeBrokenPipe = 232;

// The I/O code of an errno value; kIoCodeGeneralFailure for any value
// without an entry of its own. Never 0.
std::int32_t IoCodeFromErrno(int error_number);

}  // namespace diskmaps
