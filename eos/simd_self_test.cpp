// The known-answer self-test of an evaluation loop: a fixed table of states
// through that loop and through the scalar one, by both methods, every output compared bit for
// bit. It guards the loops that no machine of ours runs (a wrong intrinsic
// wrapper would otherwise give wrong numbers silently on the machines that
// have them).
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "eos/batch_slice.hpp"

namespace quarn::batch {
namespace {

struct State {
  double T_K, P_atm, x_CO2, x_H2O, x_NaCl;
};

// The table: states across the stated range, where the lanes take their fast
// paths; the edges of the composition (no salt, no water, pure CO2, the
// no-solvent form); states that fail in an elementary function; and values
// that make the lanes decline a point (NaN, infinities, zero or huge pressure,
// negative fractions, subnormals). 61 states, so that every lane width leaves
// a remainder, and temperatures repeated in runs and alone, as a batch has them.
std::vector<State> Table() {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::vector<State> table = {
      {623.15, 493.5, 0.9, 0.0, 0.1},        // exp overflows
      {773.15, 1973.9, 0.1, 0.89, 0.01},     // the README's first state
      {773.15, 1973.9, 0.3, 0.6, 0.1},       //
      {673.15, 1973.9, 1.0, 0.0, 0.0},       // pure CO2: the no-solvent form
      {673.15, 1973.9, 0.0, 1.0, 0.0},       // pure water
      {673.15, 1973.9, 0.0, 0.9, 0.1},       // brine without CO2
      {873.15, 4934.7, 0.5, 0.5, 0.0},       // no salt
      {873.15, 4934.7, 0.5, 0.0, 0.5},       // no water
      {kNaN, 1973.9, 0.1, 0.89, 0.01},       //
      {773.15, kNaN, 0.1, 0.89, 0.01},       //
      {773.15, 1973.9, kNaN, 0.89, 0.01},    //
      {kInf, 1973.9, 0.1, 0.89, 0.01},       //
      {773.15, kInf, 0.1, 0.89, 0.01},       //
      {773.15, 0.0, 0.1, 0.89, 0.01},        //
      {773.15, 1e300, 0.1, 0.89, 0.01},      //
      {773.15, 1973.9, -0.1, 1.09, 0.01},    //
      {773.15, 1973.9, 4.9e-324, 1.0, 0.0},  // a subnormal fraction
      {1.0, 1973.9, 0.1, 0.89, 0.01},        // far below the range
      {5000.0, 1973.9, 0.1, 0.89, 0.01},     // far above it
      {773.15, 1973.9, 10.0, 89.0, 1.0},     // percentages for fractions
      {773.15, 1973.9, 0.1, 0.8, 0.01},      // not summing to 1
  };
  // The stated range on a fixed pattern: runs of equal temperature and single ones.
  std::uint64_t bits = 0x9e3779b97f4a7c15ull;
  auto unit = [&bits] {
    bits ^= bits << 13;
    bits ^= bits >> 7;
    bits ^= bits << 17;
    return static_cast<double>(bits >> 11) * 0x1p-53;
  };
  double T_K = 623.15;
  while (table.size() < 61) {
    if (table.size() % 5 != 0) T_K = 623.15 + 250.0 * unit();
    const double x_CO2 = unit(), salt = 0.3 * unit() * (1.0 - x_CO2);
    table.push_back({T_K, 493.5 + 4441.2 * unit(), x_CO2, 1.0 - x_CO2 - salt, salt});
  }
  return table;
}

struct Outputs {
  std::vector<double> values;  // phi, Z, V, ln phi of every state
  std::vector<Fault> faults;
};

Outputs Run(SimdPath path, Method method, const std::vector<State>& table) {
  const std::size_t n = table.size();
  Outputs out{std::vector<double>(8 * n), std::vector<Fault>(n)};
  const double* in = &table[0].T_K;
  constexpr std::size_t kStride = sizeof(State) / sizeof(double);
  auto column = [&](std::size_t k) { return OutColumn{out.values.data() + k, 8}; };
  const Slice slice = {{in, kStride},
                       {in + 1, kStride},
                       {in + 2, kStride},
                       {in + 3, kStride},
                       {in + 4, kStride},
                       {column(0), column(1), column(2)},
                       column(3),
                       column(4),
                       {column(5), column(6), column(7)},
                       out.faults.data(),
                       method};
  EvaluateOn(path, slice, 0, n);
  return out;
}

}  // namespace

bool PassesSelfTest(SimdPath path, bool spoil) {
  if (path == SimdPath::kScalar) return true;
  if (!Supports(path)) return false;
  const std::vector<State> table = Table();
  for (Method method : {Method::kReportExact, Method::kUnrounded}) {
    Outputs lanes = Run(path, method, table);
    const Outputs scalar = Run(SimdPath::kScalar, method, table);
    // For the test of the fallback: one wrong bit, as a faulty wrapper would give.
    if (spoil)
      lanes.values[8] = std::bit_cast<double>(std::bit_cast<std::uint64_t>(lanes.values[8]) ^ 1);
    // Faults alike; the numbers of a point without a fault alike bit for bit (a
    // NaN as any NaN: its payload is no number).
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (lanes.faults[i].number != scalar.faults[i].number ||
          lanes.faults[i].function != scalar.faults[i].function)
        return false;
      if (scalar.faults[i]) continue;
      for (std::size_t k = 8 * i; k < 8 * i + 8; ++k) {
        const double a = lanes.values[k], b = scalar.values[k];
        if (std::bit_cast<std::uint64_t>(a) != std::bit_cast<std::uint64_t>(b) &&
            !(std::isnan(a) && std::isnan(b)))
          return false;
      }
    }
  }
  return true;
}

}  // namespace quarn::batch
