#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/channel/console_line_ends.h"
#include "runtime/number/extended.h"
#include "runtime/platform/platform.h"

namespace diskmaps {

// A buffered byte stream with one fixed 128-byte buffer: closed, open for
// reading or open for output. The empty name stands for the process's
// standard stream.
struct TextChannel {
  static constexpr std::size_t kBufferSize = 128;
  static constexpr std::size_t kMaxNameLength = 259;

  enum class State : std::uint8_t { kClosed, kInput, kOutput };

  Platform* platform = &SystemPlatform();
  State state = State::kClosed;
  char name[kMaxNameLength + 1] = {};  // NUL-terminated
  std::uint16_t name_length = 0;
  int handle = -1;
  bool owns_handle = false;
  bool line_flush = false;
  // Output: bytes pending in `buffer`. Input: read position and fill end.
  std::uint16_t pending = 0;
  std::uint16_t read_position = 0;
  std::uint16_t fill_end = 0;
  // Input line-end translation: bytes received but not yet translated sit
  // in buffer[raw_start, kBufferSize).
  LineEndState line_ends;
  std::uint16_t raw_start = kBufferSize;
  std::uint8_t buffer[kBufferSize] = {};
};

// The pending I/O result code of the run; 0 for none.
extern std::int32_t IoErrorCode;

extern TextChannel ConsoleInput;
extern TextChannel ConsoleOutput;

// The end-of-input byte.
inline constexpr std::uint8_t kEndOfInput = 26;

// Channel-specific I/O codes.
inline constexpr std::int32_t kCodeNotOpen = 103;
inline constexpr std::int32_t kCodeConsoleInputNotOpen = 104;
inline constexpr std::int32_t kCodeNotOpenForOutput = 105;
inline constexpr std::int32_t kCodeMalformedNumber = 106;

// Both sides. BindName keeps the channel's platform.
void BindName(TextChannel& channel, std::string_view name);
void CloseChannel(TextChannel& channel);

// Output side.
void OpenForWriting(TextChannel& channel);
void WriteText(TextChannel& channel, std::string_view text);
void WriteCharacter(TextChannel& channel, char byte);
void WriteInteger(TextChannel& channel, std::int32_t value);
void EndLine(TextChannel& channel);

// Input side. Only the standard input can be opened for reading.
void OpenForReading(TextChannel& channel);
std::int32_t RefillInput(TextChannel& channel);
std::uint8_t ReadByte(TextChannel& channel);
bool SkipBlanks(TextChannel& channel);
// With code 106 (malformed number) these return 0 and +0.
std::int32_t ReadInteger(TextChannel& channel);
Extended ReadReal(TextChannel& channel);
void ReadLineText(TextChannel& channel, std::string& destination);
void SkipLine(TextChannel& channel);

}  // namespace diskmaps
