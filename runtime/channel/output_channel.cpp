// The output side of the text channels: opening, the 128-byte buffer and its
// write-outs, line ends, and closing (of both sides).

#include <cstring>

#include "runtime/channel/text_channel.h"

namespace diskmaps {
namespace {

constexpr std::size_t kSize = TextChannel::kBufferSize;
constexpr std::uint8_t kLineEnd[] = {13, 10};
constexpr std::size_t kMaxIntegerLength = 11;  // "-2147483648"

bool IsOpenForOutput(const TextChannel& channel) {
  return channel.state == TextChannel::State::kOutput;
}

// Hands the pending bytes to the system in one request. They are gone from
// the buffer whatever the outcome; returns false on failure.
bool WriteOut(TextChannel& channel) {
  if (channel.pending == 0) return true;
  const std::size_t count = channel.pending;
  channel.pending = 0;
  if (const std::int32_t code =
          channel.platform->Write(channel.handle, channel.buffer, count)) {
    IoErrorCode = code;
    return false;
  }
  return true;
}

// The check before every write: ConsoleOutput opens at its first use; any
// channel still not open for output takes code 105.
bool ReadyForOutput(TextChannel& channel) {
  if (IsOpenForOutput(channel)) return true;
  if (&channel == &ConsoleOutput &&
      channel.state == TextChannel::State::kClosed) {
    OpenForWriting(channel);
  }
  if (IsOpenForOutput(channel)) return true;
  IoErrorCode = kCodeNotOpenForOutput;
  return false;
}

// Copies n bytes. Runs of up to 32 bytes, which are nearly all of them
// (the reals and line ends of the parameter file, the dialogue's words), take
// two overlapping moves of a fixed size instead of a library call.
inline void CopyBytes(std::uint8_t* to, const std::uint8_t* from,
                      std::size_t n) {
  if (n > 32) {
    std::memcpy(to, from, n);
  } else if (n >= 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n >= 2) {
    std::memcpy(to, from, 2);
    std::memcpy(to + n - 2, from + n - 2, 2);
  } else if (n == 1) {
    *to = *from;
  }
}

// Appends bytes that fill the buffer at least to its end. Each time the
// buffer fills it is handed over at once, so the system receives blocks of
// exactly 128 bytes; after a failed write-out the rest is dropped.
void AppendFilling(TextChannel& channel, const std::uint8_t* bytes,
                   std::size_t n) {
  std::size_t free = kSize - channel.pending;
  while (n >= free) {
    std::memcpy(channel.buffer + channel.pending, bytes, free);
    channel.pending = kSize;
    bytes += free;
    n -= free;
    if (!WriteOut(channel)) return;
    free = kSize;
  }
  CopyBytes(channel.buffer + channel.pending, bytes, n);
  channel.pending = static_cast<std::uint16_t>(channel.pending + n);
}

// Appends to a channel open for output. Inlined, so that each caller's copy
// sees its own sizes (a line end is always two bytes).
[[gnu::always_inline]] inline void Append(TextChannel& channel,
                                          const std::uint8_t* bytes,
                                          std::size_t n) {
  if (n < kSize - channel.pending) {  // fits and leaves room: the usual case
    CopyBytes(channel.buffer + channel.pending, bytes, n);
    channel.pending = static_cast<std::uint16_t>(channel.pending + n);
    return;
  }
  AppendFilling(channel, bytes, n);
}

}  // namespace

void OpenForWriting(TextChannel& channel) {
  if (channel.state != TextChannel::State::kClosed) {
    // Reopening an open channel writes it out and closes it first; the
    // standard output stays open and is kept as it is.
    CloseChannel(channel);
    if (channel.state != TextChannel::State::kClosed) return;
  }
  const bool named = channel.name_length != 0;
  int handle = -1;
  const std::int32_t code =
      named ? channel.platform->CreateFile(channel.name, handle)
            : channel.platform->StandardHandle(kStandardOutput, handle);
  if (code != 0) {
    IoErrorCode = code;
    return;
  }
  const DeviceKind kind = channel.platform->ProbeDevice(handle);
  if (kind == DeviceKind::kUnknown) {
    // Only a handle of our own is released: closing the standard output
    // would let a file created later take its descriptor, and console text
    // would land in that file.
    if (named) channel.platform->Close(handle);
    IoErrorCode = kCodeNotOpenForOutput;
    return;
  }
  channel.state = TextChannel::State::kOutput;
  channel.handle = handle;
  channel.owns_handle = named;
  channel.line_flush = kind == DeviceKind::kCharacter;
  channel.pending = 0;
}

void WriteText(TextChannel& channel, std::string_view text) {
  if (!ReadyForOutput(channel)) return;
  Append(channel, reinterpret_cast<const std::uint8_t*>(text.data()),
         text.size());
}

void WriteCharacter(TextChannel& channel, char byte) {
  if (!ReadyForOutput(channel)) return;
  if (channel.pending == kSize && !WriteOut(channel)) return;
  channel.buffer[channel.pending++] = static_cast<std::uint8_t>(byte);
}

void WriteInteger(TextChannel& channel, std::int32_t value) {
  if (!ReadyForOutput(channel)) return;
  std::uint8_t digits[kMaxIntegerLength];
  std::size_t start = kMaxIntegerLength;
  // The magnitude as unsigned, so that the most negative value has one.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                      : static_cast<std::uint32_t>(value);
  do {
    digits[--start] = static_cast<std::uint8_t>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--start] = '-';
  Append(channel, digits + start, kMaxIntegerLength - start);
}

void EndLine(TextChannel& channel) {
  if (ReadyForOutput(channel)) Append(channel, kLineEnd, sizeof kLineEnd);
  if (IsOpenForOutput(channel)) {
    if (channel.line_flush) WriteOut(channel);
  } else if (channel.state == TextChannel::State::kClosed) {
    IoErrorCode = kCodeNotOpen;
  }
}

void CloseChannel(TextChannel& channel) {
  switch (channel.state) {
    case TextChannel::State::kClosed:
      if (&channel != &ConsoleInput) IoErrorCode = kCodeNotOpen;
      return;
    case TextChannel::State::kInput:
      // The standard input is not ours: nothing is released.
      channel.state = TextChannel::State::kClosed;
      if (channel.owns_handle) {
        if (const std::int32_t code = channel.platform->Close(channel.handle)) {
          IoErrorCode = code;
        }
      }
      return;
    case TextChannel::State::kOutput:
      if (!WriteOut(channel)) return;    // stays open, code kept
      if (!channel.owns_handle) return;  // the standard output stays open
      channel.state = TextChannel::State::kClosed;
      if (const std::int32_t code = channel.platform->Close(channel.handle)) {
        IoErrorCode = code;
      }
      return;
  }
}

}  // namespace diskmaps
