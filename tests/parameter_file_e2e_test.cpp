// The parameter file written by the built program: its bytes, its name, how
// it is written and how writing it fails.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/map_test_oracle.h"
#include "gtest/gtest.h"
#include "runtime/number/decimal_test_oracle.h"
#include "runtime/number/format_test_oracle.h"
#include "runtime/random/random_source.h"
#include "tests/expected_dialogue.h"
#include "tests/program_runner.h"

namespace diskmaps::testing {
namespace {

using diskmaps::NextSeed;

constexpr std::size_t kRecordBytes = 75;  // three lines of 23 + CR LF

class ParameterFileTest : public ProgramTest {
 protected:
  // The clock shows 12:34:56.789 UTC.
  ProgramOptions Options() const override {
    ProgramOptions options = ProgramTest::Options();
    options.utc_millisecond_of_day = 45296789;
    return options;
  }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(directory_),
                      std::filesystem::directory_iterator()));
  }
};

// The file that a run seeded at `millisecond` writes, computed independently
// with the processor's 80-bit arithmetic.
std::string ExpectedFile(std::string_view header, std::uint32_t millisecond,
                         int map_count, double r0_min, double r0_max) {
  const LongDoubleFormatter formatter;
  auto line = [&](long double value) {
    return formatter.Format(FromLongDouble(value)) + "\r\n";
  };
  std::string file(header);
  std::uint32_t seed = millisecond;
  for (int map = 0; map < map_count; ++map) {
    const OracleRecord record = OracleDraw(seed, r0_min, r0_max);
    file += line(record.x) + line(record.y) + line(record.r0);
    for (int draw = 0; draw < 3; ++draw) seed = NextSeed(seed);
  }
  return file;
}

TEST_F(ParameterFileTest, RecordsAreTheDrawsOfTheSeedingMillisecond) {
  struct Case {
    const char* answers;
    std::string_view header;
    int map_count;
    double r0_min;
    double r0_max;
    std::uint32_t millisecond;
  };
  for (const Case& c : {
           Case{"0\n2\n0.1\n0.9\nf\n", "0\r\n0\r\n2\r\n", 2, 0.1, 0.9,
                45296789},
           Case{"1\n40\n-2\n3\nf\n", "1\r\n0\r\n40\r\n", 40, -2, 3, 0},
           Case{"2\n8\n15\n0.1\n0.9\nf\n", "2\r\n8\r\n15\r\n", 15, 0.1, 0.9,
                86399999},
           Case{"3\n8\n15\n0.9\n0.1\nf\n", "3\r\n8\r\n15\r\n", 15, 0.9, 0.1,
                12345678},
           Case{"3\n65535\n500\n1e-310\n1e300\nf\n", "3\r\n65535\r\n500\r\n",
                500, 1e-310, 1e300, 777},
       }) {
    SCOPED_TRACE(c.answers);
    ProgramOptions options = Options();
    options.input = c.answers;
    options.utc_millisecond_of_day = c.millisecond;
    ASSERT_EQ(RunDiskmaps(options).exit_code, 0);
    EXPECT_EQ(File("f.txt"), ExpectedFile(c.header, c.millisecond, c.map_count,
                                          c.r0_min, c.r0_max));
  }
}

TEST_F(ParameterFileTest, HeaderAndSizeFollowTheAnswers) {
  struct Case {
    const char* answers;
    const char* name;
    std::string_view header;
    std::size_t size;
  };
  for (const Case& c : {
           Case{"0\n2\n0.1\n0.9\na\n", "a.txt", "0\r\n0\r\n2\r\n", 159},
           Case{"3\n8\n15\n0.1\n0.9\nb\n", "b.txt", "3\r\n8\r\n15\r\n", 1135},
           Case{"1\n0\n0.1\n0.9\nc\n", "c.txt", "1\r\n0\r\n0\r\n", 9},
           Case{"2\n0\n1\n0.5\n0.5\nd\n", "d.txt", "2\r\n0\r\n1\r\n", 84},
           Case{"3\n65537\n-65535\n0\n1\ne\n", "e.txt", "3\r\n1\r\n1\r\n", 84},
       }) {
    SCOPED_TRACE(c.name);
    const ProgramResult result = Run(c.answers);
    EXPECT_EQ(result.exit_code, 0);
    const auto file = File(c.name);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), c.size);
    EXPECT_EQ(file->substr(0, c.header.size()), c.header);
  }
}

TEST_F(ParameterFileTest,
       EqualBoundsGiveThatRadiusAndAnInfiniteBoundIsWritten) {
  ASSERT_EQ(Run("0\n3\n0.5\n0.5\nequal\n").exit_code, 0);
  ASSERT_EQ(Run("0\n3\n-1\n1e5120\ninfinite\n").exit_code, 0);
  const auto equal = File("equal.txt");
  const auto infinite = File("infinite.txt");
  ASSERT_TRUE(equal && infinite);
  for (std::size_t map = 0; map < 3; ++map) {
    const std::size_t r0_line = 9 + map * kRecordBytes + 50;
    EXPECT_EQ(equal->substr(r0_line, 25), " 5.00000000000000E-0001\r\n");
    EXPECT_EQ(infinite->substr(r0_line, 25), "                   +Inf\r\n");
  }
}

