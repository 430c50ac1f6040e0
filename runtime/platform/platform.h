#pragma once

#include <cstddef>
#include <cstdint>

namespace diskmaps {

// What the device probe tells of an open handle.
enum class DeviceKind {
  kUnknown,    // the kind cannot be determined
  kCharacter,  // a terminal or other character device: line-flush mode
  kStream,     // a disk file, a pipe or anything else: no line flush
};

struct TimeOfDay {
  int hour = 0;         // 0 to 23, UTC
  int minute = 0;       // 0 to 59
  int second = 0;       // 0 to 59
  int millisecond = 0;  // 0 to 999
};

// Stream numbers of StandardHandle.
inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;

// The operating system as the run-time sees it. This is the only seam
// between the program and the system: the channels and the random source talk
// to it, and tests replace it with fakes (fake_platform.h). Every operation
// that can fail returns 0 on success or the I/O code of the failure (the
// program's own numbering of operating-system errors, see io_codes.h).
class Platform {
 public:
  virtual ~Platform() = default;

  // Standard input (kStandardInput) or output (kStandardOutput); fails when
  // the stream has no open handle.
  virtual std::int32_t StandardHandle(int stream, int& handle) = 0;
  // Creates or truncates a file for writing; `name` ends with a NUL byte.
  virtual std::int32_t CreateFile(const char* name, int& handle) = 0;
  virtual DeviceKind ProbeDevice(int handle) = 0;
  // One request of at most `capacity` bytes. `delivered` 0 is end of input
  // (a closed pipe reads as end of input too).
  virtual std::int32_t Read(int handle, std::uint8_t* buffer,
                            std::size_t capacity, std::size_t& delivered) = 0;
  // Writes all `count` bytes: one request, continued after a short write
  // until every byte is written or the system reports a failure.
  virtual std::int32_t Write(int handle, const std::uint8_t* bytes,
                             std::size_t count) = 0;
  virtual std::int32_t Close(int handle) = 0;
  virtual TimeOfDay UtcTimeOfDay() = 0;
};

// The platform of the running process.
Platform& SystemPlatform();

// Makes a write to a pipe without reader fail with the broken-pipe code,
// and a write beyond the process's file-size limit with the disk-full code,
// instead of ending the process. Called once when the run starts.
void IgnoreBrokenPipeSignal();

}  // namespace diskmaps
