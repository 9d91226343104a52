// The fluid-inclusion calls: an isochore of 100 temperatures against 100
// evaluations of the method, and one homogenization case along P (every
// boundary of a fluid from 500 to 6000 bar at one temperature) and along an
// isochore (350 to 600 C), on one core (process CPU time).
#include <benchmark/benchmark.h>

#include <vector>

#include "quarn/eos.hpp"
#include "quarn/equilibrium.hpp"
#include "quarn/fluid.hpp"

namespace {

const quarn::Composition kFluid = quarn::CompositionFromSalinity(0.1, 6.0);

void BM_Isochore100Temperatures(benchmark::State& state) {
  const double V0 = quarn::Evaluate(673.15, quarn::AtmFromBar(1000.0), kFluid).result.V_cm3_per_mol;
  for (auto _ : state) {
    for (int k = 0; k < 100; ++k) {
      benchmark::DoNotOptimize(quarn::IsochorePressure(623.15 + 2.5 * k, kFluid, V0));
    }
  }
}
BENCHMARK(BM_Isochore100Temperatures)->Unit(benchmark::kMicrosecond);

// The yardstick: 100 evaluations of the method, each at conditions of its own.
void BM_Evaluate100Temperatures(benchmark::State& state) {
  for (auto _ : state) {
    for (int k = 0; k < 100; ++k) {
      benchmark::DoNotOptimize(quarn::Evaluate(623.15 + 2.5 * k, 1000.0, kFluid));
    }
  }
}
BENCHMARK(BM_Evaluate100Temperatures)->Unit(benchmark::kMicrosecond);

void BM_HomogenizationAlongPressure(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(quarn::BoundariesAlongPressure(
        673.15, kFluid, quarn::AtmFromBar(500.0), quarn::AtmFromBar(6000.0)));
  }
}
BENCHMARK(BM_HomogenizationAlongPressure)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// The homogenization temperature of the fluid's isochore through 400 C and
// 1000 bar, scanned from 350 to 600 C.
void BM_HomogenizationAlongIsochore(benchmark::State& state) {
  const double V0 = quarn::Evaluate(673.15, quarn::AtmFromBar(1000.0), kFluid).result.V_cm3_per_mol;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quarn::BoundariesAlongIsochore(kFluid, V0, 623.15, 873.15));
  }
}
BENCHMARK(BM_HomogenizationAlongIsochore)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace
