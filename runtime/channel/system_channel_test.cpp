// The channels on the platform of the process: real descriptors, real files.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "runtime/channel/text_channel.h"
#include "runtime/platform/io_codes.h"

namespace diskmaps {
namespace {

std::string ReadFile(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY);
  char chunk[512];
  for (ssize_t count; (count = ::read(fd, chunk, sizeof chunk)) > 0;) {
    bytes.append(chunk, static_cast<std::size_t>(count));
  }
  ::close(fd);
  return bytes;
}

class SystemChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { IoErrorCode = 0; }
  void TearDown() override { IoErrorCode = 0; }
};

// `printf '2\n8\n15\n0.1\n0.9\nessai\n' | diskmaps`: the standard input is a
// pipe whose lines end with LF alone.
TEST_F(SystemChannelTest, AnswersFromAPipedStandardInput) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string input = "2\n8\n15\n0.1\n0.9\n  essai\n";
  ASSERT_EQ(::write(ends[1], input.data(), input.size()),
            static_cast<ssize_t>(input.size()));
  ::close(ends[1]);
  const int saved_input = ::dup(0);
  ASSERT_EQ(::dup2(ends[0], 0), 0);
  ::close(ends[0]);

  TextChannel channel;
  BindName(channel, "");
  OpenForReading(channel);
  std::int32_t integers[3];
  for (std::int32_t& value : integers) {
    value = ReadInteger(channel);
    SkipLine(channel);
  }
  const Extended r0_min = ReadReal(channel);
  SkipLine(channel);
  ReadReal(channel);
  SkipLine(channel);
  std::string name;
  ReadLineText(channel, name);
  SkipLine(channel);
  const std::uint8_t last = ReadByte(channel);

  ::dup2(saved_input, 0);
  ::close(saved_input);
  EXPECT_EQ(integers[0], 2);
  EXPECT_EQ(integers[1], 8);
  EXPECT_EQ(integers[2], 15);
  EXPECT_EQ(r0_min.Significand(), 0xCCCCCCCCCCCCCCCDu);  // 0.1 rounded
  EXPECT_EQ(name, "  essai");
  EXPECT_EQ(last, kEndOfInput);
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(SystemChannelTest, FileIsCreatedWrittenAndClosed) {
  char directory[] = "/tmp/diskmaps_channel_XXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string path = std::string(directory) + "/essai.txt";
  std::string expected;
  for (int pass = 0; pass < 2; ++pass) {  // the second pass truncates
    TextChannel channel;
    BindName(channel, path);
    OpenForWriting(channel);
    EXPECT_FALSE(channel.line_flush);
    expected.clear();
    for (int line = 0; line < 50 - 20 * pass; ++line) {
      WriteInteger(channel, line);
      WriteText(channel, " 1.00000000000000000E+0000");
      EndLine(channel);
      expected += std::to_string(line) + " 1.00000000000000000E+0000\r\n";
    }
    CloseChannel(channel);
    EXPECT_EQ(channel.state, TextChannel::State::kClosed);
  }
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(IoErrorCode, 0);
  const std::string command = "rm -rf '" + std::string(directory) + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

// A character device is flushed at each line end: the device-full error
// shows at once.
TEST_F(SystemChannelTest, FullDeviceFailsAtTheLineEnd) {
  TextChannel channel;
  BindName(channel, "/dev/full");
  OpenForWriting(channel);
  ASSERT_EQ(channel.state, TextChannel::State::kOutput);
  EXPECT_TRUE(channel.line_flush);
  WriteText(channel, "abc");
  EXPECT_EQ(IoErrorCode, 0);
  EndLine(channel);
  EXPECT_EQ(IoErrorCode, kIoCodeDiskFull);
  IoErrorCode = 0;
  CloseChannel(channel);
  EXPECT_EQ(IoErrorCode, 0);
  EXPECT_EQ(channel.state, TextChannel::State::kClosed);
}

}  // namespace
}  // namespace diskmaps
