#include "runtime/platform/process.h"

#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

namespace diskmaps {
namespace {

constexpr std::array<int, 4> kFaultSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Beyond the stack's lowest end the kernel keeps a gap of unmapped pages;
// a fault there is the stack running into its limit too.
constexpr std::uintptr_t kStackGuardGap = std::uintptr_t{1} << 20;
// A fault this close to the stack pointer is a push or a frame that did not
// fit.
constexpr std::uintptr_t kStackPointerReach = std::uintptr_t{64} << 10;

constexpr std::size_t kMaxCodeModules = 64;

// The process-wide state of this file: the modules noted at start-up, the
// fault handler, and the alternate stack that the handler runs on.
struct ProcessState {
  std::array<CodeModule, kMaxCodeModules> modules;
  std::size_t module_count = 0;
  FaultHandler fault_handler = nullptr;
  StackBounds stack;
  alignas(16) std::array<char, std::size_t{64} << 10> signal_stack;
};
ProcessState process_state;

int NoteOneModule(dl_phdr_info* info, std::size_t, void*) {
  if (process_state.module_count == kMaxCodeModules) return 1;
  std::uintptr_t low = UINTPTR_MAX;
  std::uintptr_t high = 0;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type != PT_LOAD) continue;
    low = std::min<std::uintptr_t>(low, header.p_vaddr);
    high = std::max<std::uintptr_t>(high, header.p_vaddr + header.p_memsz);
  }
  if (high <= low) return 0;
  CodeModule& module = process_state.modules[process_state.module_count++];
  module.start = info->dlpi_addr + low;
  module.end = info->dlpi_addr + high;
  // The first object is the executable itself, listed with an empty name.
  module.is_executable = process_state.module_count == 1;
  module.path = info->dlpi_name != nullptr ? info->dlpi_name : "";
  return 0;
}

StackBounds CurrentThreadStack() {
  StackBounds bounds;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return bounds;
  void* low = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
    bounds.low = reinterpret_cast<std::uintptr_t>(low);
    bounds.high = bounds.low + size;
  }
  pthread_attr_destroy(&attributes);
  return bounds;
}

void OnFaultSignal(int signal, siginfo_t* info, void* context) {
  SignalFacts facts;
  facts.signal = signal;
  facts.code = info->si_code;
  facts.accessed = reinterpret_cast<std::uintptr_t>(info->si_addr);
#if defined(__x86_64__)
  const auto* machine = &static_cast<const ucontext_t*>(context)->uc_mcontext;
  facts.instruction = static_cast<std::uintptr_t>(machine->gregs[REG_RIP]);
  facts.stack_pointer = static_cast<std::uintptr_t>(machine->gregs[REG_RSP]);
  if (signal == SIGSEGV) facts.page_fault_error = machine->gregs[REG_ERR];
#else
  static_cast<void>(context);
  facts.instruction = facts.accessed;
#endif
  const FaultHandler handler = process_state.fault_handler;
  if (handler != nullptr) handler(ClassifySignal(facts, process_state.stack));
  ExitProcessAtOnce(1);
}

FaultKind FloatingPointKind(int code) {
  switch (code) {
    case FPE_INTDIV:
      return FaultKind::kIntDivideByZero;
    case FPE_INTOVF:
      return FaultKind::kIntOverflow;
    case FPE_FLTDIV:
      return FaultKind::kFloatDivideByZero;
    case FPE_FLTOVF:
      return FaultKind::kFloatOverflow;
    case FPE_FLTUND:
      return FaultKind::kFloatUnderflow;
    case FPE_FLTRES:
    case FPE_FLTINV:
      return FaultKind::kFloatInvalid;
    case FPE_FLTSUB:
      return FaultKind::kBoundsExceeded;
    default:
      return FaultKind::kOther;
  }
}

bool IsStackOverflow(const SignalFacts& facts, const StackBounds& stack) {
  const std::uintptr_t address = facts.accessed;
  if (stack.high != 0 && address < stack.high &&
      address >= stack.low - std::min(stack.low, kStackGuardGap)) {
    return true;
  }
  const std::uintptr_t sp = facts.stack_pointer;
  return sp != 0 && address + kStackPointerReach >= sp &&
         address <= sp + kStackPointerReach;
}

}  // namespace

ModulePath ExecutableFilePath() {
  ModulePath path;
  const ssize_t length =
      readlink("/proc/self/exe", path.bytes, sizeof path.bytes);
  path.length = length > 0 ? static_cast<std::size_t>(length) : 0;
  return path;
}

void NoteCodeModules() {
  process_state.module_count = 0;
  dl_iterate_phdr(&NoteOneModule, nullptr);
}

const CodeModule* FindCodeModule(std::uintptr_t address) {
  for (std::size_t i = 0; i < process_state.module_count; ++i) {
    const CodeModule& module = process_state.modules[i];
    if (address >= module.start && address < module.end) return &module;
  }
  return nullptr;
}

ProcessorFault ClassifySignal(const SignalFacts& facts,
                              const StackBounds& stack) {
  ProcessorFault fault;
  fault.code = static_cast<std::uint32_t>(facts.signal);
  fault.instruction = facts.instruction;
  // A fault signal that another process sent is no fault of this one.
  if (facts.code <= 0) return fault;
  switch (facts.signal) {
    case SIGSEGV:
    case SIGBUS:
      if (facts.signal == SIGSEGV && IsStackOverflow(facts, stack)) {
        fault.kind = FaultKind::kStackOverflow;
        break;
      }
      fault.kind = FaultKind::kAccessViolation;
      fault.accessed = facts.accessed;
      // Error code bit 1: a write; bit 4: an instruction fetch. Only a
      // plain data read counts as a read.
      if (facts.page_fault_error >= 0) {
        fault.access = (facts.page_fault_error & 0x12) == 0
                           ? AccessKind::kRead
                           : AccessKind::kWrite;
      }
      break;
    case SIGFPE:
      fault.kind = FloatingPointKind(facts.code);
      break;
    case SIGILL:
      if (facts.code == ILL_PRVOPC || facts.code == ILL_PRVREG) {
        fault.kind = FaultKind::kPrivilegedInstruction;
      }
      break;
    default:
      break;
  }
  return fault;
}

void InstallFaultHandlers(FaultHandler handler) {
  process_state.fault_handler = handler;
  process_state.stack = CurrentThreadStack();
  stack_t alternate = {};
  alternate.ss_sp = process_state.signal_stack.data();
  alternate.ss_size = process_state.signal_stack.size();
  sigaltstack(&alternate, nullptr);
  struct sigaction action = {};
  action.sa_sigaction = &OnFaultSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal : kFaultSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : kFaultSignals) sigaction(signal, &action, nullptr);
}

void RemoveFaultHandlers() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : kFaultSignals) sigaction(signal, &action, nullptr);
  process_state.fault_handler = nullptr;
}

void ExitProcessAtOnce(int exit_code) { _exit(exit_code); }

}  // namespace diskmaps
