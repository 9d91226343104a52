// Points per second of the library: the scalar call over in-range
// temperatures, pressures and compositions, the prepared conditions' call,
// and the batch call at one
// temperature and pressure on one and on two threads.
#include <benchmark/benchmark.h>

#include <random>

#include "bench/compositions.hpp"
#include "quarn/eos.hpp"

namespace {

std::vector<quarn::Composition> Compositions(std::size_t count) {
  std::vector<quarn::Composition> out;
  for (const auto& x : quarn::bench::InRangeCompositions(count)) out.push_back({x[0], x[1], x[2]});
  return out;
}

void BM_Evaluate(benchmark::State& state) {
  constexpr std::size_t kCount = 4096;
  const auto compositions = Compositions(kCount);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> celsius(350.0, 600.0), bar(500.0, 5000.0);
  std::vector<std::array<double, 2>> conditions(kCount);
  for (auto& c : conditions) c = {celsius(random) + 273.15, bar(random) / 1.01325};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quarn::Evaluate(conditions[i][0], conditions[i][1], compositions[i]));
    i = (i + 1) % kCount;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Evaluate);

// As the console program evaluates: one temperature and pressure, prepared once.
void BM_ConditionsEvaluate(benchmark::State& state) {
  constexpr std::size_t kCount = 4096;
  const auto compositions = Compositions(kCount);
  const quarn::Conditions conditions(773.15, 2000.0 / 1.01325);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(conditions.Evaluate(compositions[i]));
    i = (i + 1) % kCount;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConditionsEvaluate);

void BM_EvaluateBatch(benchmark::State& state) {
  const std::size_t count = 1 << 20;
  const auto compositions = Compositions(count);
  std::vector<quarn::Result> results(count);
  std::vector<quarn::Fault> faults(count);
  const unsigned threads = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    if (!quarn::EvaluateBatch(773.15, 2000.0 / 1.01325, compositions, results, faults, threads))
      state.SkipWithError("sizes");
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
}
BENCHMARK(BM_EvaluateBatch)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
