#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/channel/text_channel.h"
#include "runtime/number/decimal.h"
#include "runtime/platform/fake_platform.h"
#include "runtime/platform/io_codes.h"

namespace diskmaps {
namespace {

using Call = FakePlatform::Call;

constexpr std::size_t kSize = TextChannel::kBufferSize;

// The console input as the reading rules see it: every LF that does not
// follow a CR becomes CR LF; nothing after a byte 26 is ever delivered.
std::string ConsoleView(const std::string& raw) {
  std::string view;
  char previous = 0;
  for (const char byte : raw) {
    if (byte == 26) break;
    if (byte == '\n' && previous != '\r') view += '\r';
    view += byte;
    previous = byte;
  }
  return view;
}

// Every byte up to the end of input.
std::string Drain(TextChannel& channel) {
  std::string bytes;
  for (std::uint8_t byte; (byte = ReadByte(channel)) != kEndOfInput;) {
    bytes += static_cast<char>(byte);
  }
  return bytes;
}

Extended FromLongDouble(long double value) {
  static_assert(sizeof(long double) >= 10);
  std::uint64_t significand;
  std::uint16_t sign_and_exponent;
  std::memcpy(&significand, &value, 8);
  std::memcpy(&sign_and_exponent, reinterpret_cast<char*>(&value) + 8, 2);
  return Extended::FromBits(sign_and_exponent, significand);
}

// The standard input channel, opened on a fake platform.
// Opens `channel` for reading as a console of its own on `fake`.
void OpenOnFake(TextChannel& channel, FakePlatform& fake) {
  channel.platform = &fake;
  BindName(channel, "");
  OpenForReading(channel);
}

class InputChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IoErrorCode = 0;
    OpenOnFake(channel_, fake_);
    ASSERT_EQ(channel_.state, TextChannel::State::kInput);
  }
  void TearDown() override { IoErrorCode = 0; }

  FakePlatform fake_;
  TextChannel channel_;
};

TEST_F(InputChannelTest, EveryChunkSizeDeliversTheSameTranslatedStream) {
  std::vector<std::string> inputs = {
      "2\n8\n15\n0.1\n0.9\nessai\n",
      "2\r\n8\r\n15\r\n0.1\r\n0.9\r\nessai\r\n",
      std::string(300, '\n'),
      std::string(127, 'a') + "\r\n" + std::string(126, 'b') + "\n\n",
      "mixed\r\rlone CR\n\r\n\n\rend",
      "before\x1a"
      "after\n",
  };
  std::mt19937 random(2001);
  const char alphabet[] = {'\r', '\n', 'x', ' '};
  for (int i = 0; i < 20; ++i) {
    std::string bytes(400, ' ');
    for (char& byte : bytes) byte = alphabet[random() % 4];
    inputs.push_back(bytes);
  }
  for (const std::string& input : inputs) {
    for (std::size_t chunk = 1; chunk <= kSize; ++chunk) {
      FakePlatform fake;
      TextChannel channel;
      OpenOnFake(channel, fake);
      fake.SetInput(input, chunk);
      ASSERT_EQ(Drain(channel), ConsoleView(input))
          << "chunk " << chunk << " input " << input;
      for (const std::size_t capacity : fake.read_capacities) {
        ASSERT_EQ(capacity, kSize);
      }
    }
  }
  EXPECT_EQ(IoErrorCode, 0);
}

struct Answers {
  std::int32_t symmetry_type;
  std::int32_t degree;
  std::int32_t map_count;
  Extended r0_min;
  Extended r0_max;
  std::string name;
  std::int32_t code;
};

// The dialogue's reading statements: each answer, then SkipLine.
Answers ReadAnswers(TextChannel& channel) {
  Answers answers;
  answers.symmetry_type = ReadInteger(channel);
  SkipLine(channel);
  answers.degree = ReadInteger(channel);
  SkipLine(channel);
  answers.map_count = ReadInteger(channel);
  SkipLine(channel);
  answers.r0_min = ReadReal(channel);
  SkipLine(channel);
  answers.r0_max = ReadReal(channel);
  SkipLine(channel);
  ReadLineText(channel, answers.name);
  SkipLine(channel);
  answers.code = IoErrorCode;
  return answers;
}

