#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"

namespace diskmaps::testing {

// How the program under test is started.
struct ProgramOptions {
  std::string input;                // bytes on standard input, then its end
  bool close_input = false;         // start with descriptor 0 closed
  bool close_output = false;        // start with descriptor 1 closed
  bool output_closed_pipe = false;  // standard output a pipe with no reader
  std::string working_directory;    // empty: the test's own
  // Paths opened as standard input (for reading) or standard output
  // (created or emptied) in place of the pipes: a directory, /dev/full, a
  // file. The program's output then does not reach ProgramResult::output.
  std::string input_path;
  std::string output_path;
  // Sends SIGINT, with its default action, once this many bytes have come on
  // standard output; standard input stays open until then (0: never).
  std::size_t interrupt_after_output_bytes = 0;
  // The largest file the program may write (RLIMIT_FSIZE); 0: no limit set.
  std::size_t file_size_limit = 0;
  // The UTC time of day the program's clock shows, in milliseconds since
  // midnight (through a preloaded library that replaces clock_gettime).
  std::optional<std::uint32_t> utc_millisecond_of_day;
  // Where the preloaded library logs the size of each file write request.
  std::string write_log_path;
  std::vector<std::string> extra_environment;  // NAME=value
  // When the tests run as root, run the program as the user nobody, so that
  // file permissions apply to it.
  bool drop_root = false;
  int timeout_seconds = 20;
};

struct ProgramResult {
  std::string output;      // everything written on standard output
  int exit_code = -1;      // -1 when ended by a signal
  int signal = 0;          // the signal that ended it, if any
  bool timed_out = false;  // killed after the timeout
};

// Runs the built diskmaps with `options`.
ProgramResult RunDiskmaps(const ProgramOptions& options);

// A fresh empty directory under the test's temporary directory.
std::string MakeTemporaryDirectory();
// The whole content of a file, or nullopt when it does not exist.
std::optional<std::string> ReadFile(const std::string& path);

// Whether `output` ends with the two lines of a failure report of this class
// and message: the first ends with a bare LF, the second with CR LF; the
// address is any 8 uppercase hexadecimal digits.
::testing::AssertionResult EndsWithReport(const std::string& output,
                                          std::string_view failure_class,
                                          std::string_view message);

// A test that runs the program in a fresh directory of its own.
class ProgramTest : public ::testing::Test {
 protected:
  // How Run starts the program.
  virtual ProgramOptions Options() const {
    ProgramOptions options;
    options.working_directory = directory_;
    return options;
  }
  ProgramResult Run(std::string input) const {
    ProgramOptions options = Options();
    options.input = std::move(input);
    return RunDiskmaps(options);
  }
  std::optional<std::string> File(const std::string& name) const {
    return ReadFile(directory_ + "/" + name);
  }

  const std::string directory_ = MakeTemporaryDirectory();
};

}  // namespace diskmaps::testing
