#pragma once

// The text form of a real computed a second way, for tests: the same steps in
// the processor's long double arithmetic (x86-64), with tables of powers of
// ten read by the C library (correctly rounded), so that it shares nothing
// with the code under test but the algorithm.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/number/decimal_test_oracle.h"
#include "runtime/number/extended.h"

namespace diskmaps::testing {

inline int BiasedExponentOf(long double value) {
  return FromLongDouble(value).BiasedExponent();
}

class LongDoubleFormatter {
 public:
  LongDoubleFormatter() {
    for (int i = 0; i < 32; ++i) small_[i] = PowerOfTen(i);
    for (int k = 0; k < 16; ++k) medium_[k] = PowerOfTen(32 * k);
    for (int k = 0; k < 10; ++k) large_[k] = PowerOfTen(512 * k);
  }

  std::string Format(Extended value) const {
    const bool sign = value.Sign();
    const int field = value.BiasedExponent();
    const std::uint64_t significand = value.Significand();
    if (field == 0x7FFF) {
      const std::string text =
          (significand >> 32) == 0x80000000u ? (sign ? "-Inf" : "+Inf") : "Nan";
      return std::string(23 - text.size(), ' ') + text;
    }
    // The value the bits stand for, whatever the integer bit says.
    long double a = std::ldexp(static_cast<long double>(significand),
                               (field == 0 ? 1 : field) - 16383 - 63);
    int k = 0;
    while (a != 0) {
      const int e = BiasedExponentOf(a) - 16383;
      const int t = static_cast<int>(
          std::floor(static_cast<double>(e) * 19728.0 / 65536.0));
      if (t == 0) break;
      k += t;
      a = Scale(a, -t);
    }
    const long double product = a * 1e17L;
    long long p = std::llrint(product);
    char s[20] = {};
    for (int i = 18; i >= 0; --i) {
      s[i] = static_cast<char>('0' + p % 10);
      p /= 10;
    }
    constexpr int n = 15;
    if (s[n + 1] >= '5') {
      int i = n;
      while (s[i] == '9') {
        s[i] = '0';
        --i;
      }
      ++s[i];
    }
    std::string digits =
        s[0] == '1' ? std::string(s, n) : std::string(s + 1, n);
    if (s[0] == '1') ++k;
    char exponent[16];
    std::snprintf(exponent, sizeof exponent, "%c%04d", k < 0 ? '-' : '+',
                  std::abs(k));
    return std::string(sign ? "-" : " ") + digits[0] + "." + digits.substr(1) +
           "E" + exponent;
  }

 private:
  static long double PowerOfTen(int power) {
    char text[16];
    std::snprintf(text, sizeof text, "1e%d", power);
    return std::strtold(text, nullptr);
  }

  long double Scale(long double x, int n) const {
    if (n > 0) {
      x *= small_[n % 32];
      if ((n / 32) % 16 != 0) x *= medium_[(n / 32) % 16];
      if (n / 512 != 0) x *= large_[n / 512];
    } else {
      const int m = -n;
      x /= small_[m % 32];
      if ((m / 32) % 16 != 0) x /= medium_[(m / 32) % 16];
      if (m / 512 != 0) x /= large_[m / 512];
    }
    return x;
  }

  long double small_[32];
  long double medium_[16];
  long double large_[10];
};

}  // namespace diskmaps::testing