TEST_F(ParameterFileTest, FileIsWrittenInBlocksOf128Bytes) {
  ProgramOptions options = Options();
  options.input = "3\n8\n15\n0.1\n0.9\nblocks\n";
  options.write_log_path = MakeTemporaryDirectory() + "/writes";
  ASSERT_EQ(RunDiskmaps(options).exit_code, 0);
  EXPECT_EQ(ReadFile(options.write_log_path),
            "128\n128\n128\n128\n128\n128\n128\n128\n111\n");  // 1135 bytes
}

TEST_F(ParameterFileTest, RunningTwiceReplacesTheFile) {
  ASSERT_EQ(Run("0\n15\n0.1\n0.9\nsame\n").exit_code, 0);
  ASSERT_EQ(Run("1\n0\n0.1\n0.9\nsame\n").exit_code, 0);
  EXPECT_EQ(File("same.txt"), "1\r\n0\r\n0\r\n");
}

TEST_F(ParameterFileTest, NameIsTheAnswerAsTypedWithTxtAppended) {
  struct Case {
    std::string answer;
    std::string file;
  };
  const std::string deep = std::string(100, 'p') + "/" + std::string(100, 'q');
  ASSERT_TRUE(std::filesystem::create_directories(directory_ + "/" + deep));
  for (const Case& c : {
           Case{"", ".txt"},
           Case{"essai.txt", "essai.txt.txt"},
           Case{"  essai  ", "  essai  .txt"},
           Case{"\tx", "\tx.txt"},
           Case{std::string("ab\0cd", 5), "ab"},
           // Names are cut to 259 bytes: here in the last component.
           Case{deep + "/" + std::string(98, 'r'),
                deep + "/" + std::string(57, 'r')},
       }) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(Run("1\n0\n0\n0\n" + c.answer + "\n").exit_code, 0);
    EXPECT_EQ(File(c.file), "1\r\n0\r\n0\r\n");
  }
}

TEST_F(ParameterFileTest, NameThatBeginsWithNulWritesToStandardOutput) {
  const ProgramResult result = Run(std::string("2\n8\n1\n0\n0\n\0x\n", 13));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(EntryCount(), 0u);
  EXPECT_NE(result.output.find("2\r\n8\r\n1\r\n"), std::string::npos);
  EXPECT_EQ(result.output.size(),
            ExpectedDialogueSize(/*with_degree=*/true) + 9 + kRecordBytes);
}

TEST_F(ParameterFileTest, CreationFailuresAreReportedAndCreateNothing) {
  const ProgramResult missing = Run("0\n1\n0\n1\nno/such/folder\n");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_TRUE(EndsWithReport(missing.output, "EInOutError",
                             "Nom de fichier incorrect."));
  EXPECT_EQ(EntryCount(), 0u);

  const ProgramResult too_long =
      Run("0\n1\n0\n1\n" + std::string(300, 'n') + "\n");
  EXPECT_EQ(too_long.exit_code, 1);
  EXPECT_TRUE(
      EndsWithReport(too_long.output, "EInOutError", "Erreur E/S 206."));
  EXPECT_EQ(EntryCount(), 0u);
}

TEST_F(ParameterFileTest, ReadOnlyFileIsLeftAsItWas) {
  const std::string path = directory_ + "/kept.txt";
  ASSERT_EQ(chmod(directory_.c_str(), 0777), 0);
  {
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs("old content", file);
    fclose(file);
  }
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ProgramOptions options = Options();
  options.input = "0\n1\n0\n1\nkept\n";
  options.drop_root = true;
  const ProgramResult result = RunDiskmaps(options);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(EndsWithReport(result.output, "EInOutError",
                             "Acc\xE8s au fichier refus\xE9."));
  EXPECT_EQ(ReadFile(path), "old content");
}

TEST_F(ParameterFileTest, FullDiskEndsTheRun) {
  ASSERT_EQ(symlink("/dev/full", (directory_ + "/full.txt").c_str()), 0);
  const ProgramResult result = Run("0\n100\n0\n1\nfull\n");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(EndsWithReport(result.output, "EInOutError", "Erreur E/S 112."));
}

TEST_F(ParameterFileTest, InvalidOperationAtTheFirstMapLeavesWholeBlocks) {
  // An infinite r0 min fails at the first map, before a block is full.
  const ProgramResult result = Run("3\n8\n100\n1e5120\n1\ninf\n");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(EndsWithReport(result.output, "EInvalidOp",
                             "Op\xE9ration en virgule flottante incorrecte."));
  const auto file = File("inf.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, "");
}

TEST_F(ParameterFileTest, LargestJob) {
  const ProgramResult result = Run("3\n65535\n65535\n0.1\n0.9\nlargest\n");
  EXPECT_EQ(result.exit_code, 0);
  const auto file = File("largest.txt");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), kRecordBytes * 65535 + 17);
  EXPECT_EQ(file->substr(0, 17), "3\r\n65535\r\n65535\r\n");
}

}  // namespace
}  // namespace diskmaps::testing