TEST_F(InputChannelTest, AnswersAreTheSameWithLineFeedsOrCrLfInAnyChunks) {
  for (const std::string input :
       {"2\n8\n15\n0.1\n0.9\n  essai \n",
        "2\r\n8\r\n15\r\n0.1\r\n0.9\r\n  essai \r\n"}) {
    for (std::size_t chunk = 1; chunk <= kSize; ++chunk) {
      FakePlatform fake;
      TextChannel channel;
      OpenOnFake(channel, fake);
      fake.SetInput(input, chunk);
      const Answers answers = ReadAnswers(channel);
      ASSERT_EQ(answers.symmetry_type, 2) << chunk;
      ASSERT_EQ(answers.degree, 8);
      ASSERT_EQ(answers.map_count, 15);
      ASSERT_EQ(answers.r0_min, FromLongDouble(0.1L));
      ASSERT_EQ(answers.r0_max, FromLongDouble(0.9L));
      ASSERT_EQ(answers.name, "  essai ");
      ASSERT_EQ(answers.code, 0);
      ASSERT_EQ(ReadByte(channel), kEndOfInput);
    }
  }
}

// On a terminal each line arrives by itself: an answer and its SkipLine must
// not ask for the next line, or the program would wait before its prompt.
TEST_F(InputChannelTest, AnswerLineIsTakenWithoutWaitingForTheNextOne) {
  // The third line fills a request exactly, so its LF is owed to the next
  // refill, which must not ask the system.
  for (const std::string& line : std::vector<std::string>{
           "2\n", "2\r\n", std::string(126, ' ') + "2\n",
           std::string(127, ' ') + "2\n", std::string(128, ' ') + "2\n"}) {
    FakePlatform fake;
    TextChannel channel;
    OpenOnFake(channel, fake);
    fake.AddInputChunk(line);
    fake.AddInputChunk("8\n");
    EXPECT_EQ(ReadInteger(channel), 2);
    SkipLine(channel);
    const int line_reads = fake.CallCount(Call::kRead);
    EXPECT_EQ(ReadInteger(channel), 8);
    SkipLine(channel);
    EXPECT_EQ(fake.CallCount(Call::kRead), line_reads + 1) << line.size();
  }
}

TEST_F(InputChannelTest, ReadIntegerCases) {
  const struct {
    std::string input;
    std::int32_t value;
    std::int32_t code;
    std::string rest;
  } cases[] = {
      {"12 34\r\n", 12, 0, " 34\r\n"},
      {"\r\n \t\r\n\r\n  7\r\n", 7, 0, "\r\n"},  // blank lines are skipped
      {"12abc\r\n", 0, kCodeMalformedNumber, "\r\n"},
      {"3abc\r\n", 0, kCodeMalformedNumber, "\r\n"},
      {"3 abc\r\n", 3, 0, " abc\r\n"},
      {std::string(32, '0') + "1\r\n", 0, 0, "1\r\n"},  // cut after 32 bytes
      {std::string(31, '0') + "1\r\n", 1, 0, "\r\n"},
      {"", 0, 0, ""},
      {"  \r\n", 0, 0, ""},
      {"12", 12, 0, ""},
      {"1\x1a"
       "2\r\n",
       1, 0, ""},  // 26 ends the token and the input
      {"\x1a"
       "12",
       0, 0, ""},
      {"-2147483648\r", -2147483648, 0, "\r"},
      {std::string("$FF\0x", 5), 255, 0,
       std::string("\0x", 2)},  // NUL is a blank
      {"-\r\n", 0, kCodeMalformedNumber, "\r\n"},
  };
  for (const auto& test : cases) {
    IoErrorCode = 0;
    FakePlatform fake;
    TextChannel channel;
    OpenOnFake(channel, fake);
    fake.SetInput(test.input);
    EXPECT_EQ(ReadInteger(channel), test.value) << test.input;
    EXPECT_EQ(IoErrorCode, test.code) << test.input;
    EXPECT_EQ(Drain(channel), test.rest) << test.input;
  }
}

