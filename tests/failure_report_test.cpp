// The failure reports of the built program, on its standard output, and its
// exit codes.
#include <dirent.h>

#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "gtest/gtest.h"
#include "tests/expected_dialogue.h"
#include "tests/program_runner.h"

namespace diskmaps::testing {
namespace {

// A report of the program: the first line ends with a bare LF, the second
// with CR LF; the address is any 8 uppercase hexadecimal digits.
std::string Report(std::string_view class_name, std::string_view message) {
  return "Exception " + std::string(class_name) +
         " dans le module diskmaps \xE0 [0-9A-F]{8}\\.\n" +
         std::string(message) + "\r\n";
}

// `output` is everything up to `last_text` and then exactly `report`.
void ExpectReportAfter(const std::string& output, std::string_view last_text,
                       const std::string& report) {
  const std::size_t end = output.find(last_text);
  ASSERT_NE(end, std::string::npos) << output;
  const std::string rest = output.substr(end + last_text.size());
  EXPECT_TRUE(std::regex_match(rest, std::regex(report))) << rest;
}

bool DirectoryIsEmpty(const std::string& path) {
  DIR* directory = opendir(path.c_str());
  if (directory == nullptr) return false;
  int entries = 0;
  while (const dirent* entry = readdir(directory)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") ++entries;
  }
  closedir(directory);
  return entries == 0;
}

using FailureReportTest = ProgramTest;

TEST_F(FailureReportTest, MalformedFirstAnswer) {
  const ProgramResult result = Run("abc\n2\n8\n15\n0.1\n0.9\nessai\n");
  EXPECT_EQ(result.exit_code, 1);
  ExpectReportAfter(result.output, kExpectedMenu,
                    Report("EInOutError", "Saisie num\xE9rique incorrecte\\."));
  EXPECT_TRUE(DirectoryIsEmpty(directory_)) << "no file is created";
}

TEST_F(FailureReportTest, RealBeyondTheDoubleRangeOverflows) {
  for (const char* r0_min : {"1e400", "-1e400", "2e308"}) {
    SCOPED_TRACE(r0_min);
    const ProgramResult result =
        Run(std::string("0\n15\n") + r0_min + "\n0.9\nessai\n");
    EXPECT_EQ(result.exit_code, 1);
    ExpectReportAfter(result.output, kExpectedR0MinPrompt,
                      Report("EOverflow",
                             "D\xE9"
                             "bordement en virgule flottante\\."));
  }
  EXPECT_TRUE(DirectoryIsEmpty(directory_));
}

// 1e-400 is stored as 0: the run draws the same file as with an answer of 0.
TEST_F(FailureReportTest, RealBelowTheDoubleRangeIsAcceptedSilently) {
  std::optional<std::string> files[2];
  const char* answers[2] = {"1e-400", "0"};
  for (int i = 0; i < 2; ++i) {
    ProgramOptions options;
    options.input = std::string("0\n4\n") + answers[i] + "\n0.5\nessai\n";
    options.working_directory = directory_;
    options.utc_millisecond_of_day = 45296789;
    const ProgramResult result = RunDiskmaps(options);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.output.find("Exception"), std::string::npos);
    files[i] = ReadFile(directory_ + "/essai.txt");
  }
  ASSERT_TRUE(files[0].has_value());
  EXPECT_EQ(files[0]->size(), 9u + 4 * 3 * 25);
  EXPECT_EQ(files[0], files[1]);
}

// With descriptor 0 closed the console input cannot be opened: the first
// answer reads as end of input and leaves code 104 for its check.
TEST_F(FailureReportTest, StandardInputClosed) {
  ProgramOptions options;
  options.close_input = true;
  options.working_directory = directory_;
  const ProgramResult result = RunDiskmaps(options);
  EXPECT_EQ(result.exit_code, 1);
  ExpectReportAfter(result.output, kExpectedMenu,
                    Report("EInOutError", "Erreur E/S 104\\."));
  EXPECT_TRUE(DirectoryIsEmpty(directory_));
}

// The first line cannot be written, and neither can the report: it is
// dropped and the run ends with exit code 1, without a signal or a hang.
TEST_F(FailureReportTest, StandardOutputUnusable) {
  for (const bool closed_pipe : {false, true}) {
    SCOPED_TRACE(closed_pipe ? "pipe without reader" : "descriptor closed");
    ProgramOptions options;
    options.input = "2\n8\n15\n0.1\n0.9\nessai\n";
    options.close_output = !closed_pipe;
    options.output_closed_pipe = closed_pipe;
    options.working_directory = directory_;
    const ProgramResult result = RunDiskmaps(options);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.output, "");
  }
  EXPECT_TRUE(DirectoryIsEmpty(directory_));
}

}  // namespace
}  // namespace diskmaps::testing
