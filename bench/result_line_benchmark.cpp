// Time to render one result line: nine E14.8 fields.
#include <benchmark/benchmark.h>

#include <array>

#include "bench/compositions.hpp"
#include "textio/report_formats.hpp"
#include "quarn/eos.hpp"
#include "textio/formatted_write.hpp"

namespace {

void BM_RenderResultLine(benchmark::State& state) {
  // Lines as the program writes them: mole fractions, coefficients, fugacities.
  constexpr std::size_t kCount = 1024;
  const auto compositions = quarn::bench::InRangeCompositions(kCount);
  std::vector<std::array<quarn::FormatValue, 9>> lines;
  for (const auto& x : compositions) {
    const std::array<double, 3> phi =
        quarn::Evaluate(773.15, 2000.0 / 1.01325, {x[0], x[1], x[2]}).result.phi;
    lines.push_back({x[0], phi[0], x[0] * phi[0] * 2000.0, x[1], phi[1], x[1] * phi[1] * 2000.0,
                     x[2], phi[2], x[2] * phi[2] * 2000.0});
  }
  quarn::RenderedRecords records;
  std::size_t i = 0;
  for (auto _ : state) {
    quarn::RenderFormat(quarn::report::kResult, lines[i], records);
    benchmark::DoNotOptimize(records.chars.data());
    i = (i + 1) % kCount;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderResultLine);

}  // namespace
