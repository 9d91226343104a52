// The phase equilibria's cost: model evaluations (the machine-independent
// figure, as counters) and time of the trial grids of one temperature and
// pressure, a cold flash (stability test, split, global check), a warm flash
// from a neighbour's answer, a one-phase limit, random cold flashes over the
// stated range, and a 100 x 100 section (temperature against x_CO2) with T
// varying slowest or fastest, on one and two threads.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "quarn/equilibrium.hpp"

namespace {

const double kT_K = quarn::KelvinFromCelsius(400.0);
const double kP_atm = quarn::AtmFromBar(2000.0);

void BM_TrialGrids(benchmark::State& state) {
  int evaluations = 0;
  for (auto _ : state) {
    const quarn::EquilibriumConditions c(kT_K, kP_atm);
    evaluations = c.grid_evaluations();
    benchmark::DoNotOptimize(evaluations);
  }
  state.counters["evaluations"] = evaluations;
}
BENCHMARK(BM_TrialGrids)->Unit(benchmark::kMillisecond);

void BM_ColdFlash(benchmark::State& state) {
  const quarn::EquilibriumConditions c(kT_K, kP_atm);
  const quarn::Composition z = quarn::CompositionFromSalinity(0.2, 20.0);
  int evaluations = 0;
  for (auto _ : state) {
    const quarn::FlashResult r = c.Flash(z);
    evaluations = r.evaluations;
    benchmark::DoNotOptimize(r);
  }
  state.counters["evaluations"] = evaluations;
  state.counters["with_grids"] = evaluations + c.grid_evaluations();
}
BENCHMARK(BM_ColdFlash)->Unit(benchmark::kMicrosecond);

// The next point of a section: x_CO2 one hundredth further.
void BM_WarmFlash(benchmark::State& state) {
  const quarn::EquilibriumConditions c(kT_K, kP_atm);
  const quarn::FlashResult near = c.Flash(quarn::CompositionFromSalinity(0.2, 20.0));
  const quarn::Composition z = quarn::CompositionFromSalinity(0.21, 20.0);
  int evaluations = 0;
  for (auto _ : state) {
    const quarn::FlashResult r = c.Flash(z, near);
    evaluations = r.evaluations;
    benchmark::DoNotOptimize(r);
  }
  state.counters["evaluations"] = evaluations;
}
BENCHMARK(BM_WarmFlash)->Unit(benchmark::kMicrosecond);

// The one-phase limit in x_CO2 of a 10 wt% solvent at these conditions.
void BM_OnePhaseLimit(benchmark::State& state) {
  const quarn::EquilibriumConditions c(kT_K, kP_atm);
  int evaluations = 0;
  for (auto _ : state) {
    const quarn::OnePhaseLimit r = c.OnePhaseLimitAt(10.0);
    evaluations = r.evaluations;
    benchmark::DoNotOptimize(r);
  }
  state.counters["evaluations"] = evaluations;
}
BENCHMARK(BM_OnePhaseLimit)->Unit(benchmark::kMicrosecond);

// Random feeds over 350-600 C, 500-5000 bar, x_CO2 0.01-0.8, 0-40 wt%, each at
// its own conditions (grids included): the evaluations' mean and largest, and
// the undecided shares by temperature band (below 375 C and up to about 400 C
// the model's ln phi runs away in brines, which bounds what can be decided).
void BM_RandomColdFlashes(benchmark::State& state) {
  std::mt19937_64 engine(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double total = 0.0, largest = 0.0;
  double feeds[3] = {}, undecided[3] = {};  // below 375 C, 375-400 C, from 400 C
  for (auto _ : state) {
    const double T_C = 350.0 + 250.0 * unit(engine);
    const double P_atm = quarn::AtmFromBar(500.0 + 4500.0 * unit(engine));
    const double x_CO2 = 0.01 + 0.79 * unit(engine);
    const double wt_NaCl = 40.0 * unit(engine);
    const quarn::EquilibriumConditions c(quarn::KelvinFromCelsius(T_C), P_atm);
    const quarn::FlashResult r = c.Flash(quarn::CompositionFromSalinity(x_CO2, wt_NaCl));
    const double evaluations = r.evaluations + c.grid_evaluations();
    total += evaluations;
    largest = std::max(largest, evaluations);
    const int band = T_C < 375.0 ? 0 : T_C < 400.0 ? 1 : 2;
    feeds[band] += 1.0;
    undecided[band] += r.phases == 0;
  }
  state.counters["mean_evaluations"] = total / (feeds[0] + feeds[1] + feeds[2]);
  state.counters["largest_evaluations"] = largest;
  state.counters["undecided_below_375C"] = undecided[0] / feeds[0];
  state.counters["undecided_375_400C"] = undecided[1] / feeds[1];
  state.counters["undecided_from_400C"] = undecided[2] / feeds[2];
}
BENCHMARK(BM_RandomColdFlashes)->Unit(benchmark::kMillisecond)->Iterations(4000);

// Arguments: the thread count, and 1 for T varying fastest along the points
// (0: slowest).
void BM_Section100x100(benchmark::State& state) {
  const bool T_fastest = state.range(1) != 0;
  std::vector<double> T_K, x_CO2, x_H2O, x_NaCl;
  for (int outer = 0; outer < 100; ++outer) {
    for (int inner = 0; inner < 100; ++inner) {
      const int i = T_fastest ? inner : outer, j = T_fastest ? outer : inner;
      const quarn::Composition z = quarn::CompositionFromSalinity(0.005 + 0.007 * j, 10.0);
      T_K.push_back(quarn::KelvinFromCelsius(350.0 + 250.0 * i / 99.0));
      x_CO2.push_back(z.x_CO2);
      x_H2O.push_back(z.x_H2O);
      x_NaCl.push_back(z.x_NaCl);
    }
  }
  const std::vector<double> P_atm = {kP_atm};
  std::vector<quarn::FlashResult> results(T_K.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(quarn::FlashBatch(T_K, P_atm, x_CO2, x_H2O, x_NaCl, results, {},
                                               static_cast<unsigned>(state.range(0))));
  }
  double evaluations = 0.0;
  for (const quarn::FlashResult& r : results) evaluations += r.evaluations;
  state.counters["evaluations"] = evaluations;
}
BENCHMARK(BM_Section100x100)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace
