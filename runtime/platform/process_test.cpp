#include "runtime/platform/process.h"

#include <signal.h>

#include "gtest/gtest.h"

namespace diskmaps {
namespace {

constexpr StackBounds kStack = {0x7FFF00000000, 0x7FFF00800000};

SignalFacts Fault(int signal, int code) {
  SignalFacts facts;
  facts.signal = signal;
  facts.code = code;
  facts.instruction = 0x401234;
  facts.accessed = 0x10;
  facts.stack_pointer = 0x7FFF007F0000;
  return facts;
}

TEST(ClassifySignalTest, SignalsOntoTheRowsOfTheFailureTable) {
  struct Case {
    int signal;
    int code;
    FaultKind kind;
  };
  const Case cases[] = {
      {SIGFPE, FPE_INTDIV, FaultKind::kIntDivideByZero},
      {SIGFPE, FPE_INTOVF, FaultKind::kIntOverflow},
      {SIGFPE, FPE_FLTDIV, FaultKind::kFloatDivideByZero},
      {SIGFPE, FPE_FLTOVF, FaultKind::kFloatOverflow},
      {SIGFPE, FPE_FLTUND, FaultKind::kFloatUnderflow},
      {SIGFPE, FPE_FLTINV, FaultKind::kFloatInvalid},
      {SIGFPE, FPE_FLTRES, FaultKind::kFloatInvalid},
      {SIGFPE, FPE_FLTSUB, FaultKind::kBoundsExceeded},
      {SIGILL, ILL_PRVOPC, FaultKind::kPrivilegedInstruction},
      {SIGILL, ILL_ILLOPC, FaultKind::kOther},
      {SIGSEGV, SEGV_MAPERR, FaultKind::kAccessViolation},
      {SIGSEGV, SEGV_ACCERR, FaultKind::kAccessViolation},
      {SIGBUS, BUS_ADRERR, FaultKind::kAccessViolation},
      // Sent by another process: no fault of this one.
      {SIGSEGV, SI_USER, FaultKind::kOther},
      {SIGFPE, SI_TKILL, FaultKind::kOther},
  };
  for (const Case& c : cases) {
    const ProcessorFault fault =
        ClassifySignal(Fault(c.signal, c.code), kStack);
    EXPECT_EQ(fault.kind, c.kind) << c.signal << " " << c.code;
    EXPECT_EQ(fault.code, static_cast<std::uint32_t>(c.signal));
    EXPECT_EQ(fault.instruction, 0x401234u);
  }
}

TEST(ClassifySignalTest, AccessKindFromThePageFaultErrorCode) {
  struct Case {
    long error;
    AccessKind access;
  };
  const Case cases[] = {
      {-1, AccessKind::kUnknown}, {0x4, AccessKind::kRead},
      {0x6, AccessKind::kWrite},  {0x14, AccessKind::kWrite},  // fetch
      {0x5, AccessKind::kRead},
  };
  for (const Case& c : cases) {
    SignalFacts facts = Fault(SIGSEGV, SEGV_MAPERR);
    facts.page_fault_error = c.error;
    const ProcessorFault fault = ClassifySignal(facts, kStack);
    EXPECT_EQ(fault.access, c.access) << c.error;
    EXPECT_EQ(fault.accessed, 0x10u);
  }
}

TEST(ClassifySignalTest, FaultsAtTheEndOfTheStackAreStackOverflows) {
  struct Case {
    std::uintptr_t accessed;
    std::uintptr_t stack_pointer;
    bool overflow;
  };
  const Case cases[] = {
      {kStack.low - 8, kStack.low, true},      // a push past the end
      {kStack.low - 0x80000, 0x1000, true},    // in the guard gap
      {kStack.low - 0x200000, 0x1000, false},  // below the gap
      {0x5000000, 0x5000010, true},            // beside the pointer
      {0x10, 0x7FFF007F0000, false},
      {kStack.high, 0x7FFF00700000, false},
  };
  for (const Case& c : cases) {
    SignalFacts facts = Fault(SIGSEGV, SEGV_MAPERR);
    facts.accessed = c.accessed;
    facts.stack_pointer = c.stack_pointer;
    EXPECT_EQ(ClassifySignal(facts, kStack).kind == FaultKind::kStackOverflow,
              c.overflow)
        << std::hex << c.accessed;
  }
}

TEST(ProcessTest, ExecutableAndModules) {
  const ModulePath path = ExecutableFilePath();
  EXPECT_TRUE(path.View().ends_with("/platform_test")) << path.View();
  NoteCodeModules();
  const CodeModule* module =
      FindCodeModule(reinterpret_cast<std::uintptr_t>(&ExecutableFilePath));
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(module->is_executable);
  int local = 0;
  EXPECT_EQ(FindCodeModule(reinterpret_cast<std::uintptr_t>(&local)), nullptr);
}

}  // namespace
}  // namespace diskmaps
