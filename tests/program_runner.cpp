#include "tests/program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace diskmaps::testing {
namespace {

constexpr uid_t kNobody = 65534;

void CheckSystem(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}

double SecondsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) * 1e-9;
}

// Sets NAME=value in `environment`, replacing an earlier entry of NAME;
// with `append`, adds ":value" to an earlier value instead.
void SetVariable(std::vector<std::string>& environment, const std::string& name,
                 const std::string& value, bool append = false) {
  const std::string prefix = name + "=";
  for (std::string& entry : environment) {
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      entry = append ? entry + ":" + value : prefix + value;
      return;
    }
  }
  environment.push_back(prefix + value);
}

std::vector<std::string> ChildEnvironment(const ProgramOptions& options) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  if (options.utc_millisecond_of_day || !options.write_log_path.empty()) {
    SetVariable(environment, "LD_PRELOAD", DISKMAPS_INTERPOSER);
    // The sanitizer run-time need not come first in the library list here.
    SetVariable(environment, "ASAN_OPTIONS", "verify_asan_link_order=0",
                /*append=*/true);
  }
  if (options.utc_millisecond_of_day) {
    SetVariable(environment, "DISKMAPS_TEST_UTC_MILLISECOND",
                std::to_string(*options.utc_millisecond_of_day));
  }
  if (!options.write_log_path.empty()) {
    SetVariable(environment, "DISKMAPS_TEST_WRITE_LOG", options.write_log_path);
  }
  for (const std::string& entry : options.extra_environment) {
    const std::size_t equals = entry.find('=');
    SetVariable(environment, entry.substr(0, equals), entry.substr(equals + 1));
  }
  return environment;
}

// In the child: lays out the descriptors and starts the program.
[[noreturn]] void StartChild(const ProgramOptions& options, int input_read,
                             int output_write,
                             std::vector<std::string>& environment) {
  if (options.drop_root && geteuid() == 0 &&
      (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
    _exit(125);
  }
  if (!options.working_directory.empty() &&
      chdir(options.working_directory.c_str()) != 0) {
    _exit(126);
  }
  if (options.close_input) {
    close(0);
  } else if (!options.input_path.empty()) {
    const int input = open(options.input_path.c_str(), O_RDONLY);
    if (input < 0 || dup2(input, 0) < 0) _exit(124);
  } else {
    dup2(input_read, 0);
  }
  if (options.close_output) {
    close(1);
  } else if (!options.output_path.empty()) {
    const int output =
        open(options.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output < 0 || dup2(output, 1) < 0) _exit(124);
  } else {
    dup2(output_write, 1);
  }
  signal(SIGPIPE, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  if (options.file_size_limit != 0) {
    const rlimit limit = {options.file_size_limit, options.file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(124);
  }
  std::vector<char*> environment_pointers;
  for (std::string& entry : environment) {
    environment_pointers.push_back(entry.data());
  }
  environment_pointers.push_back(nullptr);
  char* arguments[] = {const_cast<char*>(DISKMAPS_EXECUTABLE), nullptr};
  execve(DISKMAPS_EXECUTABLE, arguments, environment_pointers.data());
  _exit(127);
}

}  // namespace

ProgramResult RunDiskmaps(const ProgramOptions& options) {
  int input_pipe[2];
  int output_pipe[2];
  CheckSystem(pipe2(input_pipe, O_CLOEXEC) == 0, "pipe");
  CheckSystem(pipe2(output_pipe, O_CLOEXEC) == 0, "pipe");
  std::vector<std::string> environment = ChildEnvironment(options);

  // Writing to a child that has gone must not kill the test.
  signal(SIGPIPE, SIG_IGN);
  const pid_t child = fork();
  CheckSystem(child >= 0, "fork");
  if (child == 0) {
    StartChild(options, input_pipe[0], output_pipe[1], environment);
  }
  close(input_pipe[0]);
  close(output_pipe[1]);
  if (options.output_closed_pipe) {
    close(output_pipe[0]);
    output_pipe[0] = -1;
  }

  ProgramResult result;
  std::size_t written = 0;
  int input_fd = input_pipe[1];
  // Keeps standard input open until the interrupt.
  int held_input_fd =
      options.interrupt_after_output_bytes != 0 ? dup(input_fd) : -1;
  if (options.input.empty()) {
    close(input_fd);
    input_fd = -1;
  }
  int output_fd = output_pipe[0];
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (input_fd >= 0 || output_fd >= 0) {
    if (SecondsSince(start) > options.timeout_seconds) {
      kill(child, SIGKILL);
      result.timed_out = true;
      break;
    }
    pollfd fds[2] = {{output_fd, POLLIN, 0}, {input_fd, POLLOUT, 0}};
    if (poll(fds, 2, 100) < 0) {
      CheckSystem(errno == EINTR, "poll");
      continue;
    }
    if (output_fd >= 0 && fds[0].revents != 0) {
      char buffer[65536];
      const ssize_t count = read(output_fd, buffer, sizeof buffer);
      if (count > 0) {
        result.output.append(buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        close(output_fd);
        output_fd = -1;
      }
    }
    if (input_fd >= 0 && fds[1].revents != 0) {
      const ssize_t count = write(input_fd, options.input.data() + written,
                                  options.input.size() - written);
      if (count > 0) written += static_cast<std::size_t>(count);
      if ((count < 0 && errno != EINTR) || written == options.input.size()) {
        close(input_fd);
        input_fd = -1;
      }
    }
    if (held_input_fd >= 0 &&
        result.output.size() >= options.interrupt_after_output_bytes) {
      kill(child, SIGINT);
      close(held_input_fd);
      held_input_fd = -1;
    }
    if (output_fd < 0 && options.output_closed_pipe && input_fd >= 0 &&
        waitpid(child, nullptr, WNOHANG | WNOWAIT) == child) {
      close(input_fd);
      input_fd = -1;
    }
  }
  if (input_fd >= 0) close(input_fd);
  if (output_fd >= 0) close(output_fd);
  if (held_input_fd >= 0) close(held_input_fd);

  int status = 0;
  while (true) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (SecondsSince(start) > options.timeout_seconds) {
      kill(child, SIGKILL);
      result.timed_out = true;
    }
    usleep(1000);
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::string MakeTemporaryDirectory() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr ? base : "/tmp") + "/diskmaps-test-XXXXXX";
  CheckSystem(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  return pattern;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

::testing::AssertionResult EndsWithReport(const std::string& output,
                                          std::string_view failure_class,
                                          std::string_view message) {
  const std::string first = "Exception " + std::string(failure_class) +
                            " dans le module diskmaps \xE0 ";
  const std::size_t start = output.rfind(first);
  if (start == std::string::npos) {
    return ::testing::AssertionFailure()
           << "no report after: " << output.substr(0, 600);
  }
  const std::string tail = output.substr(start + first.size());
  const std::string end = ".\n" + std::string(message) + "\r\n";
  if (tail.size() != 8 + end.size() ||
      tail.find_first_not_of("0123456789ABCDEF") != 8 ||
      tail.compare(8, std::string::npos, end) != 0) {
    return ::testing::AssertionFailure() << "report ends with: " << tail;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace diskmaps::testing
