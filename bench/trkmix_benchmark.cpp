// Points per second of the library: the scalar call over in-range
// temperatures, pressures and compositions, the prepared conditions' call, and
// the batch calls on each evaluation loop, on one and on two threads.
#include <benchmark/benchmark.h>

#include <random>

#include "bench/compositions.hpp"
#include "eos/batch_slice.hpp"
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

// The batch calls on each evaluation loop the processor offers (the first
// argument: 0 scalar, 1 AVX2, 2 AVX-512) and on one or two threads (the second).
bool UsePath(benchmark::State& state) {
  const auto path = static_cast<quarn::batch::SimdPath>(state.range(0));
  if (quarn::batch::SelectSimdPath(path)) {
    state.SetLabel(quarn::batch::SimdPathName(path));
    return true;
  }
  state.SkipWithError("the processor lacks this path");
  return false;
}

void PathsAndThreads(benchmark::internal::Benchmark* b) {
  for (int path = 0; path < 3; ++path) {
    for (int threads = 1; threads <= 2; ++threads) b->Args({path, threads});
  }
  b->UseRealTime()->Unit(benchmark::kMillisecond);
}

constexpr std::size_t kBatchPoints = 1 << 20;

// One temperature and pressure for all points.
void BM_EvaluateBatch(benchmark::State& state) {
  const auto compositions = Compositions(kBatchPoints);
  std::vector<quarn::Result> results(kBatchPoints);
  std::vector<quarn::Fault> faults(kBatchPoints);
  const unsigned threads = static_cast<unsigned>(state.range(1));
  if (!UsePath(state)) return;
  for (auto _ : state) {
    if (!quarn::EvaluateBatch(773.15, 2000.0 / 1.01325, compositions, results, faults, threads))
      state.SkipWithError("sizes");
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBatchPoints));
}
BENCHMARK(BM_EvaluateBatch)->Apply(PathsAndThreads);

// A temperature and a pressure of its own for every point.
void BM_EvaluateBatchEachConditions(benchmark::State& state) {
  const auto compositions = Compositions(kBatchPoints);
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> celsius(350.0, 600.0), bar(500.0, 5000.0);
  std::vector<double> T_K(kBatchPoints), P_atm(kBatchPoints);
  for (std::size_t i = 0; i < kBatchPoints; ++i) {
    T_K[i] = celsius(random) + 273.15;
    P_atm[i] = bar(random) / 1.01325;
  }
  std::vector<quarn::Result> results(kBatchPoints);
  std::vector<quarn::Fault> faults(kBatchPoints);
  const unsigned threads = static_cast<unsigned>(state.range(1));
  if (!UsePath(state)) return;
  for (auto _ : state) {
    if (!quarn::EvaluateBatch(T_K, P_atm, compositions, results, faults, threads))
      state.SkipWithError("sizes");
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBatchPoints));
}
BENCHMARK(BM_EvaluateBatchEachConditions)->Apply(PathsAndThreads);

// Columns as NumPy holds them: a grid of 64 temperatures by 16,384 states, the
// temperature changing slowest, one pressure.
void BM_EvaluateBatchColumns(benchmark::State& state) {
  const auto compositions = Compositions(kBatchPoints);
  std::vector<double> T_K(kBatchPoints), x[3], out[8];
  for (auto& c : x) c.resize(kBatchPoints);
  for (auto& c : out) c.resize(kBatchPoints);
  for (std::size_t i = 0; i < kBatchPoints; ++i) {
    T_K[i] = 623.15 + static_cast<double>(i / (kBatchPoints / 64)) * 4.0;
    x[0][i] = compositions[i].x_CO2;
    x[1][i] = compositions[i].x_H2O;
    x[2][i] = compositions[i].x_NaCl;
  }
  const double P_atm = 2000.0 / 1.01325;
  std::vector<quarn::Fault> faults(kBatchPoints);
  const quarn::StateColumns in = {T_K, {&P_atm, 1}, x[0], x[1], x[2]};
  const quarn::ResultColumns results = {out[0], out[1], out[2], out[3], out[4],
                                        faults, out[5], out[6], out[7]};
  const unsigned threads = static_cast<unsigned>(state.range(1));
  if (!UsePath(state)) return;
  for (auto _ : state) {
    if (!quarn::EvaluateBatch(in, results, threads)) state.SkipWithError("sizes");
    benchmark::DoNotOptimize(out[0].data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBatchPoints));
}
BENCHMARK(BM_EvaluateBatchColumns)->Apply(PathsAndThreads);

// The self-test a lane loop passes before its first use (61 states through it
// and through the scalar loop), once per process.
void BM_SimdSelfTest(benchmark::State& state) {
  const auto path = static_cast<quarn::batch::SimdPath>(state.range(0));
  if (!quarn::batch::Supports(path)) {
    state.SkipWithError("the processor lacks this path");
    return;
  }
  state.SetLabel(quarn::batch::SimdPathName(path));
  for (auto _ : state) benchmark::DoNotOptimize(quarn::batch::PassesSelfTest(path));
}
BENCHMARK(BM_SimdSelfTest)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace
