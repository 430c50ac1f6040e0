// The platform of the running process, on POSIX calls. This file and the
// process services beside it are the only places that talk to the system.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "runtime/platform/io_codes.h"
#include "runtime/platform/platform.h"

namespace diskmaps {
namespace {

constexpr long kSecondsPerDay = 86400;
constexpr long kNanosecondsPerMillisecond = 1000000;

bool ShouldRetry(int error_number) { return error_number == EINTR; }

bool WouldBlock(int error_number) {
  return error_number == EAGAIN || error_number == EWOULDBLOCK;
}

// Waits until a non-blocking descriptor is ready for `events`. Returns 0 or
// the I/O code of a failing poll.
std::int32_t WaitUntilReady(int handle, short events) {
  pollfd request = {handle, events, 0};
  while (::poll(&request, 1, -1) < 0) {
    if (!ShouldRetry(errno)) return IoCodeFromErrno(errno);
  }
  return 0;
}

// A file opened while a standard stream is closed would take that stream's
// descriptor, and text meant for the stream would land in the file. Such a
// descriptor is moved above the standard ones.
std::int32_t KeepAboveStandardStreams(int descriptor, int& handle) {
  constexpr int kFirstFreeDescriptor = 3;
  if (descriptor >= kFirstFreeDescriptor) {
    handle = descriptor;
    return 0;
  }
  const int moved = ::fcntl(descriptor, F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
  const int error_number = errno;
  ::close(descriptor);
  if (moved < 0) return IoCodeFromErrno(error_number);
  handle = moved;
  return 0;
}

class PosixPlatform final : public Platform {
 public:
  std::int32_t StandardHandle(int stream, int& handle) override {
    if (stream != kStandardInput && stream != kStandardOutput) {
      return kIoCodeInvalidParameter;
    }
    if (::fcntl(stream, F_GETFD) < 0) return IoCodeFromErrno(errno);
    handle = stream;
    return 0;
  }

  std::int32_t CreateFile(const char* name, int& handle) override {
    for (;;) {
      const int descriptor =
          ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (descriptor >= 0) return KeepAboveStandardStreams(descriptor, handle);
      if (!ShouldRetry(errno)) return IoCodeFromErrno(errno);
    }
  }

  DeviceKind ProbeDevice(int handle) override {
    struct stat status;
    if (::fstat(handle, &status) != 0) return DeviceKind::kUnknown;
    if (S_ISCHR(status.st_mode)) return DeviceKind::kCharacter;
    // Regular files, block devices, directories, FIFOs and sockets.
    return DeviceKind::kStream;
  }

  std::int32_t Read(int handle, std::uint8_t* buffer, std::size_t capacity,
                    std::size_t& delivered) override {
    delivered = 0;
    for (;;) {
      const ssize_t count = ::read(handle, buffer, capacity);
      if (count >= 0) {
        delivered = static_cast<std::size_t>(count);
        return 0;
      }
      if (ShouldRetry(errno)) continue;
      if (!WouldBlock(errno)) return IoCodeFromErrno(errno);
      if (const std::int32_t code = WaitUntilReady(handle, POLLIN)) {
        return code;
      }
    }
  }

  std::int32_t Write(int handle, const std::uint8_t* bytes,
                     std::size_t count) override {
    while (count > 0) {
      const ssize_t written = ::write(handle, bytes, count);
      if (written > 0) {
        // A short write goes on with the bytes not yet taken.
        bytes += written;
        count -= static_cast<std::size_t>(written);
        continue;
      }
      // A write of a nonzero count that takes nothing and reports no error
      // would loop forever; it counts as a failure.
      if (written == 0) return kIoCodeGeneralFailure;
      if (ShouldRetry(errno)) continue;
      if (!WouldBlock(errno)) return IoCodeFromErrno(errno);
      if (const std::int32_t code = WaitUntilReady(handle, POLLOUT)) {
        return code;
      }
    }
    return 0;
  }

  std::int32_t Close(int handle) override {
    // Linux releases the descriptor even when close is interrupted, so an
    // interrupted close is a completed one; closing again could hit a
    // descriptor that has been reused meanwhile.
    if (::close(handle) != 0 && errno != EINTR) return IoCodeFromErrno(errno);
    return 0;
  }

  TimeOfDay UtcTimeOfDay() override {
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    long seconds = static_cast<long>(now.tv_sec % kSecondsPerDay);
    if (seconds < 0) seconds += kSecondsPerDay;
    TimeOfDay time;
    time.hour = static_cast<int>(seconds / 3600);
    time.minute = static_cast<int>(seconds / 60 % 60);
    time.second = static_cast<int>(seconds % 60);
    time.millisecond =
        static_cast<int>(now.tv_nsec / kNanosecondsPerMillisecond);
    return time;
  }
};

}  // namespace

Platform& SystemPlatform() {
  // Never destroyed: channels may still write while the process ends.
  static PosixPlatform* const platform = new PosixPlatform();
  return *platform;
}

void IgnoreBrokenPipeSignal() {
  struct sigaction action = {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGPIPE, &action, nullptr);
  // A write beyond the file-size limit (RLIMIT_FSIZE) likewise fails with
  // EFBIG instead of killing the process without a report.
  ::sigaction(SIGXFSZ, &action, nullptr);
}

}  // namespace diskmaps
