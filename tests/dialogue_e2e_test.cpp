// The dialogue of the built program, byte for byte.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "gtest/gtest.h"
#include "tests/expected_dialogue.h"
#include "tests/program_runner.h"

namespace diskmaps::testing {
namespace {

std::string WholeDialogue(bool with_degree) {
  std::string dialogue(kExpectedMenu);
  if (with_degree) dialogue += kExpectedDegreePrompt;
  for (const std::string_view prompt :
       {kExpectedMapCountPrompt, kExpectedR0MinPrompt, kExpectedR0MaxPrompt,
        kExpectedFileNamePrompt}) {
    dialogue += prompt;
  }
  return dialogue;
}

using DialogueTest = ProgramTest;

TEST_F(DialogueTest, EachSymmetryTypeAsksItsQuestions) {
  struct Case {
    const char* type_answer;
    bool asks_degree;
  };
  for (const Case& c :
       {Case{"0", false}, Case{"1", false}, Case{"2", true}, Case{"3", true},
        Case{"256", false}, Case{"259", true}}) {
    SCOPED_TRACE(c.type_answer);
    const std::string degree = c.asks_degree ? "8\n" : "";
    const ProgramResult result =
        Run(std::string(c.type_answer) + "\n" + degree + "1\n0.1\n0.9\nrun\n");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.output, WholeDialogue(c.asks_degree));
  }
}

TEST_F(DialogueTest, TypesAboveThreeQuitAfterTheMenu) {
  for (const char* answer : {"4", "5", "255", "-1", "260", "1000"}) {
    SCOPED_TRACE(answer);
    const ProgramResult result =
        Run(std::string(answer) + "\n1\n0.1\n0.9\nx\n");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.output, kExpectedMenu);
  }
  EXPECT_EQ(File("x.txt"), std::nullopt);
}

TEST_F(DialogueTest, CarriageReturnLineEndsGiveTheSameRun) {
  const ProgramResult with_lf = Run("2\n8\n15\n0.1\n0.9\nessai\n");
  const auto lf_file = File("essai.txt");
  const ProgramResult with_crlf =
      Run("2\r\n8\r\n15\r\n0.1\r\n0.9\r\nessai\r\n");
  const auto crlf_file = File("essai.txt");
  EXPECT_EQ(with_lf.output, WholeDialogue(true));
  EXPECT_EQ(with_crlf.output, with_lf.output);
  ASSERT_TRUE(lf_file && crlf_file);
  EXPECT_EQ(lf_file->size(), crlf_file->size());
  EXPECT_EQ(lf_file->substr(0, 10), "2\r\n8\r\n15\r\n");
}

TEST_F(DialogueTest, InputAtItsEndTakesTypeZeroAndAnEmptyName) {
  const ProgramResult result = Run("");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, WholeDialogue(false));
  EXPECT_EQ(File(".txt"), "0\r\n0\r\n0\r\n");
}

TEST_F(DialogueTest, RestOfAnAnswerLineIsDiscarded) {
  const ProgramResult result =
      Run("3 abc\n\n\n  8 9\n0\n0.1\n0.9\n  two  words \n");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, WholeDialogue(true));
  EXPECT_EQ(File("  two  words .txt"), "3\r\n8\r\n0\r\n");
}

// On a terminal each prompt is on the screen before the program waits for
// its answer.
TEST(DialogueOnTerminalTest, EachPromptIsVisibleBeforeItsAnswer) {
  const std::string directory = MakeTemporaryDirectory();
  int controller = -1;
  termios raw_mode;
  cfmakeraw(&raw_mode);
  const pid_t child = forkpty(&controller, nullptr, &raw_mode, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    execl(DISKMAPS_EXECUTABLE, DISKMAPS_EXECUTABLE, nullptr);
    _exit(127);
  }
  std::string screen;
  // Waits until the screen ends with `expected`, without answering.
  auto await_screen = [&](std::string_view expected) {
    while (screen.size() < expected.size() ||
           screen.compare(screen.size() - expected.size(), expected.size(),
                          expected) != 0) {
      pollfd fd = {controller, POLLIN, 0};
      if (poll(&fd, 1, 10000) <= 0) return false;
      char buffer[512];
      const ssize_t count = read(controller, buffer, sizeof buffer);
      if (count <= 0) return false;
      screen.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
  };
  auto answer = [&](std::string_view line) {
    ASSERT_EQ(write(controller, line.data(), line.size()),
              static_cast<ssize_t>(line.size()));
  };
  EXPECT_TRUE(await_screen(kExpectedMenu));
  answer("3\n");
  EXPECT_TRUE(await_screen(kExpectedDegreePrompt));
  answer("8\n");
  EXPECT_TRUE(await_screen(kExpectedMapCountPrompt));
  answer("0\n");
  EXPECT_TRUE(await_screen(kExpectedR0MinPrompt));
  answer("0.1\n");
  EXPECT_TRUE(await_screen(kExpectedR0MaxPrompt));
  answer("0.9\n");
  EXPECT_TRUE(await_screen(kExpectedFileNamePrompt));
  answer("tty\n");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(controller);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(directory + "/tty.txt"), "3\r\n8\r\n0\r\n");
}

}  // namespace
}  // namespace diskmaps::testing
