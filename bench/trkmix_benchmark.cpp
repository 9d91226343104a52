// Points per second of the library: the scalar call over in-range
// temperatures, pressures and compositions, the prepared conditions' call, and
// the batch calls on each evaluation loop, on one and on two threads.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>
#include <vector>

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

// The yardstick of the batch call: the nine elementary functions the method
// calls per state (exp of the solvent's attraction polynomial and of the three
// ln phi, log of V/(V - b), (V + b)/V and Z, and the two cube roots of
// Cardano's formula as powers) as scalar calls of the C library, on arguments
// of the method's ranges.
struct NineCalls {
  double polynomial, ln_phi[3], volume_ratio, co_volume_ratio, Z, cube[2];
};

std::vector<NineCalls> NineCallArguments(std::size_t count) {
  std::mt19937_64 random(5);
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  std::vector<NineCalls> arguments(count);
  for (auto& a : arguments) {
    a = {uniform(4.5, 6.5), {uniform(-6.0, 3.0), uniform(-6.0, 3.0), uniform(-6.0, 3.0)},
         uniform(1.2, 3.0), uniform(1.2, 2.0),
         uniform(0.5, 1.5), {uniform(1e-4, 1.0), uniform(1e-4, 1.0)}};
  }
  return arguments;
}

double CallNine(const std::vector<NineCalls>& arguments) {
  double sink = 0.0;
  for (const NineCalls& a : arguments) {
    double sum = std::exp(a.polynomial);
    sum += std::pow(a.cube[0], 1.0 / 3.0) + std::pow(a.cube[1], 1.0 / 3.0);
    sum += std::log(a.volume_ratio) + std::log(a.co_volume_ratio) + std::log(a.Z);
    sum += std::exp(a.ln_phi[0]) + std::exp(a.ln_phi[1]) + std::exp(a.ln_phi[2]);
    sink += sum;
  }
  return sink;
}

// An item is a state's nine calls.
void BM_NineLibmCalls(benchmark::State& state) {
  const auto arguments = NineCallArguments(1 << 16);
  for (auto _ : state) benchmark::DoNotOptimize(CallNine(arguments));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(arguments.size()));
}
BENCHMARK(BM_NineLibmCalls)->Unit(benchmark::kMillisecond);

double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The batch call on the active loop, one thread, against the nine calls, in
// turns of 2^14 states each: the median and quartiles of the ratio of their
// thread CPU times per state (one T and P for all states with the argument 0,
// one each with 1). Taken in turns, both meet the same load of the machine.
void BM_BatchAgainstNineLibmCalls(benchmark::State& state) {
  constexpr std::size_t kCount = 1 << 14;
  constexpr int kTurns = 300;
  const auto compositions = Compositions(kCount);
  const auto arguments = NineCallArguments(kCount);
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> celsius(350.0, 600.0), bar(500.0, 5000.0);
  std::vector<double> T_K(kCount, 773.15), P_atm(kCount, 2000.0 / 1.01325);
  if (state.range(0) == 1) {
    for (std::size_t i = 0; i < kCount; ++i) {
      T_K[i] = celsius(random) + 273.15;
      P_atm[i] = bar(random) / 1.01325;
    }
  }
  std::vector<quarn::Result> results(kCount);
  std::vector<quarn::Fault> faults(kCount);
  std::vector<double> ratios;
  for (auto _ : state) {
    for (int turn = 0; turn < kTurns; ++turn) {
      const double start = ThreadSeconds();
      if (!quarn::EvaluateBatch(T_K, P_atm, compositions, results, faults, 1))
        state.SkipWithError("sizes");
      benchmark::DoNotOptimize(results.data());
      const double middle = ThreadSeconds();
      benchmark::DoNotOptimize(CallNine(arguments));
      ratios.push_back((middle - start) / (ThreadSeconds() - middle));
    }
  }
  std::sort(ratios.begin(), ratios.end());
  state.counters["batch_over_nine_calls"] = ratios[ratios.size() / 2];
  state.counters["lower_quartile"] = ratios[ratios.size() / 4];
  state.counters["upper_quartile"] = ratios[3 * ratios.size() / 4];
  state.SetLabel(quarn::batch::SimdPathName(quarn::batch::ActiveSimdPath()));
}
BENCHMARK(BM_BatchAgainstNineLibmCalls)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

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