// The channel's part is the token handed to the conversion: the expected
// value is that of the expected token (or +0 at end of input and with 106).
TEST_F(InputChannelTest, ReadRealCases) {
  const Extended kPositiveZero;
  const std::string k62(62, '0');
  const struct {
    std::string input;
    std::string token;  // empty: +0 is expected
    std::int32_t code;
    std::string rest;
  } cases[] = {
      {"0.1\r\n", "0.1", 0, "\r\n"},
      {"\r\n\r\n  -2.5e1 x\r\n", "-2.5e1", 0, " x\r\n"},
      {"0,1\r\n", "", kCodeMalformedNumber, "\r\n"},
      {"0.1x\r\n", "", kCodeMalformedNumber, "\r\n"},
      {"-0\r\n", "-0", 0, "\r\n"},
      {"", "", 0, ""},
      {" \r\n\t", "", 0, ""},
      {"1.5\x1a"
       "7",
       "1.5", 0, ""},
      // Cut after 64 bytes: the 5 stays for the next read.
      {"0." + k62 + "5", "0." + k62, 0, "5"},
      {"0." + k62.substr(1) + "5", "0." + k62.substr(1) + "5", 0, ""},
      {"1e5120", "1e5120", 0, ""},
  };
  for (const auto& test : cases) {
    IoErrorCode = 0;
    FakePlatform fake;
    TextChannel channel;
    OpenOnFake(channel, fake);
    fake.SetInput(test.input);
    bool ok = true;
    const Extended expected =
        test.token.empty() ? kPositiveZero : ParseReal(test.token.c_str(), ok);
    ASSERT_TRUE(ok);
    const Extended value = ReadReal(channel);
    EXPECT_EQ(value.SignAndExponent(), expected.SignAndExponent())
        << test.input;
    EXPECT_EQ(value.Significand(), expected.Significand()) << test.input;
    EXPECT_EQ(IoErrorCode, test.code) << test.input;
    EXPECT_EQ(Drain(channel), test.rest) << test.input;
  }
}

TEST_F(InputChannelTest, LineAndSkipLineCases) {
  const std::string k300(300, 'x');
  const std::string k255(255, 'y');
  const struct {
    std::string input;
    std::string line;  // ReadLineText
    std::string rest_after_line;
    std::string rest_after_skip;  // SkipLine from the start instead
  } cases[] = {
      {"  essai  \r\nnext", "  essai  ", "\r\nnext", "next"},
      {"\r\nnext", "", "\r\nnext", "next"},
      {"", "", "", ""},
      {"abc\rdef", "abc", "\rdef", "def"},  // a lone CR ends the line
      {"abc\r\r\n", "abc", "\r\r\n", "\r\n"},
      {"abc\r", "abc", "\r", ""},
      {"a\n b\r\n", "a", "\r\n b\r\n", " b\r\n"},  // LF arrives as CR LF
      {std::string("a\tb\0c\r\n", 7), std::string("a\tb\0c", 5), "\r\n", ""},
      {"ab\x1a"
       "cd\r\n",
       "ab", "", ""},
      {k300 + "\r\nz", k300, "\r\nz", "z"},
      {k255 + "\r\n", k255, "\r\n", ""},
      {k255 + k255, k255 + k255, "", ""},
  };
  for (const auto& test : cases) {
    for (const bool skip : {false, true}) {
      IoErrorCode = 0;
      FakePlatform fake;
      TextChannel channel;
      OpenOnFake(channel, fake);
      fake.SetInput(test.input);
      if (skip) {
        SkipLine(channel);
        EXPECT_EQ(Drain(channel), test.rest_after_skip) << test.input;
      } else {
        std::string line = "old";
        ReadLineText(channel, line);
        EXPECT_EQ(line, test.line) << test.input;
        EXPECT_EQ(Drain(channel), test.rest_after_line) << test.input;
      }
      EXPECT_EQ(IoErrorCode, 0);
    }
  }
}

