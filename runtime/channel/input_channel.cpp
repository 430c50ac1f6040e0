// The input side of the text channels: the console's buffer, its refill with
// the line-end translation, and the reading of tokens and lines.

#include <cstring>

#include "runtime/channel/console_line_ends.h"
#include "runtime/channel/text_channel.h"
#include "runtime/number/decimal.h"
#include "runtime/platform/io_codes.h"

namespace diskmaps {
namespace {

constexpr std::uint8_t kCarriageReturn = 13;
constexpr std::uint8_t kLineFeed = 10;
constexpr std::uint8_t kLastBlank = 32;
constexpr std::size_t kIntegerTokenLength = 32;
constexpr std::size_t kRealTokenLength = 64;
constexpr std::size_t kLinePieceLength = 255;

// Delivers the byte just read again on the next ReadByte.
void StepBack(TextChannel& channel) { --channel.read_position; }

// Collects a token of at most `limit` bytes into `token` (limit + 1 bytes),
// NUL-terminated. The first byte is known to be a token byte. A blank ends
// the token and stays in the input; the bytes of a longer token beyond the
// limit stay there too.
void CollectToken(TextChannel& channel, char* token, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit) {
    const std::uint8_t byte = ReadByte(channel);
    if (byte <= kLastBlank) {
      if (byte != kEndOfInput) StepBack(channel);
      break;
    }
    token[length++] = static_cast<char>(byte);
  }
  token[length] = '\0';
}

}  // namespace

void OpenForReading(TextChannel& channel) {
  channel.state = TextChannel::State::kClosed;
  if (channel.name_length != 0) {
    // Named input files are not part of this program.
    IoErrorCode = kCodeConsoleInputNotOpen;
    return;
  }
  int handle = -1;
  const std::int32_t code =
      channel.platform->StandardHandle(kStandardInput, handle);
  if (code != 0) {
    IoErrorCode = code;
    return;
  }
  channel.state = TextChannel::State::kInput;
  channel.handle = handle;
  channel.owns_handle = false;
  channel.read_position = 0;
  channel.fill_end = 0;
  channel.raw_start = TextChannel::kBufferSize;
  channel.line_ends = LineEndState();
}

std::int32_t RefillInput(TextChannel& channel) {
  channel.read_position = 0;
  channel.fill_end = 0;
  constexpr std::size_t kSize = TextChannel::kBufferSize;
  if (channel.raw_start == kSize && !channel.line_ends.lf_owed) {
    std::size_t delivered = 0;
    const std::int32_t code = channel.platform->Read(
        channel.handle, channel.buffer, kSize, delivered);
    // A closed pipe is the end of the input, not a failure.
    if (code == kIoCodeBrokenPipe) return 0;
    if (code != 0 || delivered == 0) return code;
    // The received bytes go to the end of the buffer, so that the
    // translation has room to expand them from the start.
    std::memmove(channel.buffer + kSize - delivered, channel.buffer, delivered);
    channel.raw_start = static_cast<std::uint16_t>(kSize - delivered);
  }
  std::size_t raw_start = channel.raw_start;
  channel.fill_end = static_cast<std::uint16_t>(
      TranslateLineEnds(channel.buffer, kSize, raw_start, channel.line_ends));
  channel.raw_start = static_cast<std::uint16_t>(raw_start);
  return 0;
}

std::uint8_t ReadByte(TextChannel& channel) {
  if (channel.state != TextChannel::State::kInput) {
    if (&channel == &ConsoleInput) OpenForReading(channel);
    if (channel.state != TextChannel::State::kInput) {
      IoErrorCode = kCodeConsoleInputNotOpen;
      return kEndOfInput;
    }
  }
  for (;;) {
    if (channel.read_position < channel.fill_end) {
      const std::uint8_t byte = channel.buffer[channel.read_position];
      if (byte != kEndOfInput) ++channel.read_position;
      return byte;
    }
    if (const std::int32_t code = RefillInput(channel)) {
      IoErrorCode = code;
      return kEndOfInput;
    }
    if (channel.fill_end == 0) {
      // End of input for good: the stored 26 is never consumed.
      channel.buffer[0] = kEndOfInput;
      channel.fill_end = 1;
      return kEndOfInput;
    }
  }
}

bool SkipBlanks(TextChannel& channel) {
  for (;;) {
    const std::uint8_t byte = ReadByte(channel);
    if (byte == kEndOfInput) return true;
    if (byte > kLastBlank) {
      StepBack(channel);
      return false;
    }
  }
}

std::int32_t ReadInteger(TextChannel& channel) {
  if (SkipBlanks(channel)) return 0;
  char token[kIntegerTokenLength + 1];
  CollectToken(channel, token, kIntegerTokenLength);
  bool ok = false;
  const std::int32_t value = ParseInteger(token, ok);
  if (!ok) {
    IoErrorCode = kCodeMalformedNumber;
    return 0;
  }
  return value;
}

Extended ReadReal(TextChannel& channel) {
  if (SkipBlanks(channel)) return Extended();
  char token[kRealTokenLength + 1];
  CollectToken(channel, token, kRealTokenLength);
  bool ok = false;
  const Extended value = ParseReal(token, ok);
  if (!ok) {
    IoErrorCode = kCodeMalformedNumber;
    return Extended();
  }
  return value;
}

void SkipLine(TextChannel& channel) {
  std::uint8_t byte;
  do {
    byte = ReadByte(channel);
    if (byte == kEndOfInput) return;
  } while (byte != kCarriageReturn);
  byte = ReadByte(channel);
  if (byte != kLineFeed && byte != kEndOfInput) StepBack(channel);
}

void ReadLineText(TextChannel& channel, std::string& destination) {
  destination.clear();
  char piece[kLinePieceLength];
  for (;;) {
    std::size_t length = 0;
    bool line_ended = false;
    while (length < kLinePieceLength) {
      const std::uint8_t byte = ReadByte(channel);
      if (byte == kCarriageReturn || byte == kEndOfInput) {
        if (byte == kCarriageReturn) StepBack(channel);
        line_ended = true;
        break;
      }
      piece[length++] = static_cast<char>(byte);
    }
    destination.append(piece, length);
    if (line_ended) return;
  }
}

}  // namespace diskmaps
