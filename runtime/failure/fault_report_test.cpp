// The failure layer in a real process: the probe program writes a line,
// then fails; the report must follow that line on its standard output, and
// the exit code must be 1.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

#include "gtest/gtest.h"

namespace diskmaps {
namespace {

enum class Output { kPipe, kClosed, kPipeWithoutReader };

struct ProbeResult {
  std::string output;
  int exit_code = -1;  // -1 when a signal ended the probe
  int signal = 0;
  bool timed_out = false;
};

constexpr int kTimeoutMilliseconds = 20000;

long MillisecondsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 +
         (now.tv_nsec - start.tv_nsec) / 1000000;
}

ProbeResult RunProbe(const char* mode, Output output = Output::kPipe) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) std::abort();
  // Without a reader from the start, every write meets a closed pipe.
  if (output == Output::kPipeWithoutReader) close(pipe_ends[0]);
  const pid_t child = fork();
  if (child < 0) std::abort();
  if (child == 0) {
    if (output == Output::kClosed) {
      close(1);
    } else {
      dup2(pipe_ends[1], 1);
    }
    // The test runner may ignore these; the probe must not inherit that.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    execl(DISKMAPS_FAULT_PROBE, DISKMAPS_FAULT_PROBE, mode,
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_ends[1]);
  ProbeResult result;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  if (output != Output::kPipeWithoutReader) {
    pollfd readable = {pipe_ends[0], POLLIN, 0};
    while (MillisecondsSince(start) < kTimeoutMilliseconds) {
      if (poll(&readable, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t count = read(pipe_ends[0], buffer, sizeof buffer);
      if (count <= 0) break;
      result.output.append(buffer, static_cast<std::size_t>(count));
    }
    close(pipe_ends[0]);
  }
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (MillisecondsSince(start) >= kTimeoutMilliseconds) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      result.timed_out = true;
      break;
    }
    usleep(10000);
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// The probe's own module name, as the report shows it.
std::string ProbeName() {
  const std::string path = DISKMAPS_FAULT_PROBE;
  return path.substr(path.rfind('/') + 1);
}

// The two report lines after the probe's first line, as a pattern: the first
// names the class and the module, the second is the message.
std::string ReportPattern(std::string_view class_name,
                          std::string_view message_pattern) {
  return "avant\r\nException " + std::string(class_name) + " dans le module " +
         ProbeName() + " \xE0 ([0-9A-F]{8})\\.\n" +
         std::string(message_pattern) + "\r\n";
}

void ExpectReport(const ProbeResult& result, std::string_view class_name,
                  std::string_view message_pattern) {
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(std::regex_match(
      result.output, std::regex(ReportPattern(class_name, message_pattern))))
      << result.output;
}

TEST(FaultReportTest, AccessViolations) {
  struct Case {
    const char* mode;
    const char* access;
  };
  for (const Case c :
       {Case{"read-fault", "Lecture"}, Case{"write-fault", "Ecriture"}}) {
    SCOPED_TRACE(c.mode);
    const ProbeResult result = RunProbe(c.mode);
    const std::string message =
        "Violation d'acc\xE8s \xE0 l'adresse ([0-9A-F]{8,16}) "
        "dans le module '" +
        ProbeName() + "'\\. " + c.access + " de l'adresse 00000010\\.";
    ExpectReport(result, "EAccessViolation", message);
    // The location is the failing instruction's offset in the image, which
    // starts on a page boundary: both agree in their last three digits.
    std::smatch parts;
    if (std::regex_match(
            result.output, parts,
            std::regex(ReportPattern("EAccessViolation", message)))) {
      const std::string location = parts[1];
      const std::string absolute = parts[2];
      EXPECT_EQ(location.substr(5), absolute.substr(absolute.size() - 3));
    }
  }
}

TEST(FaultReportTest, StackOverflow) {
  ExpectReport(RunProbe("stack-overflow"), "EStackOverflow",
               "D\xE9"
               "bordement de pile\\.");
}

TEST(FaultReportTest, IntegerDivisionByZero) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the probe divides with an x86-64 instruction";
#endif
  ExpectReport(RunProbe("divide"), "EDivByZero", "Division par z\xE9ro\\.");
}

TEST(FaultReportTest, RaisedFailures) {
  struct Case {
    const char* mode;
    const char* class_name;
    const char* message;
  };
  const Case cases[] = {
      {"raise", "EOverflow",
       "D\xE9"
       "bordement en virgule flottante\\."},
      {"io-check", "EInOutError", "Erreur E/S 123\\."},
      {"out-of-memory", "EOutOfMemory", "M\xE9moire insuffisante\\."},
      {"other-exception", "Exception", "inattendu\\."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ExpectReport(RunProbe(c.mode), c.class_name, c.message);
  }
}

TEST(FaultReportTest, NormalEndWritesNothingOfItsOwn) {
  const ProbeResult result = RunProbe("none");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "avant\r\napres\r\n");
}

TEST(FaultReportTest, PlainReportOutsideTheFailureLayer) {
  const ProbeResult result = RunProbe("plain");
  EXPECT_EQ(result.exit_code, 203);
  EXPECT_TRUE(std::regex_match(
      result.output,
      std::regex("avant\r\nRuntime error 203 at [0-9A-F]{8}\r\n")))
      << result.output;
}

// The console interrupt keeps the system's default action: the process
// ends at once, with no report.
TEST(FaultReportTest, InterruptIsNotReported) {
  const ProbeResult result = RunProbe("interrupt");
  EXPECT_EQ(result.signal, SIGINT);
  EXPECT_EQ(result.output.find("Exception"), std::string::npos);
}

// A report that cannot be written is dropped: exit code 1, no loop, no
// signal.
TEST(FaultReportTest, UnwritableReports) {
  for (const char* mode : {"io-check", "write-fault", "stack-overflow"}) {
    SCOPED_TRACE(mode);
    for (const Output output : {Output::kClosed, Output::kPipeWithoutReader}) {
      const ProbeResult result = RunProbe(mode, output);
      EXPECT_FALSE(result.timed_out);
      EXPECT_EQ(result.signal, 0);
      EXPECT_EQ(result.exit_code, 1);
    }
  }
}

}  // namespace
}  // namespace diskmaps
