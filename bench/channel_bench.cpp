// The text channels against glibc's stdio on the same work. Writing: the
// lines of a parameter file (three header lines, 45 lines of 23 characters)
// to /dev/null, the channel with its 128-byte buffer against a FILE with a
// 128-byte buffer of its own, so both make one write request per 128 bytes.
// Reading: integer answers, one per line ending in LF, from memory, the
// channel (with its line-end translation) against strtol over the same text.

#include <benchmark/benchmark.h>
#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/channel/text_channel.h"

namespace diskmaps {
namespace {

constexpr const char* kRealText = "5.12345678901234567E-0001";  // 23 + 2
constexpr int kRecordLines = 45;

void WriteParameterFile(TextChannel& channel) {
  WriteInteger(channel, 2);
  EndLine(channel);
  WriteInteger(channel, 8);
  EndLine(channel);
  WriteInteger(channel, 15);
  EndLine(channel);
  for (int line = 0; line < kRecordLines; ++line) {
    WriteText(channel, std::string_view(kRealText, 23));
    EndLine(channel);
  }
}

void BM_ChannelWritesParameterFile(benchmark::State& state) {
  for (auto _ : state) {
    TextChannel channel;
    BindName(channel, "/dev/null");
    OpenForWriting(channel);
    channel.line_flush = false;  // /dev/null is a character device
    WriteParameterFile(channel);
    CloseChannel(channel);
  }
  state.SetBytesProcessed(state.iterations() * (9 + kRecordLines * 25));
}
BENCHMARK(BM_ChannelWritesParameterFile);

void BM_StdioWritesParameterFile(benchmark::State& state) {
  char buffer[128];
  for (auto _ : state) {
    std::FILE* file = std::fopen("/dev/null", "wb");
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    std::fprintf(file, "%d\r\n%d\r\n%d\r\n", 2, 8, 15);
    for (int line = 0; line < kRecordLines; ++line) {
      std::fwrite(kRealText, 1, 23, file);
      std::fwrite("\r\n", 1, 2, file);
    }
    std::fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * (9 + kRecordLines * 25));
}
BENCHMARK(BM_StdioWritesParameterFile);

// Serves the same text again and again in requests of the asked size.
class RepeatingInput final : public Platform {
 public:
  explicit RepeatingInput(std::string text) : text_(std::move(text)) {}
  std::int32_t StandardHandle(int, int& handle) override {
    handle = 0;
    return 0;
  }
  std::int32_t CreateFile(const char*, int&) override { return 5; }
  DeviceKind ProbeDevice(int) override { return DeviceKind::kStream; }
  std::int32_t Read(int, std::uint8_t* buffer, std::size_t capacity,
                    std::size_t& delivered) override {
    delivered = std::min(capacity, text_.size() - position_);
    std::memcpy(buffer, text_.data() + position_, delivered);
    position_ = (position_ + delivered) % text_.size();
    return 0;
  }
  std::int32_t Write(int, const std::uint8_t*, std::size_t) override {
    return 0;
  }
  std::int32_t Close(int) override { return 0; }
  TimeOfDay UtcTimeOfDay() override { return {}; }

 private:
  std::string text_;
  std::size_t position_ = 0;
};

std::string Answers() {
  std::string text;
  for (int i = 0; i < 1000; ++i)
    text += std::to_string(i * 7919 % 65536) + "\n";
  return text;
}

void BM_ChannelReadsIntegerAnswers(benchmark::State& state) {
  RepeatingInput input(Answers());
  TextChannel channel;
  channel.platform = &input;
  BindName(channel, "");
  OpenForReading(channel);
  std::int64_t sum = 0;
  for (auto _ : state) {
    sum += ReadInteger(channel);
    SkipLine(channel);
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_ChannelReadsIntegerAnswers);

void BM_StrtolReadsIntegerAnswers(benchmark::State& state) {
  const std::string text = Answers();
  const char* position = text.c_str();
  std::int64_t sum = 0;
  for (auto _ : state) {
    char* end;
    sum += std::strtol(position, &end, 10);
    position = end + 1;  // the LF
    if (*position == '\0') position = text.c_str();
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_StrtolReadsIntegerAnswers);

}  // namespace
}  // namespace diskmaps
