// The lane loop in its portable form, four and eight lanes of plain vectors
// (the twin of the AVX2 and AVX-512 loops, with no instruction set of its
// own), next to the batch call's loops: points per second at one temperature
// and pressure, one thread. On a machine without AVX-512 this is the only
// eight-lane figure there is.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/compositions.hpp"
#include "elementary/lane_kernels.hpp"
#include "eos/batch_slice.hpp"
#include "eos/method_lanes.hpp"
#include "quarn/eos.hpp"

namespace {

namespace el = quarn::elementary::lanes;

template <int kLanes>
void BM_PortableLaneLoop(benchmark::State& state) {
  constexpr std::size_t kCount = 1 << 16;
  std::vector<double> x;
  for (const auto& c : quarn::bench::InRangeCompositions(kCount))
    x.insert(x.end(), c.begin(), c.end());
  std::vector<quarn::Result> results(kCount);
  std::vector<quarn::Fault> faults(kCount);
  const double T_K = 773.15, P_atm = 2000.0 / 1.01325;
  auto field = [&](std::size_t offset) {
    return quarn::batch::OutColumn{reinterpret_cast<double*>(results.data()) + offset, 8};
  };
  const quarn::batch::Slice slice = {{&T_K, 0},
                                     {&P_atm, 0},
                                     {x.data(), 3},
                                     {x.data() + 1, 3},
                                     {x.data() + 2, 3},
                                     {field(0), field(1), field(2)},
                                     field(3),
                                     field(4),
                                     {field(5), field(6), field(7)},
                                     faults.data(),
                                     quarn::Method::kReportExact};
  for (auto _ : state) {
    quarn::batch::LaneKernel<el::GenericLanes<kLanes>>::Evaluate(slice, 0, kCount);
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCount));
  state.SetLabel(kLanes == 8 ? "portable, 8 lanes" : "portable, 4 lanes");
}
BENCHMARK(BM_PortableLaneLoop<4>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PortableLaneLoop<8>)->Unit(benchmark::kMillisecond);

}  // namespace
