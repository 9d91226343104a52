// Time per TRKMIX call over in-range temperatures, pressures and compositions.
#include <benchmark/benchmark.h>

#include <random>

#include "bench/compositions.hpp"
#include "eos/trkmix.hpp"

namespace {

void BM_Trkmix(benchmark::State& state) {
  constexpr std::size_t kCount = 4096;
  const auto compositions = quarn::bench::InRangeCompositions(kCount);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> celsius(350.0, 600.0);
  std::uniform_real_distribution<double> bar(500.0, 5000.0);
  std::vector<std::array<double, 2>> conditions(kCount);
  for (auto& c : conditions) c = {celsius(random) + 273.15, bar(random) / 1.01325};
  std::array<double, 3> phi;
  std::size_t i = 0;
  for (auto _ : state) {
    quarn::TRKMIX(conditions[i][0], conditions[i][1], compositions[i], phi);
    benchmark::DoNotOptimize(phi);
    i = (i + 1) % kCount;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Trkmix);

}  // namespace
