#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "runtime/failure/exceptions.h"
#include "runtime/platform/process.h"

namespace diskmaps {

// The floating-point mode of the run: 64-bit significand, rounding to
// nearest with ties to even; invalid operation, division by zero and overflow
// unmasked. The software arithmetic always works in this mode, so loading it
// is a step without effect that keeps its place in the run's order.
inline constexpr std::uint16_t DefaultFpuControlWord = 0x1332;
void ResetFpu();

// Returns the pending I/O code and clears it.
std::int32_t TakeIoErrorCode();
// Builds the EInOutError of the pending code (and clears it).
EInOutError MakeIoFailure();
// Raises the failure of a pending I/O code, located just after the call.
// Returns at once when no code is pending.
[[gnu::noinline]] void IoCheck();

// The failure object of a processor fault.
using OsFailure =
    std::variant<EDivByZero, ERangeError, EIntOverflow, EInvalidOp, EZeroDivide,
                 EOverflow, EUnderflow, EAccessViolation, EPrivilege, EControlC,
                 EStackOverflow, EExternalException>;
// Builds it; `module` is the module that contains the failing instruction,
// or nullptr when none does. The location is the instruction's offset from
// the start of that module's image.
OsFailure MakeOsFailure(const ProcessorFault& fault, const CodeModule* module);
const Exception& FailureOf(const OsFailure& failure);

// A module's file name without its directory, from its path cut to
// kMaxModulePathLength bytes.
std::string_view ModuleFileName(std::string_view path);

// Longest report text: "Exception <class> dans le module <260 bytes> à
// <8 digits>." LF, then a message with its full stop.
inline constexpr std::size_t kMaxReportLength = 768;
struct ReportText {
  char bytes[kMaxReportLength];
  std::size_t length = 0;
  std::string_view View() const { return {bytes, length}; }
};
// The report text of `failure` in `module_name`, without its final line end.
ReportText ComposeFailureReport(const Exception& failure,
                                std::string_view module_name);
// The report of a run-time error raised outside the failure layer:
// "Runtime error nnnn at hhhhhhhh", 29 bytes.
inline constexpr std::size_t kPlainReportLength = 29;
ReportText ComposePlainReport(std::int32_t error_number,
                              std::uint32_t location);

// The executable's file name as StartRun noted it.
std::string_view ProgramModuleName();

// Writes the report on ConsoleOutput and ends the run with exit code 1. A
// report that cannot be written is dropped.
[[noreturn]] void ReportUnhandledFailure(const Exception& failure);

// Sets the run up: the program's module, the floating-point mode, the
// console channels, then the failure layer (fault signals included).
void StartRun();
// Takes the run down and ends the process with `exit_code`.
[[noreturn]] void EndRun(int exit_code);

// A run-time error while the failure layer is not installed (a failure of
// StartRun): no failure object; EndRun writes the plain report and ends the
// process with `error_number` as exit code.
[[noreturn]] void EndRunWithRuntimeError(std::int32_t error_number,
                                         const void* code_address);

// The run's frame: StartRun, `body`, EndRun(0). Every failure that escapes
// `body` becomes the report; memory exhaustion (std::bad_alloc) is reported
// as EOutOfMemory.
[[noreturn]] void RunProgram(void (*body)());

}  // namespace diskmaps
