#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/failure/exceptions.h"

namespace diskmaps {

// The floating-point mode of the run: 64-bit significand, rounding to
// nearest with ties to even; invalid operation, division by zero and overflow
// unmasked. The software arithmetic always works in this mode.
inline constexpr std::uint16_t DefaultFpuControlWord = 0x1332;
void ResetFpu();

// Returns the pending I/O code and clears it.
std::int32_t TakeIoErrorCode();
// Builds the EInOutError of the pending code (and clears it).
EInOutError MakeIoFailure();
// Raises the failure of a pending I/O code, located just after the call.
// Returns at once when no code is pending.
void IoCheck();

// Longest report text: two lines plus a message.
inline constexpr std::size_t kMaxReportLength = 512;
// Writes the report text (without its final line end) into `out`; returns
// the end.
char* ComposeFailureReport(const Exception& failure, char* out);
// Writes the report on ConsoleOutput and ends the run with exit code 1.
[[noreturn]] void ReportUnhandledFailure(const Exception& failure);

// Sets the run up: floating-point mode, console channels, failure layer.
void StartRun();
// Takes the run down and ends the process with `exit_code`.
[[noreturn]] void EndRun(int exit_code);

// Runs `body` between StartRun and EndRun(0), turning every failure that
// escapes it into the report.
[[noreturn]] void RunProgram(void (*body)());

}  // namespace diskmaps
