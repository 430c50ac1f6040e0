// ParseInteger on any text, against a second reading of the same rules
// written for clarity: the magnitude is gathered exactly (saturating far
// beyond the 32-bit range) and judged once at the end.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "runtime/number/decimal.h"

namespace {

constexpr std::uint64_t kSaturation = std::uint64_t{1} << 40;

std::optional<std::uint64_t> Digits(const char* p, unsigned base) {
  if (*p == '\0') return std::nullopt;
  std::uint64_t value = 0;
  for (; *p != '\0'; ++p) {
    unsigned digit = 0;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<unsigned>(*p - '0');
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      digit = static_cast<unsigned>(*p - 'a' + 10);
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      digit = static_cast<unsigned>(*p - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > kSaturation) value = kSaturation;
  }
  return value;
}

std::optional<std::int32_t> Decimal(const char* p, bool negative) {
  const std::optional<std::uint64_t> magnitude = Digits(p, 10);
  if (!magnitude) return std::nullopt;
  if (*magnitude > (negative ? 2147483648u : 2147483647u)) return std::nullopt;
  const auto value = static_cast<std::int64_t>(*magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::optional<std::int32_t> Hexadecimal(const char* p) {
  const std::optional<std::uint64_t> pattern = Digits(p, 16);
  if (!pattern || *pattern > 0xFFFFFFFFu) return std::nullopt;
  // Two's complement of the 32-bit pattern.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*pattern));
}

std::optional<std::int32_t> Reference(const char* p) {
  while (*p == ' ') ++p;
  switch (*p) {
    case '-':
      return Decimal(p + 1, true);
    case '+':
      return Decimal(p + 1, false);
    case '$':
    case 'x':
    case 'X':
      return Hexadecimal(p + 1);
    case '0':
      if (p[1] == 'x' || p[1] == 'X') return Hexadecimal(p + 2);
      return Decimal(p, false);
    default:
      return Decimal(p, false);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The text ends at its first NUL, as a token buffer does.
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool ok = true;
  const std::int32_t value = diskmaps::ParseInteger(text.c_str(), ok);
  const std::optional<std::int32_t> expected = Reference(text.c_str());
  const bool agrees = expected ? ok && value == *expected : !ok && value == 0;
  if (!agrees) {
    std::fprintf(stderr,
                 "ParseInteger(\"%s\"): ok %d value %d, expected %s %d\n",
                 text.c_str(), ok, value, expected ? "ok" : "failure",
                 expected.value_or(0));
    std::abort();
  }
  return 0;
}
