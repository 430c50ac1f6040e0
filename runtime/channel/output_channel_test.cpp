#include <climits>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/channel/text_channel.h"
#include "runtime/platform/fake_platform.h"
#include "runtime/platform/io_codes.h"

namespace diskmaps {
namespace {

using Call = FakePlatform::Call;
using State = TextChannel::State;

constexpr std::size_t kSize = TextChannel::kBufferSize;
constexpr int kFile = FakePlatform::kFirstFileHandle;

class OutputChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IoErrorCode = 0;
    channel_.platform = &fake_;
    ConsoleOutput.platform = &fake_;
    BindName(ConsoleOutput, "");
  }
  void TearDown() override {
    BindName(ConsoleOutput, "");
    ConsoleOutput.platform = &SystemPlatform();
    IoErrorCode = 0;
  }
  // Binds the test channel to `name` and opens it.
  void Open(std::string_view name) {
    BindName(channel_, name);
    OpenForWriting(channel_);
  }

  FakePlatform fake_;
  TextChannel channel_;
};

// Lines of every length: the file receives blocks of exactly 128 bytes and
// the remainder at its close, and every byte arrives once, in order.
TEST_F(OutputChannelTest, FileReceivesExactBlocksOf128) {
  for (std::size_t length = 0; length <= 2 * kSize + 3; ++length) {
    FakePlatform fake;
    TextChannel channel;
    channel.platform = &fake;
    BindName(channel, "essai.txt");
    OpenForWriting(channel);
    std::string expected;
    for (int line = 0; line < 7; ++line) {
      const std::string text(length, static_cast<char>('a' + line));
      WriteText(channel, text);
      EndLine(channel);
      expected += text + "\r\n";
    }
    const std::size_t blocks = expected.size() / kSize;
    EXPECT_EQ(fake.WriteSizes(kFile), std::vector<std::size_t>(blocks, kSize))
        << length;
    CloseChannel(channel);
    EXPECT_EQ(fake.FileContent("essai.txt"), expected);
    const std::vector<std::size_t> sizes = fake.WriteSizes(kFile);
    EXPECT_EQ(sizes.size(), blocks + (expected.size() % kSize != 0 ? 1 : 0));
    EXPECT_EQ(fake.closed_handles, std::vector<int>{kFile});
    EXPECT_EQ(channel.state, State::kClosed);
  }
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(OutputChannelTest, FillingTheBufferExactlyHandsItOverAtOnce) {
  Open("f");
  WriteText(channel_, std::string(100, 'a'));
  EXPECT_TRUE(fake_.write_requests.empty());
  WriteText(channel_, std::string(28, 'b'));
  EXPECT_EQ(fake_.WriteSizes(kFile), std::vector<std::size_t>{kSize});
  EXPECT_EQ(channel_.pending, 0);
}

TEST_F(OutputChannelTest, WriteCharacterHandsTheFullBufferOverFirst) {
  Open("f");
  WriteText(channel_, std::string(kSize - 1, 'a'));
  WriteCharacter(channel_, 'b');
  EXPECT_TRUE(fake_.write_requests.empty());
  WriteCharacter(channel_, 'c');
  EXPECT_EQ(fake_.WrittenTo(kFile), std::string(kSize - 1, 'a') + "b");
  CloseChannel(channel_);
  EXPECT_EQ(fake_.WrittenTo(kFile), std::string(kSize - 1, 'a') + "bc");
}

TEST_F(OutputChannelTest, LineFlushOnACharacterDevice) {
  fake_.standard_output_kind = DeviceKind::kCharacter;
  const std::string long_line(kSize + 10, 'x');
  WriteText(ConsoleOutput, "Programme");
  EXPECT_TRUE(fake_.write_requests.empty());
  EndLine(ConsoleOutput);
  EndLine(ConsoleOutput);
  WriteText(ConsoleOutput, long_line);
  EndLine(ConsoleOutput);
  EXPECT_EQ(fake_.WriteSizes(kStandardOutput),
            (std::vector<std::size_t>{11, 2, kSize, 12}));
  EXPECT_EQ(fake_.WrittenTo(kStandardOutput),
            "Programme\r\n\r\n" + long_line + "\r\n");
  EXPECT_TRUE(ConsoleOutput.line_flush);
}

TEST_F(OutputChannelTest, NoLineFlushOnAPipeOrFile) {
  WriteText(ConsoleOutput, "Programme");
  EndLine(ConsoleOutput);
  EXPECT_TRUE(fake_.write_requests.empty());
  CloseChannel(ConsoleOutput);
  EXPECT_EQ(fake_.WrittenTo(kStandardOutput), "Programme\r\n");
}

TEST_F(OutputChannelTest, ConsoleOutputOpensAtFirstWriteOfAnyKind) {
  using Write = void (*)(TextChannel&);
  const Write writes[] = {
      [](TextChannel& c) { WriteText(c, "t"); },
      [](TextChannel& c) { WriteCharacter(c, 'c'); },
      [](TextChannel& c) { WriteInteger(c, 5); },
      [](TextChannel& c) { EndLine(c); },
  };
  for (const Write write : writes) {
    FakePlatform fake;
    ConsoleOutput.platform = &fake;
    BindName(ConsoleOutput, "");
    write(ConsoleOutput);
    EXPECT_EQ(ConsoleOutput.state, State::kOutput);
    EXPECT_EQ(fake.CallCount(Call::kStandardHandle), 1);
    EXPECT_FALSE(ConsoleOutput.owns_handle);
  }
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(OutputChannelTest, WriteIntegerIsPlainDecimal) {
  Open("f");
  for (const std::int32_t value :
       {0, 7, 10, 65535, -1, -40, INT_MAX, INT_MIN}) {
    WriteInteger(channel_, value);
    WriteCharacter(channel_, '|');
  }
  WriteText(channel_, "");
  CloseChannel(channel_);
  EXPECT_EQ(fake_.WrittenTo(kFile),
            "0|7|10|65535|-1|-40|2147483647|-2147483648|");
}

TEST_F(OutputChannelTest, BindNameCutsAtNulAnd259Bytes) {
  const std::string long_name(300, 'n');
  const struct {
    std::string name;
    std::string created;
  } cases[] = {
      {long_name, long_name.substr(0, 259)},
      {std::string("essai.txt\0junk", 14), "essai.txt"},
      {std::string(259, 'm'), std::string(259, 'm')},
  };
  for (const auto& test : cases) {
    Open(test.name);
    EXPECT_EQ(fake_.created_names.back(), test.created);
    CloseChannel(channel_);
  }
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(OutputChannelTest, BindNameLeavesTheChannelClosedAndEmpty) {
  Open("f");
  WriteText(channel_, "abc");
  BindName(channel_, "g");
  EXPECT_EQ(channel_.state, State::kClosed);
  EXPECT_EQ(channel_.pending, 0);
  EXPECT_FALSE(channel_.line_flush);
  EXPECT_EQ(channel_.platform, &fake_);
  EXPECT_EQ(fake_.CallCount(Call::kWrite), 0);
}

TEST_F(OutputChannelTest, ClosingTheStandardOutputWritesOutAndKeepsItOpen) {
  WriteText(ConsoleOutput, "abc");
  CloseChannel(ConsoleOutput);
  CloseChannel(ConsoleOutput);
  WriteText(ConsoleOutput, "d");
  CloseChannel(ConsoleOutput);
  EXPECT_EQ(fake_.WriteSizes(kStandardOutput),
            (std::vector<std::size_t>{3, 1}));
  EXPECT_EQ(ConsoleOutput.state, State::kOutput);
  EXPECT_TRUE(fake_.closed_handles.empty());
  EXPECT_EQ(IoErrorCode, 0);
}

// The worked example: with no usable standard output the first line fails
// in WriteText (105), in the appending step of EndLine (105) and in its last
// step (103), and 103 is what remains.
TEST_F(OutputChannelTest, UnusableStandardOutputFailsTheFirstLineWith103) {
  fake_.standard_output_open = false;
  WriteText(ConsoleOutput, "Programme");
  EXPECT_EQ(IoErrorCode, kCodeNotOpenForOutput);
  IoErrorCode = 0;
  EndLine(ConsoleOutput);
  EXPECT_EQ(IoErrorCode, kCodeNotOpen);
  EXPECT_EQ(ConsoleOutput.state, State::kClosed);
  EXPECT_EQ(fake_.CallCount(Call::kStandardHandle), 2);
  EXPECT_TRUE(fake_.write_requests.empty());
}

TEST_F(OutputChannelTest, OpeningFailuresLeaveTheChannelClosed) {
  const std::int32_t kRefused = kIoCodeAccessDenied;
  const struct {
    const char* situation;
    std::string name;
    Call failing;
    DeviceKind kind;
    std::int32_t code;
    std::vector<int> closed;
  } cases[] = {
      {"creation refused",
       "f",
       Call::kCreateFile,
       DeviceKind::kStream,
       kRefused,
       {}},
      {"no standard output",
       "",
       Call::kStandardHandle,
       DeviceKind::kStream,
       kRefused,
       {}},
      {"file of unknown kind",
       "f",
       Call::kWrite,
       DeviceKind::kUnknown,
       kCodeNotOpenForOutput,
       {kFile}},
      // The standard output is not ours to close.
      {"standard output of unknown kind",
       "",
       Call::kWrite,
       DeviceKind::kUnknown,
       kCodeNotOpenForOutput,
       {}},
  };
  for (const auto& test : cases) {
    FakePlatform fake;
    fake.FailAlways(test.failing, kRefused);
    fake.file_kind = test.kind;
    fake.standard_output_kind = test.kind;
    TextChannel channel;
    channel.platform = &fake;
    BindName(channel, test.name);
    IoErrorCode = 0;
    OpenForWriting(channel);
    EXPECT_EQ(IoErrorCode, test.code) << test.situation;
    EXPECT_EQ(channel.state, State::kClosed) << test.situation;
    EXPECT_EQ(fake.closed_handles, test.closed) << test.situation;
    // Writes to a channel other than ConsoleOutput do not open it.
    IoErrorCode = 0;
    WriteText(channel, "x");
    EXPECT_EQ(IoErrorCode, kCodeNotOpenForOutput) << test.situation;
    EXPECT_EQ(fake.CallCount(Call::kWrite), 0);
  }
}

TEST_F(OutputChannelTest, ClosedChannelCodes) {
  BindName(channel_, "f");
  EndLine(channel_);
  EXPECT_EQ(IoErrorCode, kCodeNotOpen);
  IoErrorCode = 0;
  WriteInteger(channel_, 3);
  EXPECT_EQ(IoErrorCode, kCodeNotOpenForOutput);
  IoErrorCode = 0;
  CloseChannel(channel_);
  EXPECT_EQ(IoErrorCode, kCodeNotOpen);
  EXPECT_EQ(fake_.CallCount(Call::kCreateFile), 0);
}

TEST_F(OutputChannelTest, RefusedWriteOutLosesItsBlockAndTheRestOfTheText) {
  Open("f");
  fake_.FailCall(Call::kWrite, 1, kIoCodeDiskFull);
  WriteText(channel_, std::string(kSize, 'a'));
  WriteText(channel_, std::string(2 * kSize + 5, 'b'));
  EXPECT_EQ(IoErrorCode, kIoCodeDiskFull);
  EXPECT_EQ(channel_.state, State::kOutput);
  EXPECT_EQ(channel_.pending, 0);
  // The failed block is not retried; writing goes on afterwards.
  IoErrorCode = 0;
  WriteText(channel_, "c");
  EndLine(channel_);
  CloseChannel(channel_);
  EXPECT_EQ(IoErrorCode, 0);
  EXPECT_EQ(fake_.FileContent("f"), std::string(kSize, 'a') + "c\r\n");
  EXPECT_EQ(fake_.WriteSizes(kFile),
            (std::vector<std::size_t>{kSize, kSize, 3}));
}

// A disk that fills up takes part of a block: the file keeps the blocks
// handed over before and whatever the system stored of the failing one.
TEST_F(OutputChannelTest, FullDiskKeepsWhatWasStored) {
  Open("f");
  fake_.LimitWriteSpace(kSize + 72);
  const std::string text = std::string(3 * kSize, 'a') + "tail";
  WriteText(channel_, text);
  EXPECT_EQ(IoErrorCode, kIoCodeDiskFull);
  EXPECT_EQ(fake_.WriteSizes(kFile), (std::vector<std::size_t>{kSize, kSize}));
  EXPECT_EQ(fake_.FileContent("f"), text.substr(0, kSize + 72));
}

TEST_F(OutputChannelTest, RefusedWriteOutAtCloseKeepsTheChannelOpen) {
  Open("f");
  WriteText(channel_, "abc");
  fake_.FailCall(Call::kWrite, 0, kIoCodeDiskFull);
  CloseChannel(channel_);
  EXPECT_EQ(IoErrorCode, kIoCodeDiskFull);
  EXPECT_EQ(channel_.state, State::kOutput);
  EXPECT_TRUE(fake_.IsOpen(kFile));
  // Nothing is pending any more: the next close succeeds.
  IoErrorCode = 0;
  CloseChannel(channel_);
  EXPECT_EQ(IoErrorCode, 0);
  EXPECT_EQ(channel_.state, State::kClosed);
}

TEST_F(OutputChannelTest, RefusedCloseGivesItsCodeAndClosesTheChannel) {
  Open("f");
  WriteText(channel_, "abc");
  fake_.FailAlways(Call::kClose, kIoCodeGeneralFailure);
  CloseChannel(channel_);
  EXPECT_EQ(IoErrorCode, kIoCodeGeneralFailure);
  EXPECT_EQ(channel_.state, State::kClosed);
  EXPECT_EQ(fake_.FileContent("f"), "abc");
}

TEST_F(OutputChannelTest, LaterFailureOverwritesTheCode) {
  Open("f");
  fake_.FailAlways(Call::kWrite, kIoCodeDiskFull);
  IoErrorCode = kCodeMalformedNumber;
  WriteText(channel_, std::string(kSize, 'a'));
  EXPECT_EQ(IoErrorCode, kIoCodeDiskFull);
  IoErrorCode = 9;
  WriteText(channel_, "fine");
  EXPECT_EQ(IoErrorCode, 9);  // a successful write leaves the code alone
}

}  // namespace
}  // namespace diskmaps
