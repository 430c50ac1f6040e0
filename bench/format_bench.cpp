// The 23-character text of a real against the C library's "%.14Le" (the same
// 15 significant digits) on the same values, spread over the whole double
// range.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/number/decimal.h"
#include "runtime/number/extended.h"

namespace diskmaps {
namespace {

constexpr std::size_t kValueCount = 4096;

// Finite doubles with a uniformly drawn exponent field, so that every decade
// from the subnormals to the largest double is represented alike.
std::vector<double> SpreadDoubles() {
  std::mt19937_64 engine(20260101);
  std::vector<double> values(kValueCount);
  for (double& value : values) {
    const std::uint64_t mantissa = engine() & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t exponent = engine() % 2047;  // no infinities or NaNs
    const std::uint64_t sign = engine() & (std::uint64_t{1} << 63);
    const std::uint64_t bits = sign | exponent << 52 | mantissa;
    std::memcpy(&value, &bits, sizeof value);
  }
  return values;
}

// Doubles in the range that the parameter file holds: the unit disk and
// radii of a few units.
std::vector<double> UnitRangeDoubles() {
  std::mt19937_64 engine(20260102);
  std::uniform_real_distribution<double> distribution(-1.0, 1.0);
  std::vector<double> values(kValueCount);
  for (double& value : values) value = distribution(engine);
  return values;
}

std::vector<Extended> Widened(const std::vector<double>& values) {
  std::vector<Extended> widened;
  widened.reserve(values.size());
  for (double value : values) {
    const long double wide = value;
    std::uint64_t significand = 0;
    std::uint16_t sign_and_exponent = 0;
    std::memcpy(&significand, &wide, 8);
    std::memcpy(&sign_and_exponent, reinterpret_cast<const char*>(&wide) + 8,
                2);
    widened.push_back(Extended::FromBits(sign_and_exponent, significand));
  }
  return widened;
}

void RunFormatRealDefault(benchmark::State& state,
                          const std::vector<double>& values) {
  const std::vector<Extended> widened = Widened(values);
  char text[kRealTextLength];
  std::size_t index = 0;
  for (auto _ : state) {
    FormatRealDefault(widened[index], text);
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
    if (++index == widened.size()) index = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void RunSnprintf(benchmark::State& state, const std::vector<double>& values) {
  std::vector<long double> widened(values.begin(), values.end());
  char text[40];
  std::size_t index = 0;
  for (auto _ : state) {
    std::snprintf(text, sizeof text, "%.14Le", widened[index]);
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
    if (++index == widened.size()) index = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FormatRealDefault_WholeDoubleRange(benchmark::State& state) {
  RunFormatRealDefault(state, SpreadDoubles());
}
void BM_GlibcSnprintf_WholeDoubleRange(benchmark::State& state) {
  RunSnprintf(state, SpreadDoubles());
}
void BM_FormatRealDefault_UnitRange(benchmark::State& state) {
  RunFormatRealDefault(state, UnitRangeDoubles());
}
void BM_GlibcSnprintf_UnitRange(benchmark::State& state) {
  RunSnprintf(state, UnitRangeDoubles());
}

BENCHMARK(BM_FormatRealDefault_WholeDoubleRange);
BENCHMARK(BM_GlibcSnprintf_WholeDoubleRange);
BENCHMARK(BM_FormatRealDefault_UnitRange);
BENCHMARK(BM_GlibcSnprintf_UnitRange);

}  // namespace
}  // namespace diskmaps
