// Drawing map records: the program's software arithmetic against the same
// formulas on the processor's 80-bit unit.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "app/map_generation.h"
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

struct ProcessorRecord {
  double x;
  long double y;
  long double r0;
};

long double ProcessorUnitRandom(std::uint32_t& seed) {
  seed = NextSeed(seed);
  return static_cast<long double>(seed) / 4294967296.0L;
}

void BM_DrawMapRecordOnProcessor(benchmark::State& state) {
  std::uint32_t seed = 45296789u;
  double r0_min = 0.1;
  double r0_max = 0.9;
  benchmark::DoNotOptimize(r0_min);
  benchmark::DoNotOptimize(r0_max);
  for (auto _ : state) {
    ProcessorRecord record;
    record.x = static_cast<double>(ProcessorUnitRandom(seed) * 2.0L - 1.0L);
    const long double t = ProcessorUnitRandom(seed) * 2.0L - 1.0L;
    const long double x = record.x;
    record.y = std::sqrt(1.0L - x * x) * t;
    const long double low = r0_min;
    record.r0 =
        ProcessorUnitRandom(seed) * (static_cast<long double>(r0_max) - low) +
        low;
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_DrawMapRecordOnProcessor);

}  // namespace
}  // namespace diskmaps
