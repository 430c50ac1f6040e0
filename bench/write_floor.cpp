// The write floor of the largest run: creates (or empties) a file and writes
// a given number of bytes to it in requests of 128 bytes, the last one
// shorter, and does nothing else. bench/whole_run.sh times diskmaps against
// it, so the gap between the two is what the program does beyond its writes.
//
// Usage: diskmaps_write_floor <file> <byte count>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kRequestSize = 128;

bool WriteAll(int descriptor, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(descriptor, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <file> <byte count>\n", argv[0]);
    return 2;
  }
  char* end = nullptr;
  const unsigned long long total = std::strtoull(argv[2], &end, 10);
  if (*argv[2] == '\0' || *end != '\0') {
    std::fprintf(stderr, "bad byte count: %s\n", argv[2]);
    return 2;
  }
  const int descriptor =
      ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    std::perror(argv[1]);
    return 1;
  }
  // A line of the parameter file's width, repeated: the bytes themselves do
  // not matter to the cost.
  char block[kRequestSize];
  for (std::size_t i = 0; i < kRequestSize; ++i) {
    block[i] = i % 25 == 23 ? '\r' : i % 25 == 24 ? '\n' : '5';
  }
  unsigned long long remaining = total;
  while (remaining > 0) {
    const std::size_t count = remaining < kRequestSize
                                  ? static_cast<std::size_t>(remaining)
                                  : kRequestSize;
    if (!WriteAll(descriptor, block, count)) {
      std::perror(argv[1]);
      return 1;
    }
    remaining -= count;
  }
  if (::close(descriptor) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
