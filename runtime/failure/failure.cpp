#include "runtime/failure/failure.h"

#include <algorithm>
#include <exception>
#include <new>

#include "runtime/channel/text_channel.h"

namespace diskmaps {
namespace {

// Appends text and numbers to a fixed buffer, cutting what does not fit.
// It allocates nothing, so the report can be built inside a fault handler.
class TextBuilder {
 public:
  TextBuilder(char* out, std::size_t capacity)
      : out_(out), capacity_(capacity) {}

  void Append(std::string_view text) {
    const std::size_t count = std::min(text.size(), capacity_ - length_);
    std::copy_n(text.data(), count, out_ + length_);
    length_ += count;
  }
  // Signed decimal, no leading zeros or blanks.
  void AppendDecimal(std::int32_t value) {
    if (value < 0) Append("-");
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                        : static_cast<std::uint32_t>(value);
    char digits[10];
    std::size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    std::reverse(digits, digits + count);
    Append({digits, count});
  }
  // Uppercase hexadecimal, with leading zeros up to `min_digits` digits.
  void AppendHex(std::uint64_t value, std::size_t min_digits) {
    char digits[16];
    std::size_t count = 0;
    do {
      digits[count++] = kHexDigits[value % 16];
      value /= 16;
    } while (value != 0);
    while (count < std::min(min_digits, sizeof digits)) digits[count++] = '0';
    std::reverse(digits, digits + count);
    Append({digits, count});
  }
  std::size_t Length() const { return length_; }
  char Last() const { return length_ == 0 ? '\0' : out_[length_ - 1]; }

