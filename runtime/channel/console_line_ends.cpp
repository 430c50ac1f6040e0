#include "runtime/channel/console_line_ends.h"

namespace diskmaps {
namespace {

constexpr std::uint8_t kCarriageReturn = 13;
constexpr std::uint8_t kLineFeed = 10;

}  // namespace

std::size_t TranslateLineEnds(std::uint8_t* buffer, std::size_t size,
                              std::size_t& raw_start, LineEndState& state) {
  std::size_t out = 0;
  std::size_t in = raw_start;
  if (state.lf_owed) {
    buffer[out++] = kLineFeed;
    state.lf_owed = false;
    state.last_was_cr = false;
  }
  // Invariant: out <= in, so a copied byte never overwrites one not taken.
  while (in < size) {
    const std::uint8_t byte = buffer[in++];
    if (byte != kLineFeed || state.last_was_cr) {
      buffer[out++] = byte;
      state.last_was_cr = byte == kCarriageReturn;
      continue;
    }
    buffer[out++] = kCarriageReturn;
    if (out == in) {  // no room for the LF before the next byte not taken
      state.lf_owed = true;
      state.last_was_cr = true;
      break;
    }
    buffer[out++] = kLineFeed;
    state.last_was_cr = false;
  }
  raw_start = in;
  return out;
}

}  // namespace diskmaps
