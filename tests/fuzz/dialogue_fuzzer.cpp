// The whole run, from the banner to the end of the process, fed any bytes on
// standard input, on a scripted operating system (fake_platform.h) that can
// also deliver the input in small pieces and make chosen calls fail. The
// first three bytes of a fuzz input choose that (Configure); the rest is the
// standard input.
//
// Two link-time seams keep the run inside the fuzzer's process:
// - SystemPlatform() returns a platform that forwards to the fake of the
//   current input, so the console, the parameter file and the clock never
//   reach the real system;
// - ExitProcess throws RunEnded instead of ending the process.
// The failure layer's own installation (fault signals) is not used: failures
// raised as Exception objects are reported here exactly as the program's
// frame reports them, then the run ends through EndRun(1).
//
// After each run: the process ended through EndRun with exit code 0 or 1; on
// exit code 0 a created parameter file is complete, well formed and closed,
// and nothing failed on the way; on exit code 1 the report closes the console
// output (when the console works) and the file holds whole 128-byte blocks.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/dialogue.h"
#include "app/parameter_file.h"
#include "runtime/channel/text_channel.h"
#include "runtime/failure/exceptions.h"
#include "runtime/failure/failure.h"
#include "runtime/number/decimal.h"
#include "runtime/platform/fake_platform.h"
#include "runtime/platform/io_codes.h"
#include "runtime/platform/platform.h"
#include "runtime/platform/process.h"
#include "tests/expected_dialogue.h"

namespace diskmaps {
namespace {

// The end of the process, as ExitProcess sees it.
struct RunEnded {
  int exit_code;
};

FakePlatform* current_fake = nullptr;

class ForwardingPlatform final : public Platform {
 public:
  std::int32_t StandardHandle(int stream, int& handle) override {
    return Fake().StandardHandle(stream, handle);
  }
  std::int32_t CreateFile(const char* name, int& handle) override {
    return Fake().CreateFile(name, handle);
  }
  DeviceKind ProbeDevice(int handle) override {
    return Fake().ProbeDevice(handle);
  }
  std::int32_t Read(int handle, std::uint8_t* buffer, std::size_t capacity,
                    std::size_t& delivered) override {
    return Fake().Read(handle, buffer, capacity, delivered);
  }
  std::int32_t Write(int handle, const std::uint8_t* bytes,
                     std::size_t count) override {
    return Fake().Write(handle, bytes, count);
  }
  std::int32_t Close(int handle) override { return Fake().Close(handle); }
  TimeOfDay UtcTimeOfDay() override { return Fake().UtcTimeOfDay(); }

