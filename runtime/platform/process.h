#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace diskmaps {

// The process itself, as the failure layer sees it: the executable's name,
// the loaded code modules, the processor fault signals and the exit.

// Longest module path that the failure report uses.
inline constexpr std::size_t kMaxModulePathLength = 260;

// The executable file's full path as the kernel gives it, cut to
// kMaxModulePathLength bytes; empty when it cannot be read.
struct ModulePath {
  char bytes[kMaxModulePathLength] = {};
  std::size_t length = 0;
  std::string_view View() const { return {bytes, length}; }
};
ModulePath ExecutableFilePath();

// A loaded code module: the address range of its image and its path.
struct CodeModule {
  std::uintptr_t start = 0;  // load address: the start of the image
  std::uintptr_t end = 0;    // one past its last byte
  bool is_executable = false;
  const char* path = "";  // NUL-terminated; empty for the executable
};

// Notes the code modules loaded in the process. The program loads no module
// later, so the note stays valid for the whole run.
void NoteCodeModules();
// The noted module whose image contains `address`, or nullptr. Safe in a
// signal handler.
const CodeModule* FindCodeModule(std::uintptr_t address);

// A processor fault, by the row of the failure table it belongs to.
enum class FaultKind : std::uint8_t {
  kIntDivideByZero,
  kBoundsExceeded,
  kIntOverflow,
  kFloatInvalid,
  kFloatDivideByZero,
  kFloatOverflow,
  kFloatUnderflow,
  kAccessViolation,
  kPrivilegedInstruction,
  kConsoleInterrupt,
  kStackOverflow,
  kOther,
};

enum class AccessKind : std::uint8_t { kRead, kWrite, kUnknown };

struct ProcessorFault {
  FaultKind kind = FaultKind::kOther;
  std::uint32_t code = 0;                    // the signal number
  std::uintptr_t instruction = 0;            // the failing instruction
  AccessKind access = AccessKind::kUnknown;  // access violations
  std::uintptr_t accessed = 0;               // the address accessed
};

// What a fault signal tells, before it is sorted into a FaultKind.
struct SignalFacts {
  int signal = 0;
  int code = 0;  // si_code: <= 0 when another process sent the signal
  std::uintptr_t instruction = 0;
  std::uintptr_t accessed = 0;
  std::uintptr_t stack_pointer = 0;
  // The x86-64 page-fault error code, or -1 when the platform gives none.
  long page_fault_error = -1;
};

// The main thread's stack: [low, high), `low` its lowest possible end.
struct StackBounds {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
};

// Sorts a fault signal into its row of the failure table. A segmentation
// fault at the end of the stack, or just around the stack pointer, is a
// stack overflow.
ProcessorFault ClassifySignal(const SignalFacts& facts,
                              const StackBounds& stack);

// Called on an alternate stack with the fault; must end the process.
using FaultHandler = void (*)(const ProcessorFault& fault);

// Sends SIGSEGV, SIGBUS, SIGFPE and SIGILL to `handler`, which runs on an
// alternate signal stack (so that a stack overflow can be reported). Each
// handler is reset to the default action as it runs: a fault inside the
// handler ends the process. The console interrupt keeps its default action.
void InstallFaultHandlers(FaultHandler handler);
void RemoveFaultHandlers();

// Ends the process with `exit_code` after the usual process clean-up.
[[noreturn]] void ExitProcess(int exit_code);
// Ends the process at once; safe in a signal handler.
[[noreturn]] void ExitProcessAtOnce(int exit_code);

}  // namespace diskmaps
