// A preloaded library for the end-to-end tests: the real-time clock shows the
// UTC time of day given in DISKMAPS_TEST_UTC_MILLISECOND (milliseconds since
// midnight) on some day. Every other clock is the system's.
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

namespace {

using ClockGetTime = int (*)(clockid_t, timespec*);

constexpr long kSomeDay = 20000;  // days since 1970-01-01
constexpr long kSecondsPerDay = 86400;

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
