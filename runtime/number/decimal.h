#pragma once

#include <cstdint>

#include "runtime/number/extended.h"

namespace diskmaps {

// x × 10^power: a product by the tables of powers of ten for power > 0, a
// quotient for power < 0, each step rounded to the extended format; +∞ from
// 5120 upward and +0 from −5120 downward. A product beyond the extended range
// raises EOverflow.
Extended ScaleByPowerOfTen(Extended x, std::int32_t power);

// Conversions of a NUL-terminated token. On failure `ok` is false and the
// value is 0 (+0).
std::int32_t ParseInteger(const char* text, bool& ok);
Extended ParseReal(const char* text, bool& ok);

// The 23-character text of a real, written into `out`; returns the end.
inline constexpr int kRealTextLength = 23;
char* FormatRealDefault(Extended value, char* out);

}  // namespace diskmaps