TEST_F(InputChannelTest, EndOfInputIsFinalAndAsksNoMore) {
  fake_.SetInput("5");
  EXPECT_EQ(ReadInteger(channel_), 5);
  EXPECT_EQ(ReadInteger(channel_), 0);
  const int reads = fake_.CallCount(Call::kRead);
  fake_.AddInputChunk("6\r\n");  // arrives too late: the end was seen
  EXPECT_EQ(ReadByte(channel_), kEndOfInput);
  EXPECT_EQ(ReadByte(channel_), kEndOfInput);
  SkipLine(channel_);
  EXPECT_TRUE(SkipBlanks(channel_));
  EXPECT_EQ(fake_.CallCount(Call::kRead), reads);
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(InputChannelTest, FailedReadGivesItsCodeAndIsTriedAgain) {
  fake_.AddInputChunk("12");
  fake_.FailCall(Call::kRead, 1, kIoCodeGeneralFailure);
  fake_.AddInputChunk("3\r\n");
  // The failure ends the token: its bytes so far are the answer.
  EXPECT_EQ(ReadInteger(channel_), 12);
  EXPECT_EQ(IoErrorCode, kIoCodeGeneralFailure);
  IoErrorCode = 0;
  EXPECT_EQ(ReadInteger(channel_), 3);
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(InputChannelTest, FailedReadBeforeAnyTokenReadsAsEndOfInput) {
  fake_.FailCall(Call::kRead, 0, kIoCodeAccessDenied);
  fake_.SetInput("7\r\n");
  std::string line = "old";
  ReadLineText(channel_, line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(IoErrorCode, kIoCodeAccessDenied);
  EXPECT_EQ(ReadInteger(channel_), 7);
}

TEST_F(InputChannelTest, BrokenPipeIsEndOfInput) {
  fake_.FailAlways(Call::kRead, kIoCodeBrokenPipe);
  EXPECT_EQ(ReadInteger(channel_), 0);
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(InputChannelTest, PendingCodeIsNeitherClearedNorLooked) {
  IoErrorCode = 77;
  fake_.SetInput("9\r\n");
  EXPECT_EQ(ReadInteger(channel_), 9);
  SkipLine(channel_);
  EXPECT_EQ(IoErrorCode, 77);
}

// ConsoleInput opens at its first read; the global's platform is swapped
// for the fake for the test's duration.
class ConsoleInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IoErrorCode = 0;
    ConsoleInput.platform = &fake_;
    BindName(ConsoleInput, "");
  }
  void TearDown() override {
    BindName(ConsoleInput, "");
    ConsoleInput.platform = &SystemPlatform();
    IoErrorCode = 0;
  }

  FakePlatform fake_;
};

TEST_F(ConsoleInputTest, OpensAtFirstRead) {
  fake_.SetInput("42\r\n");
  EXPECT_EQ(ConsoleInput.state, TextChannel::State::kClosed);
  EXPECT_EQ(ReadInteger(ConsoleInput), 42);
  EXPECT_EQ(ConsoleInput.state, TextChannel::State::kInput);
  EXPECT_EQ(fake_.CallCount(Call::kStandardHandle), 1);
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(ConsoleInputTest, UnopenableInputGives104AndIsTriedAgain) {
  fake_.standard_input_open = false;
  EXPECT_EQ(ReadInteger(ConsoleInput), 0);
  EXPECT_EQ(IoErrorCode, kCodeConsoleInputNotOpen);
  IoErrorCode = 0;
  EXPECT_EQ(ReadReal(ConsoleInput), Extended());
  std::string line = "old";
  ReadLineText(ConsoleInput, line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(IoErrorCode, kCodeConsoleInputNotOpen);
  EXPECT_EQ(fake_.CallCount(Call::kStandardHandle), 3);

  fake_.standard_input_open = true;
  fake_.SetInput("5\r\n");
  EXPECT_EQ(ReadInteger(ConsoleInput), 5);
}

TEST_F(ConsoleInputTest, ClosingReleasesNothingAndIsSilentWhenClosed) {
  CloseChannel(ConsoleInput);
  EXPECT_EQ(IoErrorCode, 0);
  fake_.SetInput("1\r\n");
  EXPECT_EQ(ReadInteger(ConsoleInput), 1);
  CloseChannel(ConsoleInput);
  CloseChannel(ConsoleInput);
  EXPECT_EQ(IoErrorCode, 0);
  EXPECT_EQ(fake_.CallCount(Call::kClose), 0);
}

TEST(OtherInputChannelTest, ClosedChannelIsNotOpenedByReading) {
  FakePlatform fake;
  TextChannel channel;
  channel.platform = &fake;
  BindName(channel, "");
  IoErrorCode = 0;
  EXPECT_EQ(ReadByte(channel), kEndOfInput);
  EXPECT_EQ(IoErrorCode, kCodeConsoleInputNotOpen);
  EXPECT_EQ(fake.CallCount(Call::kStandardHandle), 0);
  IoErrorCode = 0;
  CloseChannel(channel);
  EXPECT_EQ(IoErrorCode, kCodeNotOpen);
  IoErrorCode = 0;
}

}  // namespace
}  // namespace diskmaps
