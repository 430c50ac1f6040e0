#include "runtime/channel/console_line_ends.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace diskmaps {
namespace {

constexpr std::size_t kSize = 128;

struct Outcome {
  std::string translated;
  std::size_t raw_start;
  LineEndState state;
};

// Places `raw` at the end of a 128-byte buffer and translates it once.
Outcome TranslateOnce(const std::string& raw, LineEndState state) {
  std::uint8_t buffer[kSize] = {};
  std::size_t raw_start = kSize - raw.size();
  std::memcpy(buffer + raw_start, raw.data(), raw.size());
  const std::size_t count = TranslateLineEnds(buffer, kSize, raw_start, state);
  return {std::string(reinterpret_cast<char*>(buffer), count), raw_start,
          state};
}

TEST(ConsoleLineEndsTest, ExpandsLoneLineFeedsWhereThereIsRoom) {
  const struct {
    std::string raw;
    bool last_was_cr;
    std::string translated;
    bool last_was_cr_after;
  } cases[] = {
      {"2\n8\n", false, "2\r\n8\r\n", false},
      {"2\r\n8\r\n", false, "2\r\n8\r\n", false},
      {"\n\n", false, "\r\n\r\n", false},
      {"\n", true, "\n", false},  // the CR came with the previous refill
      {"a\r", false, "a\r", true},
      {"\r\r\n\n", false, "\r\r\n\r\n", false},
  };
  for (const auto& test : cases) {
    const Outcome outcome =
        TranslateOnce(test.raw, LineEndState{test.last_was_cr, false});
    EXPECT_EQ(outcome.translated, test.translated) << test.raw;
    EXPECT_EQ(outcome.raw_start, kSize);
    EXPECT_EQ(outcome.state.last_was_cr, test.last_was_cr_after);
    EXPECT_FALSE(outcome.state.lf_owed);
  }
}

// A full buffer leaves no room for the extra byte: the CR goes out, the LF is
// owed, and the untranslated rest waits for the next refill.
TEST(ConsoleLineEndsTest, FullBufferOwesTheLineFeedToTheNextRefill) {
  const std::string raw = "ab\n" + std::string(125, 'c');
  std::uint8_t buffer[kSize];
  std::memcpy(buffer, raw.data(), kSize);
  std::size_t raw_start = 0;
  LineEndState state;
  std::size_t count = TranslateLineEnds(buffer, kSize, raw_start, state);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "ab\r");
  EXPECT_EQ(raw_start, 3u);
  EXPECT_TRUE(state.lf_owed);

  count = TranslateLineEnds(buffer, kSize, raw_start, state);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count),
            "\n" + std::string(125, 'c'));
  EXPECT_EQ(raw_start, kSize);
  EXPECT_FALSE(state.lf_owed);
  EXPECT_FALSE(state.last_was_cr);
}

}  // namespace
}  // namespace diskmaps
