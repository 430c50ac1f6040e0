// Reading reals: ParseReal against glibc's strtold on the same tokens.

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "runtime/number/decimal.h"

namespace diskmaps {
namespace {

// Typical answers (short), long mantissas, and exponents that take all three
// table factors.
constexpr const char* kShortTokens[] = {"0.1", "0.9",  "15", "0.25",
                                        ".5",  "1e-3", "2",  "0.75"};
constexpr const char* kMixedTokens[] = {
    "0.1",
    "123.456",
    "3.14159265358979",
    "-2.5E-10",
    "6.02214076e23",
    "1e-300",
    "1.18973149535723e4932",
    "9.87654321012345678e-4000",
    "12345678901234567890123",
    "0.000000000000000000000000000001",
};

template <std::size_t kCount>
void RunParseReal(benchmark::State& state,
                  const char* const (&tokens)[kCount]) {
  for (auto _ : state) {
    for (const char* token : tokens) {
      bool ok = false;
      benchmark::DoNotOptimize(ParseReal(token, ok));
      benchmark::DoNotOptimize(ok);
    }
  }
  state.SetItemsProcessed(
      static_cast<std::int64_t>(state.iterations() * kCount));
}

template <std::size_t kCount>
void RunStrtold(benchmark::State& state, const char* const (&tokens)[kCount]) {
  for (auto _ : state) {
    for (const char* token : tokens) {
      char* end = nullptr;
      benchmark::DoNotOptimize(std::strtold(token, &end));
      benchmark::DoNotOptimize(end);
    }
  }
  state.SetItemsProcessed(
      static_cast<std::int64_t>(state.iterations() * kCount));
}

void BM_ParseRealShort(benchmark::State& state) {
  RunParseReal(state, kShortTokens);
}
void BM_StrtoldShort(benchmark::State& state) {
  RunStrtold(state, kShortTokens);
}
void BM_ParseRealMixed(benchmark::State& state) {
  RunParseReal(state, kMixedTokens);
}
void BM_StrtoldMixed(benchmark::State& state) {
  RunStrtold(state, kMixedTokens);
}

BENCHMARK(BM_ParseRealShort);
BENCHMARK(BM_StrtoldShort);
BENCHMARK(BM_ParseRealMixed);
BENCHMARK(BM_StrtoldMixed);

}  // namespace
}  // namespace diskmaps
