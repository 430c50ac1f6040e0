// Drawing map records: the program's software arithmetic against the same
// formulas on the processor's 80-bit unit.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "app/map_generation.h"
#include "app/map_test_oracle.h"
#include "runtime/random/random_source.h"

namespace diskmaps {
namespace {

void BM_DrawMapRecord(benchmark::State& state) {
  Random.seed = 45296789u;
  for (auto _ : state) {
    MapRecord record = DrawMapRecord(0.1, 0.9);
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_DrawMapRecord);

// The same formulas on the processor, drawing from the same sequence.
void BM_DrawMapRecordOnProcessor(benchmark::State& state) {
  std::uint32_t seed = 45296789u;
  double r0_min = 0.1;
  double r0_max = 0.9;
  benchmark::DoNotOptimize(r0_min);
  benchmark::DoNotOptimize(r0_max);
  for (auto _ : state) {
    const testing::OracleRecord record =
        testing::OracleDraw(seed, r0_min, r0_max);
    seed = NextSeed(NextSeed(NextSeed(seed)));
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_DrawMapRecordOnProcessor);

}  // namespace
}  // namespace diskmaps
