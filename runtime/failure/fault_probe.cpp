// A small program on the failure layer for the fault report tests: it
// writes one line, then fails in the way its argument names.
#include <csignal>
#include <new>
#include <stdexcept>
#include <string_view>

#include "runtime/channel/text_channel.h"
#include "runtime/failure/failure.h"

namespace diskmaps {
namespace {

std::string_view probe_mode;

// Kept out of reach of the optimiser, so the faulting accesses happen.
volatile std::uintptr_t unmapped_address = 0x10;
volatile int recursion_end = -1;
volatile int divisor = 0;

[[gnu::noinline]] int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth == recursion_end) return 0;
  return Recurse(depth + 1) + frame[0];
}

[[gnu::noinline]] int DivideByZero() {
  int quotient = 1;
#if defined(__x86_64__)
  // The processor's own division, so that the fault is the hardware's.
  int remainder = 0;
  const int zero = divisor;
  asm volatile("cltd\n\tidivl %2"
               : "+a"(quotient), "=&d"(remainder)
               : "r"(zero));
#else
  quotient = 1 / divisor;
#endif
  return quotient;
}

void Body() {
  WriteText(ConsoleOutput, "avant");
  EndLine(ConsoleOutput);
  IoCheck();
  if (probe_mode == "read-fault") {
    static_cast<void>(*reinterpret_cast<volatile int*>(unmapped_address));
  } else if (probe_mode == "write-fault") {
    *reinterpret_cast<volatile int*>(unmapped_address) = 1;
  } else if (probe_mode == "stack-overflow") {
    static_cast<void>(Recurse(0));
  } else if (probe_mode == "divide") {
    static_cast<void>(DivideByZero());
  } else if (probe_mode == "raise") {
    RaiseAt(EOverflow(), __builtin_return_address(0));
  } else if (probe_mode == "io-check") {
    IoErrorCode = 123;
    IoCheck();
  } else if (probe_mode == "out-of-memory") {
    throw std::bad_alloc();
  } else if (probe_mode == "other-exception") {
    throw std::runtime_error("inattendu");
  } else if (probe_mode == "interrupt") {
    std::raise(SIGINT);
  } else if (probe_mode == "plain") {
    EndRunWithRuntimeError(203, __builtin_return_address(0));
  }
  WriteText(ConsoleOutput, "apres");
  EndLine(ConsoleOutput);
  IoCheck();
}

}  // namespace
}  // namespace diskmaps

int main(int argc, char** argv) {
  if (argc > 1) diskmaps::probe_mode = argv[1];
  diskmaps::RunProgram(&diskmaps::Body);
}