 private:
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

// An absolute address in a message: at least 8 uppercase hexadecimal
// digits, more when the address needs them.
constexpr std::size_t kAddressDigits = 8;

// A C++ exception that is none of the program's failures: reported under
// the root class with the text it carries.
class UnclassifiedFailure : public Exception {
 public:
  explicit UnclassifiedFailure(std::string_view text)
      : Exception("Exception", text) {}
};

struct RunState {
  ModulePath program_path;  // noted by StartRun
  bool failure_layer_installed = false;
  bool reporting = false;  // a report is being written
  bool plain_report_pending = false;
  std::int32_t plain_error_number = 0;
  std::uint32_t plain_location = 0;
};
RunState run_state;

// Made before the run starts, so that reporting memory exhaustion takes no
// memory.
EOutOfMemory out_of_memory_failure;

[[gnu::noinline]] const void* CallerAddress() {
  return __builtin_return_address(0);
}

// Writes the report as one statement on ConsoleOutput. A report that
// cannot be written is dropped: reporting that failure would go through the
// same channel again.
void WriteReport(const Exception& failure, std::string_view module_name) {
  ResetFpu();
  const ReportText text = ComposeFailureReport(failure, module_name);
  WriteText(ConsoleOutput, text.View());
  EndLine(ConsoleOutput);
  TakeIoErrorCode();
}

// EndRun up to the process exit: the pending plain report, the failure
// layer removed, the console channels closed.
void TakeRunDown() {
  if (run_state.plain_report_pending) {
    run_state.plain_report_pending = false;
    const ReportText text = ComposePlainReport(run_state.plain_error_number,
                                               run_state.plain_location);
    WriteText(ConsoleOutput, text.View());
    EndLine(ConsoleOutput);
  }
  if (run_state.failure_layer_installed) {
    run_state.failure_layer_installed = false;
    RemoveFaultHandlers();
  }
  CloseChannel(ConsoleInput);
  CloseChannel(ConsoleOutput);
  TakeIoErrorCode();
}

// Runs on the alternate signal stack: the whole report path uses only the
// channel's fixed buffer and plain system calls.
void OnProcessorFault(const ProcessorFault& fault) {
  if (run_state.reporting) ExitProcessAtOnce(1);
  run_state.reporting = true;
  const CodeModule* module = FindCodeModule(fault.instruction);
  const OsFailure failure = MakeOsFailure(fault, module);
  const std::string_view module_name =
      module == nullptr || module->is_executable ? ProgramModuleName()
                                                 : ModuleFileName(module->path);
  WriteReport(FailureOf(failure), module_name);
  TakeRunDown();
  ExitProcessAtOnce(1);
}

constexpr std::int32_t kOutOfMemoryErrorNumber = 203;

}  // namespace

void ResetFpu() {
  // The arithmetic is done in software, always in the mode of
  // DefaultFpuControlWord: there is no unit to reset.
}

std::int32_t TakeIoErrorCode() {
  const std::int32_t code = IoErrorCode;
  IoErrorCode = 0;
  return code;
}

EInOutError MakeIoFailure() {
  const std::int32_t code = TakeIoErrorCode();
  for (const IoErrorMessage& row : IoErrorMessages) {
    if (row.code == code) return EInOutError(code, row.text);
  }
  char text[32];
  TextBuilder builder(text, sizeof text);
  builder.Append(messages::kIoErrorPrefix);
  builder.AppendDecimal(code);
  return EInOutError(code, {text, builder.Length()});
}

void IoCheck() {
  if (IoErrorCode == 0) return;
  RaiseAt(MakeIoFailure(), __builtin_return_address(0));
}

std::string_view ModuleFileName(std::string_view path) {
  path = path.substr(0, kMaxModulePathLength);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

OsFailure MakeOsFailure(const ProcessorFault& fault, const CodeModule* module) {
  OsFailure failure;
  switch (fault.kind) {
    case FaultKind::kIntDivideByZero:
      failure.emplace<EDivByZero>();
      break;
    case FaultKind::kBoundsExceeded:
      failure.emplace<ERangeError>();
      break;
    case FaultKind::kIntOverflow:
      failure.emplace<EIntOverflow>();
      break;
    case FaultKind::kFloatInvalid:
      failure.emplace<EInvalidOp>();
      break;
    case FaultKind::kFloatDivideByZero:
      failure.emplace<EZeroDivide>();
      break;
    case FaultKind::kFloatOverflow:
      failure.emplace<EOverflow>();
      break;
    case FaultKind::kFloatUnderflow:
      failure.emplace<EUnderflow>();
      break;
    case FaultKind::kAccessViolation: {
      char text[Exception::kMaxMessageLength];
      TextBuilder builder(text, sizeof text);
      builder.Append(messages::kAccessViolationAt);
      builder.AppendHex(fault.instruction, kAddressDigits);
      if (module != nullptr) {
        builder.Append(messages::kAccessViolationInModule);
        builder.Append(module->is_executable ? ProgramModuleName()
                                             : ModuleFileName(module->path));
        builder.Append(messages::kAccessViolationModuleEnd);
      }
      builder.Append(messages::kAccessViolationSeparator);
      builder.Append(fault.access == AccessKind::kRead
                         ? messages::kReadAccess
                         : messages::kWriteAccess);
      builder.Append(messages::kAccessViolationOf);
      builder.AppendHex(fault.accessed, kAddressDigits);
      failure.emplace<EAccessViolation>(
          std::string_view(text, builder.Length()));
      break;
    }
    case FaultKind::kPrivilegedInstruction:
      failure.emplace<EPrivilege>();
      break;
    case FaultKind::kConsoleInterrupt:
      failure.emplace<EControlC>();
      break;
    case FaultKind::kStackOverflow:
      failure.emplace<EStackOverflow>();
      break;
    case FaultKind::kOther: {
      char text[40];
      TextBuilder builder(text, sizeof text);
      builder.Append(messages::kExternalExceptionPrefix);
      builder.AppendHex(fault.code, 1);
      failure.emplace<EExternalException>(
          std::string_view(text, builder.Length()));
      break;
    }
  }
  const std::uint32_t location =
      module != nullptr
          ? static_cast<std::uint32_t>(fault.instruction - module->start)
          : FailureLocationOf(reinterpret_cast<const void*>(fault.instruction));
  std::visit([location](auto& object) { object.SetLocation(location); },
             failure);
  return failure;
}

const Exception& FailureOf(const OsFailure& failure) {
  return std::visit(
      [](const auto& object) -> const Exception& { return object; }, failure);
}

ReportText ComposeFailureReport(const Exception& failure,
                                std::string_view module_name) {
  ReportText report;
  TextBuilder builder(report.bytes, sizeof report.bytes);
  builder.Append(messages::kReportException);
  builder.Append(failure.ClassName());
  builder.Append(messages::kReportInModule);
  builder.Append(module_name);
  builder.Append(messages::kReportAt);
  builder.AppendHex(failure.Location(), 8);
  builder.Append(messages::kReportEnd);
  builder.Append("\n");
  const std::string_view message = failure.MessageText();
  builder.Append(message);
  if (!message.empty() && message.back() != '.') builder.Append(".");
  report.length = builder.Length();
  return report;
}

ReportText ComposePlainReport(std::int32_t error_number,
                              std::uint32_t location) {
  constexpr std::size_t kLastNumberDigit = 16;
  ReportText report;
  std::copy(messages::kPlainReportTemplate.begin(),
            messages::kPlainReportTemplate.end(), report.bytes);
  report.length = messages::kPlainReportTemplate.size();
  // The number, right to left from its last digit; a sign goes before it.
  std::uint32_t magnitude = error_number < 0
                                ? 0u - static_cast<std::uint32_t>(error_number)
                                : static_cast<std::uint32_t>(error_number);
  std::size_t position = kLastNumberDigit + 1;
  do {
    report.bytes[--position] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0 && position > 0);
  if (error_number < 0 && position > 0) report.bytes[--position] = '-';
  // The location, right to left into the last 8 characters.
  std::size_t end = report.length;
  for (std::uint32_t rest = location; rest != 0; rest /= 16) {
    report.bytes[--end] = "0123456789ABCDEF"[rest % 16];
  }
  return report;
}

std::string_view ProgramModuleName() {
  return ModuleFileName(run_state.program_path.View());
}

void ReportUnhandledFailure(const Exception& failure) {
  if (!run_state.reporting) {
    run_state.reporting = true;
    WriteReport(failure, ProgramModuleName());
  }
  EndRun(1);
}

void StartRun() {
  // The program's module.
  run_state.program_path = ExecutableFilePath();
  NoteCodeModules();
  // The run-time core.
  ResetFpu();
  BindName(ConsoleInput, "");
  BindName(ConsoleOutput, "");
  IgnoreBrokenPipeSignal();
  // The failure layer: its texts are constants and the out-of-memory
  // failure exists already; from here on a processor fault is reported.
  InstallFaultHandlers(&OnProcessorFault);
  run_state.failure_layer_installed = true;
}

void EndRunWithRuntimeError(std::int32_t error_number,
                            const void* code_address) {
  run_state.plain_report_pending = true;
  run_state.plain_error_number = error_number;
  run_state.plain_location = FailureLocationOf(code_address);
  EndRun(error_number);
}

void EndRun(int exit_code) {
  TakeRunDown();
  ExitProcess(exit_code);
}

void RunProgram(void (*body)()) {
  try {
    StartRun();
  } catch (const std::bad_alloc&) {
    EndRunWithRuntimeError(kOutOfMemoryErrorNumber, CallerAddress());
  }
  try {
    body();
  } catch (const Exception& failure) {
    ReportUnhandledFailure(failure);
  } catch (const std::bad_alloc&) {
    out_of_memory_failure.SetLocation(FailureLocationOf(CallerAddress()));
    ReportUnhandledFailure(out_of_memory_failure);
  } catch (const std::exception& failure) {
    ReportUnhandledFailure(UnclassifiedFailure(failure.what()));
  } catch (...) {
    ReportUnhandledFailure(UnclassifiedFailure(""));
  }
  EndRun(0);
}

}  // namespace diskmaps
