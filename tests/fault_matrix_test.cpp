// The built program under hostile standard streams and a hostile parameter
// file, one row per fault: the exit code (or the signal), the report that
// closes the console output, and what is left on disk. No row may hang, crash,
// or leave a file that looks complete when it is not.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"
#include "tests/expected_dialogue.h"
#include "tests/program_runner.h"

namespace diskmaps::testing {
namespace {

namespace fs = std::filesystem;

// Type 0 with 2 maps into essai.txt: 9 header bytes and 2 records.
constexpr std::string_view kAnswersBeforeName = "0\n2\n0.1\n0.9\n";
const std::string kAnswers = std::string(kAnswersBeforeName) + "essai\n";
constexpr std::size_t kDialogueBytes =
    ExpectedDialogueSize(/*with_degree=*/false);
constexpr std::size_t kHeaderBytes = 9;  // "0", "0" and "2" with CR LF
constexpr std::size_t kRecordBytes = 75;
constexpr std::size_t kFileSizeLimit = 1024;

// A row's view of its run: its directory, and where the console went when
// it was not the runner's pipe.
struct Place {
  std::string directory;
  std::string console_path;
};

// What a row leaves on disk, checked in its directory.
enum class FileExpectation {
  kNothing,        // the directory stays empty
  kComplete,       // exactly the named file, complete with map_count maps
  kWholeBlocks,    // exactly the named file, cut short at a block boundary
  kUnchanged,      // the file prepared by the row is still as it was
  kLinkToDevFull,  // the link prepared by the row is still a link
};

struct Row {
  std::string name;
  std::function<void(const Place&, ProgramOptions&)> prepare;
  int exit_code = 0;
  int signal = 0;
  // The report that ends the console output; empty class: no report.
  std::string report_class;
  std::string report_message;
  FileExpectation files = FileExpectation::kNothing;
  std::string file_name = "essai.txt";
  std::size_t map_count = 2;
};

constexpr std::string_view kOldContent = "kept as it was\r\n";

std::string Garbage() {
  std::string bytes = "\x89PNG\r\n\x1a\n";  // a binary file's signature
  std::uint32_t state = 12345;
  for (int i = 0; i < 4096; ++i) {
    state = state * 1103515245 + 12345;
    bytes.push_back(static_cast<char>(state >> 24));
  }
  return bytes;
}

std::vector<Row> Rows() {
  const auto input = [](std::string bytes) {
    return [bytes](const Place&, ProgramOptions& options) {
      options.input = bytes;
    };
  };
  const auto named = [](std::string name) {
    return std::string(kAnswersBeforeName) + name + "\n";
  };
  std::vector<Row> rows;
  // Standard input.
  rows.push_back({"InputClosed",
                  [](const Place&, ProgramOptions& options) {
                    options.close_input = true;
                  },
                  1, 0, "EInOutError", "Erreur E/S 104."});
  rows.push_back({"InputDirectory",
                  [](const Place&, ProgramOptions& options) {
                    options.input_path = MakeTemporaryDirectory();
                  },
                  1, 0, "EInOutError", "Acc\xE8s au fichier refus\xE9."});
  // Nothing to read: the end of input gives type 0, no map, the name "".
  rows.push_back({"InputClosedPipe", input(""), 0, 0, "", "",
                  FileExpectation::kComplete, ".txt", 0});
  rows.push_back({"InputBinaryGarbage", input(Garbage()), 1, 0, "EInOutError",
                  "Saisie num\xE9rique incorrecte."});
  rows.push_back({"InputTenMegabyteFileName",
                  input(named(std::string(10 << 20, 'n'))), 1, 0, "EInOutError",
                  "Erreur E/S 206."});
  rows.push_back({"InputTenThousandBlankLines",
                  input(std::string(10000, '\n') + kAnswers), 0, 0, "", "",
                  FileExpectation::kComplete});
  // Standard output: the first write-out fails, the report with it.
  rows.push_back({"OutputClosed",
                  [](const Place&, ProgramOptions& options) {
                    options.input = kAnswers;
                    options.close_output = true;
                  },
                  1, 0, "", ""});
  rows.push_back({"OutputClosedPipe",
                  [](const Place&, ProgramOptions& options) {
                    options.input = kAnswers;
                    options.output_closed_pipe = true;
                  },
                  1, 0, "", ""});
  rows.push_back({"OutputDevFull",
                  [](const Place&, ProgramOptions& options) {
                    options.input = kAnswers;
                    options.output_path = "/dev/full";
                  },
                  1, 0, "", ""});
  rows.push_back({"OutputFile",
                  [](const Place& place, ProgramOptions& options) {
                    options.input = kAnswers;
                    options.output_path = place.console_path;
                  },
                  0, 0, "", "", FileExpectation::kComplete});
  // The console in a file that reaches the file-size limit in the banner.
  rows.push_back({"OutputFileBeyondSizeLimit",
                  [](const Place& place, ProgramOptions& options) {
                    options.input = kAnswers;
                    options.output_path = place.console_path;
                    options.file_size_limit = 256;
                  },
                  1, 0, "", ""});
  // The parameter file.
  rows.push_back({"FileInMissingFolder", input(named("missing/essai")), 1, 0,
                  "EInOutError", "Nom de fichier incorrect."});
  rows.push_back({"FileReadOnly",
                  [](const Place& place, ProgramOptions& options) {
                    options.input = kAnswers;
                    options.drop_root = true;
                    const std::string file = place.directory + "/essai.txt";
                    std::ofstream(file, std::ios::binary) << kOldContent;
                    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
                    ASSERT_EQ(chmod(place.directory.c_str(), 0777), 0);
                  },
                  1, 0, "EInOutError", "Acc\xE8s au fichier refus\xE9.",
                  FileExpectation::kUnchanged});
  rows.push_back({"FileOnDevFull",
                  [](const Place& place, ProgramOptions& options) {
                    options.input = kAnswers;
                    fs::create_symlink("/dev/full",
                                       place.directory + "/essai.txt");
                  },
                  1, 0, "EInOutError", "Erreur E/S 112.",
                  FileExpectation::kLinkToDevFull});
  rows.push_back({"FileBeyondSizeLimit",
                  [](const Place&, ProgramOptions& options) {
                    options.input = "0\n100\n0.1\n0.9\nessai\n";
                    options.file_size_limit = kFileSizeLimit;
                  },
                  1, 0, "EInOutError", "Erreur E/S 112.",
                  FileExpectation::kWholeBlocks});
  // Cut to 259 bytes, the name is still too long for the file system.
  rows.push_back({"FileNameOf300Bytes", input(named(std::string(300, 'n'))), 1,
                  0, "EInOutError", "Erreur E/S 206."});
  rows.push_back({"FileNameWithNul", input(named(std::string("ess\0ai", 6))), 0,
                  0, "", "", FileExpectation::kComplete, "ess"});
  // The empty name stands for the standard output.
  rows.push_back({"FileNameBeginningWithNul",
                  input(named(std::string("\0essai", 6))), 0, 0, "", ""});
  rows.push_back({"InterruptDuringDialogue",
                  [](const Place&, ProgramOptions& options) {
                    options.interrupt_after_output_bytes = 128;
                  },
                  -1, SIGINT, "", ""});
  return rows;
}

// A complete parameter file of type 0: the header, then `map_count` records
// of three 23-character lines, every line ending with CR LF.
::testing::AssertionResult IsCompleteFile(const std::string& content,
                                          std::size_t map_count) {
  const std::string header = "0\r\n0\r\n" + std::to_string(map_count) + "\r\n";
  if (content.compare(0, header.size(), header) != 0 ||
      content.size() != header.size() + map_count * kRecordBytes) {
    return ::testing::AssertionFailure() << "not a complete file: " << content;
  }
  for (std::size_t at = header.size(); at < content.size(); at += 25) {
    if (content.compare(at + 23, 2, "\r\n") != 0 ||
        content.substr(at, 23).find_first_of("\r\n") != std::string::npos) {
      return ::testing::AssertionFailure() << "bad record line at " << at;
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class FaultMatrixTest : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrixTest, EndsAsItShould) {
  const Row& row = GetParam();
  const Place place{MakeTemporaryDirectory(),
                    MakeTemporaryDirectory() + "/console"};
  ProgramOptions options;
  options.working_directory = place.directory;
  options.timeout_seconds = 5;
  row.prepare(place, options);
  if (HasFatalFailure()) return;

  const ProgramResult result = RunDiskmaps(options);
  ASSERT_FALSE(result.timed_out) << "no answer within 5 s";
  EXPECT_EQ(result.signal, row.signal);
  EXPECT_EQ(result.exit_code, row.exit_code);

  const std::string console = options.output_path == place.console_path
                                  ? ReadFile(place.console_path).value_or("")
                                  : result.output;
  if (!row.report_class.empty()) {
    EXPECT_TRUE(EndsWithReport(console, row.report_class, row.report_message));
  } else if (row.exit_code == 1 && options.output_path == place.console_path) {
    // The console stopped at a block boundary, and its report was dropped.
    EXPECT_EQ(console.size(), options.file_size_limit);
  } else if (row.exit_code == 0 && !console.empty()) {
    if (row.files == FileExpectation::kNothing) {
      // The file's lines went to the standard output too, from their own
      // buffer, so the two streams of blocks interleave.
      EXPECT_EQ(console.size(),
                kDialogueBytes + kHeaderBytes + row.map_count * kRecordBytes);
      EXPECT_NE(console.find("0\r\n0\r\n2\r\n"), std::string::npos);
    } else {
      // A normal end writes nothing after the last prompt.
      EXPECT_EQ(console.size(), kDialogueBytes);
      EXPECT_TRUE(console.ends_with(kExpectedFileNamePrompt)) << console;
    }
  }

  const std::vector<std::string> entries = Entries(place.directory);
  const std::string path = place.directory + "/" + row.file_name;
  switch (row.files) {
    case FileExpectation::kNothing:
      EXPECT_TRUE(entries.empty()) << entries.front();
      break;
    case FileExpectation::kComplete:
      EXPECT_EQ(entries, std::vector<std::string>{row.file_name});
      EXPECT_TRUE(IsCompleteFile(ReadFile(path).value_or(""), row.map_count));
      break;
    case FileExpectation::kWholeBlocks: {
      EXPECT_EQ(entries, std::vector<std::string>{row.file_name});
      const std::size_t size = ReadFile(path).value_or("").size();
      EXPECT_EQ(size % 128, 0u);
      EXPECT_LE(size, kFileSizeLimit);
      EXPECT_GT(size, 0u);
      break;
    }
    case FileExpectation::kUnchanged:
      EXPECT_EQ(entries, std::vector<std::string>{row.file_name});
      EXPECT_EQ(ReadFile(path), std::string(kOldContent));
      break;
    case FileExpectation::kLinkToDevFull:
      EXPECT_EQ(entries, std::vector<std::string>{row.file_name});
      EXPECT_TRUE(fs::is_symlink(path));
      break;
  }
}

std::string RowName(const ::testing::TestParamInfo<Row>& row) {
  return row.param.name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, ::testing::ValuesIn(Rows()),
                         RowName);

}  // namespace
}  // namespace diskmaps::testing
