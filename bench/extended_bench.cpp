// The software extended arithmetic against the processor's own 80-bit
// arithmetic (long double on x86-64), on the same operands: finite normal
// values whose exponents lie within a few hundred binades of 1, so that no
// operation meets a special case. Each pair of benchmarks (Soft/Hard) runs
// the same independent operations, so their ratio is the cost of doing the
// arithmetic in software.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/number/decimal_test_oracle.h"
#include "runtime/number/extended.h"

namespace diskmaps {
namespace {

constexpr std::size_t kOperandCount = 1024;

struct Operands {
  std::vector<Extended> soft_a, soft_b;
  std::vector<long double> hard_a, hard_b;
};

using testing::ToLongDouble;

Extended RandomNormal(std::mt19937_64& engine, bool positive) {
  const auto exponent = static_cast<std::uint16_t>(Extended::kExponentBias -
                                                   300 + engine() % 600);
  const bool sign = positive ? false : (engine() & 1) != 0;
  return Extended::Make(sign, exponent, engine() | Extended::kIntegerBit);
}

const Operands& SharedOperands() {
  static const Operands operands = [] {
    std::mt19937_64 engine(20261211);
    Operands made;
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      const Extended a = RandomNormal(engine, /*positive=*/false);
      const Extended b = RandomNormal(engine, /*positive=*/false);
      made.soft_a.push_back(a);
      made.soft_b.push_back(b);
      made.hard_a.push_back(ToLongDouble(a));
      made.hard_b.push_back(ToLongDouble(b));
    }
    return made;
  }();
  return operands;
}

template <Extended (*Operation)(Extended, Extended)>
void BM_SoftBinary(benchmark::State& state) {
  const Operands& operands = SharedOperands();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      Extended result = Operation(operands.soft_a[i], operands.soft_b[i]);
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

template <typename Operation>
void RunHardBinary(benchmark::State& state, Operation operation) {
  const Operands& operands = SharedOperands();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      long double result = operation(operands.hard_a[i], operands.hard_b[i]);
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

void BM_HardAdd(benchmark::State& state) {
  RunHardBinary(state, [](long double a, long double b) { return a + b; });
}
void BM_HardSubtract(benchmark::State& state) {
  RunHardBinary(state, [](long double a, long double b) { return a - b; });
}
void BM_HardMultiply(benchmark::State& state) {
  RunHardBinary(state, [](long double a, long double b) { return a * b; });
}
void BM_HardDivide(benchmark::State& state) {
  RunHardBinary(state, [](long double a, long double b) { return a / b; });
}

void BM_SoftSquareRoot(benchmark::State& state) {
  const Operands& operands = SharedOperands();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      Extended result = SquareRoot(operands.soft_a[i].Magnitude());
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

void BM_HardSquareRoot(benchmark::State& state) {
  const Operands& operands = SharedOperands();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      long double operand = operands.hard_a[i];
      long double result;
      // fabs then fsqrt, as the software side takes the magnitude.
      __asm__("fabs\n\tfsqrt" : "=t"(result) : "0"(operand));
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

void BM_SoftToDouble(benchmark::State& state) {
  const Operands& operands = SharedOperands();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      double result = ExtendedToDouble(operands.soft_a[i]);
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

void BM_HardToDouble(benchmark::State& state) {
  const Operands& operands = SharedOperands();
  for (auto _ : state) {
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      double result = static_cast<double>(operands.hard_a[i]);
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

// Dependent chains: each result is the next left operand, so that the
// processor keeps it in a register and the time is the operation's latency.
// The right operands are positive and within [1, 2), so no chain leaves the
// range.
const std::vector<Extended>& ChainOperands() {
  static const std::vector<Extended> operands = [] {
    std::mt19937_64 engine(20261212);
    std::vector<Extended> made;
    for (std::size_t i = 0; i < kOperandCount; ++i) {
      made.push_back(Extended::Make(false, Extended::kExponentBias,
                                    engine() | Extended::kIntegerBit));
    }
    return made;
  }();
  return operands;
}

template <Extended (*Operation)(Extended, Extended)>
void BM_SoftChain(benchmark::State& state) {
  const std::vector<Extended>& operands = ChainOperands();
  for (auto _ : state) {
    Extended chain = operands[0];
    for (const Extended& operand : operands) chain = Operation(chain, operand);
    std::uint64_t bits = chain.Significand() ^ chain.SignAndExponent();
    benchmark::DoNotOptimize(bits);
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

template <typename Operation>
void RunHardChain(benchmark::State& state, Operation operation) {
  std::vector<long double> operands;
  for (const Extended& operand : ChainOperands()) {
    operands.push_back(ToLongDouble(operand));
  }
  for (auto _ : state) {
    long double chain = operands[0];
    for (long double operand : operands) chain = operation(chain, operand);
    benchmark::DoNotOptimize(chain);
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(kOperandCount));
}

void BM_HardAddChain(benchmark::State& state) {
  RunHardChain(state, [](long double a, long double b) { return a + b; });
}
void BM_HardMultiplyChain(benchmark::State& state) {
  RunHardChain(state, [](long double a, long double b) { return a * b; });
}
void BM_HardDivideChain(benchmark::State& state) {
  RunHardChain(state, [](long double a, long double b) { return a / b; });
}

BENCHMARK(BM_SoftChain<Add>)->Name("BM_SoftAddChain");
BENCHMARK(BM_HardAddChain);
BENCHMARK(BM_SoftChain<Multiply>)->Name("BM_SoftMultiplyChain");
BENCHMARK(BM_HardMultiplyChain);
BENCHMARK(BM_SoftChain<Divide>)->Name("BM_SoftDivideChain");
BENCHMARK(BM_HardDivideChain);
BENCHMARK(BM_SoftBinary<Add>)->Name("BM_SoftAdd");
BENCHMARK(BM_HardAdd);
BENCHMARK(BM_SoftBinary<Subtract>)->Name("BM_SoftSubtract");
BENCHMARK(BM_HardSubtract);
BENCHMARK(BM_SoftBinary<Multiply>)->Name("BM_SoftMultiply");
BENCHMARK(BM_HardMultiply);
BENCHMARK(BM_SoftBinary<Divide>)->Name("BM_SoftDivide");
BENCHMARK(BM_HardDivide);
BENCHMARK(BM_SoftSquareRoot);
BENCHMARK(BM_HardSquareRoot);
BENCHMARK(BM_SoftToDouble);
BENCHMARK(BM_HardToDouble);

}  // namespace
}  // namespace diskmaps