 private:
  static FakePlatform& Fake() {
    if (current_fake == nullptr) std::abort();  // a call outside a run
    return *current_fake;
  }
};

}  // namespace

// The seams (see above). IgnoreBrokenPipeSignal shares its object file with
// SystemPlatform, so both are replaced.
Platform& SystemPlatform() {
  static ForwardingPlatform platform;
  return platform;
}
void IgnoreBrokenPipeSignal() {}
void ExitProcess(int exit_code) { throw RunEnded{exit_code}; }

namespace {

constexpr std::size_t kConfigurationBytes = 3;
// Without a chosen limit, the writes of a run store at most this much, so
// that a large map count ends on a full disk instead of running long.
constexpr std::size_t kDefaultWriteSpace = 16 * 1024;
constexpr std::size_t kChunkSizes[8] = {SIZE_MAX, 1, 2, 3, 7, 64, 127, 128};
constexpr std::string_view kReportStart = "Exception ";
[[noreturn]] void Fail(const char* what, const FakePlatform& fake,
                       std::string_view detail = {}) {
  std::fprintf(stderr, "%s\n", what);
  const std::string console = fake.WrittenTo(kStandardOutput);
  std::fprintf(stderr, "console (%zu bytes): %.*s\n", console.size(),
               static_cast<int>(console.size() < 2000 ? console.size() : 2000),
               console.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "detail: %.*s\n", static_cast<int>(detail.size()),
                 detail.data());
  }
  std::abort();
}

// Set when a request for a standard handle is to fail: the console may then
// open late, after the text of a line has been lost.
bool standard_handle_failure_planned = false;

// Sets the fake up from the first bytes of the input; the rest is the
// standard input.
void Configure(FakePlatform& fake, const std::uint8_t* configuration,
               std::string_view input) {
  fake.time_of_day = {configuration[0] % 24, configuration[1] % 60,
                      configuration[2] % 60, configuration[1] * 4 % 1000};
  fake.SetInput(input, kChunkSizes[configuration[0] & 7]);
  if (configuration[0] & 8) fake.standard_output_kind = DeviceKind::kCharacter;
  switch (configuration[0] >> 4) {
    case 10:
      fake.standard_input_open = false;
      break;
    case 11:
      fake.standard_output_open = false;
      break;
    case 12:
      fake.file_kind = DeviceKind::kUnknown;
      break;
    case 13:
      fake.standard_output_kind = DeviceKind::kUnknown;
      break;
    case 14:
      fake.file_kind = DeviceKind::kCharacter;
      break;
    default:
      break;
  }
  // One failing call: its kind (bits 0 to 2; 5 to 7 for none), its index
  // among the calls of that kind (bits 3 to 5) and its code (bits 6 and 7).
  const int call = configuration[1] & 7;
  standard_handle_failure_planned =
      call == static_cast<int>(FakePlatform::Call::kStandardHandle);
  if (call < static_cast<int>(FakePlatform::kCallKinds)) {
    constexpr std::int32_t kCodes[] = {kIoCodeDiskFull, kIoCodeAccessDenied,
                                       kIoCodeGeneralFailure,
                                       kIoCodeBrokenPipe};
    fake.FailCall(static_cast<FakePlatform::Call>(call),
                  configuration[1] >> 3 & 7, kCodes[configuration[1] >> 6]);
  }
  fake.LimitWriteSpace(configuration[2] == 0
                           ? kDefaultWriteSpace
                           : std::size_t{configuration[2]} * 37);
}

// The run as the program's frame makes it, StartRun's fault signals aside.
int Run() {
  IoErrorCode = 0;
  BindName(ConsoleInput, "");
  BindName(ConsoleOutput, "");
  try {
    try {
      WriteParameterFile(RunDialogue());
      EndRun(0);
    } catch (const Exception& failure) {
      const ReportText text = ComposeFailureReport(failure, "diskmaps");
      WriteText(ConsoleOutput, text.View());
      EndLine(ConsoleOutput);
      TakeIoErrorCode();
      EndRun(1);
    }
  } catch (const RunEnded& end) {
    return end.exit_code;
  }
  std::abort();  // EndRun returned
}

bool ConsoleFailed(const FakePlatform& fake) {
  if (!fake.standard_output_open ||
      fake.standard_output_kind == DeviceKind::kUnknown) {
    return true;
  }
  for (const FakePlatform::WriteRequest& request : fake.write_requests) {
    if (request.handle == kStandardOutput && request.result != 0) return true;
  }
  return false;
}

bool IsDecimal(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A complete parameter file: three header lines, then three lines of 23
// characters per map, each line ending with CR LF, nothing else.
bool IsCompleteParameterFile(std::string_view content) {
  std::string_view lines[3];
  for (std::string_view& line : lines) {
    const std::size_t end = content.find("\r\n");
    if (end == std::string_view::npos) return false;
    line = content.substr(0, end);
    content.remove_prefix(end + 2);
  }
  if (lines[0].size() != 1 || lines[0][0] < '0' || lines[0][0] > '3') {
    return false;
  }
  if (!IsDecimal(lines[1], 5) || !IsDecimal(lines[2], 5)) return false;
  const unsigned long map_count = std::stoul(std::string(lines[2]));
  if (map_count > 65535 ||
      content.size() != map_count * 3 * (kRealTextLength + 2)) {
    return false;
  }
  for (std::size_t at = 0; at < content.size(); at += 25) {
    if (content.substr(at + 23, 2) != "\r\n") return false;
    const std::string_view real = content.substr(at, 23);
    if (real.find_first_of("\r\n") != std::string_view::npos) return false;
  }
  return true;
}

void CheckRun(const FakePlatform& fake, int exit_code) {
  if (exit_code != 0 && exit_code != 1) Fail("exit code not 0 or 1", fake);
  if (IoErrorCode != 0) Fail("an I/O code survived the run", fake);
  const bool console_failed = ConsoleFailed(fake);
  const std::string console = fake.WrittenTo(kStandardOutput);

  for (const std::string& name : fake.created_names) {
    const int handle = fake.FileHandle(name);
    const std::vector<std::size_t> sizes = fake.WriteSizes(handle);
    bool all_written = true;
    for (const FakePlatform::WriteRequest& request : fake.write_requests) {
      if (request.handle == handle && request.result != 0) all_written = false;
    }
    const std::string content = fake.WrittenTo(handle);
    if (exit_code == 0) {
      // Success: every block written, the file closed, its content whole.
      if (!all_written) Fail("success after a failed file write", fake);
      if (fake.IsOpen(handle)) Fail("success with the file left open", fake);
      if (fake.file_kind == DeviceKind::kStream) {
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i) {
          if (sizes[i] != TextChannel::kBufferSize) {
            Fail("a file block other than the last is short", fake);
          }
        }
      }
      if (!IsCompleteParameterFile(content)) {
        Fail("success with an incomplete parameter file", fake, content);
      }
    } else if (fake.file_kind == DeviceKind::kStream) {
      // Failure: the file holds whole blocks (a block cut by the full disk
      // aside). A short last block, which makes the file look complete, is
      // only there when the file is complete indeed and only its closing
      // failed.
      std::size_t requests = 0;
      std::size_t short_block = 0;
      for (const FakePlatform::WriteRequest& request : fake.write_requests) {
        if (request.handle != handle) continue;
        ++requests;
        if (request.result == 0 &&
            request.bytes.size() != TextChannel::kBufferSize) {
          if (short_block != 0) Fail("two short blocks in a file", fake);
          short_block = requests;
        }
      }
      if (short_block != 0 &&
          (short_block != requests || !IsCompleteParameterFile(content))) {
        Fail("a failed run left a file that looks complete", fake, content);
      }
    }
  }

  if (!console_failed && !standard_handle_failure_planned &&
      !console.starts_with(testing::kExpectedMenu)) {
    Fail("the console does not begin with the banner and the menu", fake);
  }
  if (exit_code == 1 && !console_failed) {
    // The report is the last thing on the console: its first line ends
    // with a bare LF, its second with CR LF.
    const std::size_t start = console.rfind(kReportStart);
    if (start == std::string::npos) Fail("failure without a report", fake);
    const std::string_view report = std::string_view(console).substr(start);
    const std::size_t first_end = report.find('\n');
    if (first_end == std::string_view::npos || first_end == 0 ||
        report[first_end - 1] != '.' ||
        report.find("\r\n") != report.size() - 2) {
      Fail("malformed report", fake);
    }
  }
}

}  // namespace
}  // namespace diskmaps

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using diskmaps::kConfigurationBytes;
  if (size < kConfigurationBytes) return -1;
  diskmaps::FakePlatform fake;
  diskmaps::Configure(fake, data,
                      std::string_view(reinterpret_cast<const char*>(data) +
                                           kConfigurationBytes,
                                       size - kConfigurationBytes));
  diskmaps::current_fake = &fake;
  const int exit_code = diskmaps::Run();
  // DISKMAPS_FUZZ_TRACE=1 tells how each run ended (to read a finding).
  static const bool trace = std::getenv("DISKMAPS_FUZZ_TRACE") != nullptr;
  if (trace) {
    std::fprintf(stderr, "exit code %d, console %zu bytes", exit_code,
                 fake.WrittenTo(diskmaps::kStandardOutput).size());
    for (const std::string& name : fake.created_names) {
      std::fprintf(stderr, ", file \"%s\" %zu bytes", name.c_str(),
                   fake.FileContent(name).size());
    }
    std::fprintf(stderr, "\n");
  }
  diskmaps::CheckRun(fake, exit_code);
  diskmaps::current_fake = nullptr;
  return 0;
}
