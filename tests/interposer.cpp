// A library that the end-to-end tests preload into the program:
// - with DISKMAPS_TEST_UTC_MILLISECOND set, the real-time clock shows that
//   UTC time of day (milliseconds since midnight) on some day;
// - with DISKMAPS_TEST_WRITE_LOG set, every write request to a descriptor
//   other than 0, 1 and 2 is logged there as one line "<byte count>".
// Everything else goes to the system unchanged.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

namespace {

using ClockGetTime = int (*)(clockid_t, timespec*);
using Write = ssize_t (*)(int, const void*, size_t);

constexpr long kSomeDay = 20000;  // days since 1970-01-01
constexpr long kSecondsPerDay = 86400;

Write RealWrite() {
  static const auto real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
  return real;
}

void LogWrite(size_t count) {
  static int log = -2;
  if (log == -2) {
    const char* path = getenv("DISKMAPS_TEST_WRITE_LOG");
    log = path == nullptr
              ? -1
              : open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (log < 0) return;
  char line[32];
  const int length = snprintf(line, sizeof line, "%zu\n", count);
  RealWrite()(log, line, static_cast<size_t>(length));
}

}  // namespace

extern "C" int clock_gettime(clockid_t clock, timespec* time) {
  const char* fixed = getenv("DISKMAPS_TEST_UTC_MILLISECOND");
  if (clock == CLOCK_REALTIME && fixed != nullptr) {
    const long millisecond = strtol(fixed, nullptr, 10);
    time->tv_sec = kSomeDay * kSecondsPerDay + millisecond / 1000;
    time->tv_nsec = (millisecond % 1000) * 1000000 + 123456;
    return 0;
  }
  static const auto real =
      reinterpret_cast<ClockGetTime>(dlsym(RTLD_NEXT, "clock_gettime"));
  return real(clock, time);
}

extern "C" ssize_t write(int descriptor, const void* bytes, size_t count) {
  if (descriptor > 2) LogWrite(count);
  return RealWrite()(descriptor, bytes, count);
}
