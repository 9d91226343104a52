// The batch forms: the points in order of their T and P, contiguous slices of
// that order on as many threads, the conditions (and their trial grids) made
// once for each distinct T and P of a slice.
#include <bit>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>
#include <vector>

#include "quarn/equilibrium.hpp"
#include "quarn/internal/parts.hpp"

namespace quarn {
namespace {

// Runs work(conditions, i) for every point, the points in order of their T
// and P split into contiguous parts, each on its own thread with its own
// conditions, made once for each distinct T and P in it.
template <class Work>
void ForEachPoint(std::span<const double> T_K, std::span<const double> P_atm, std::size_t n,
                  const EquilibriumOptions& options, unsigned threads, Work work) {
  std::vector<std::size_t> order;
  try {
    order = OrderByConditions(T_K, P_atm, n);
  } catch (const std::bad_alloc&) {  // no memory for the order: the points' own
  }
  auto slice = [&](std::size_t begin, std::size_t end) {
    std::optional<EquilibriumConditions> conditions;
    std::uint64_t T = 0, P = 0;
    for (std::size_t k = begin; k < end; ++k) {
      const std::size_t i = order.empty() ? k : order[k];
      const double T_i = ColumnValue(T_K, i), P_i = ColumnValue(P_atm, i);
      const std::uint64_t T_bits = std::bit_cast<std::uint64_t>(T_i);
      const std::uint64_t P_bits = std::bit_cast<std::uint64_t>(P_i);
      if (!conditions || T_bits != T || P_bits != P) {
        conditions.emplace(T_i, P_i, options);
        T = T_bits;
        P = P_bits;
      }
      work(*conditions, i);
    }
  };
  RunInParts(0, n, PartCount(n, threads, 1),
             [&slice](std::size_t, std::size_t begin, std::size_t end) { slice(begin, end); });
}

}  // namespace

bool FlashBatch(std::span<const double> T_K, std::span<const double> P_atm,
                std::span<const double> x_CO2, std::span<const double> x_H2O,
                std::span<const double> x_NaCl, std::span<FlashResult> results,
                const EquilibriumOptions& options, unsigned threads) noexcept {
  const std::size_t n = results.size();
  if (!ColumnsFit(n, {T_K, P_atm, x_CO2, x_H2O, x_NaCl})) return false;
  ForEachPoint(T_K, P_atm, n, options, threads, [&](const EquilibriumConditions& c, std::size_t i) {
    results[i] = c.Flash({ColumnValue(x_CO2, i), ColumnValue(x_H2O, i), ColumnValue(x_NaCl, i)});
  });
  return true;
}

bool StabilityBatch(std::span<const double> T_K, std::span<const double> P_atm,
                    std::span<const double> x_CO2, std::span<const double> x_H2O,
                    std::span<const double> x_NaCl, std::span<StabilityResult> results,
                    const EquilibriumOptions& options, unsigned threads) noexcept {
  const std::size_t n = results.size();
  if (!ColumnsFit(n, {T_K, P_atm, x_CO2, x_H2O, x_NaCl})) return false;
  ForEachPoint(T_K, P_atm, n, options, threads, [&](const EquilibriumConditions& c, std::size_t i) {
    results[i] =
        c.TestStability({ColumnValue(x_CO2, i), ColumnValue(x_H2O, i), ColumnValue(x_NaCl, i)});
  });
  return true;
}

bool OnePhaseLimitBatch(std::span<const double> T_K, std::span<const double> P_atm,
                        std::span<const double> wt_NaCl, std::span<OnePhaseLimit> results,
                        const EquilibriumOptions& options, unsigned threads) noexcept {
  const std::size_t n = results.size();
  if (!ColumnsFit(n, {T_K, P_atm, wt_NaCl})) return false;
  ForEachPoint(T_K, P_atm, n, options, threads, [&](const EquilibriumConditions& c, std::size_t i) {
    results[i] = c.OnePhaseLimitAt(ColumnValue(wt_NaCl, i));
  });
  return true;
}

}  // namespace quarn
