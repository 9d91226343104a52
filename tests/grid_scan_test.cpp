// The trial-grid scan: its row minima against their definition on tables and
// random rows, its distances on exact tables, and each loop the processor has
// against the scalar one, bit for bit, down to whole flashes.
#include "equilibrium/grid_scan.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "quarn/equilibrium.hpp"

namespace quarn {
namespace {

namespace scan = equilibrium::grid_scan;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t Bits(double v) {
  return std::bit_cast<std::uint64_t>(v);
}

using RowMinimaLoop = int (*)(const double*, int, int*);
using DistancesLoop = void (*)(const scan::Columns&, std::size_t, double*);

struct Loops {
  const char* name;
  RowMinimaLoop row_minima;
  DistancesLoop distances;
};

// The loops this processor runs: the scalar one, and AVX2 where it has it.
std::vector<Loops> AvailableLoops() {
  std::vector<Loops> loops = {{"scalar", scan::RowMinimaScalar, scan::DistancesScalar}};
#if QUARN_GRID_SCAN_AVX2
  if (batch::Supports(batch::SimdPath::kAvx2)) {
    loops.push_back({"avx2", scan::RowMinimaAvx2, scan::DistancesAvx2});
  }
#endif
  return loops;
}

std::vector<int> RowMinimaBy(RowMinimaLoop loop, const std::vector<double>& row) {
  std::vector<int> at(row.size() + 1, -1);
  const int count = loop(row.data(), static_cast<int>(row.size()), at.data());
  at.resize(static_cast<std::size_t>(count));
  return at;
}

// The definition: a position is kept where its distance is below +infinity and
// no neighbour along the row is lower.
std::vector<int> RowMinimaByDefinition(const std::vector<double>& row) {
  std::vector<int> kept;
  const int n = static_cast<int>(row.size());
  for (int i = 0; i < n; ++i) {
    bool neighbour_lower = false;
    for (int j : {i - 1, i + 1}) {
      if (j >= 0 && j < n && row[j] < row[i]) neighbour_lower = true;
    }
    if (row[i] < kInf && !neighbour_lower) kept.push_back(i);
  }
  return kept;
}

struct RowCase {
  std::vector<double> row;
  std::vector<int> kept;
};

TEST(GridScan, RowMinimaOfTable) {
  const std::vector<RowCase> cases = {
      {{}, {}},
      {{3.0}, {0}},
      {{1.0, 2.0}, {0}},
      {{2.0, 1.0}, {1}},
      {{1.0, 1.0}, {0, 1}},
      {{1.0, 0.0, 1.0}, {1}},
      {{0.0, 1.0, 0.0}, {0, 2}},
      {{5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5}, {5}},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0}},
      {{2, 2, 2, 2, 2, 2, 2}, {0, 1, 2, 3, 4, 5, 6}},
      {{1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}, {1, 3, 5, 7, 9}},
      // Points that are not valid (+infinity) and NaNs are never kept; a NaN
      // is lower than nothing, and nothing is lower than it.
      {{kInf, kInf, kInf, kInf, kInf, kInf}, {}},
      {{kInf, -1.0, kInf, kInf, kInf, 2.0, kInf}, {1, 5}},
      {{-kInf, 1.0, -kInf, -kInf, 0.0, 0.0, 0.0, 0.0, 0.0}, {0, 2, 3, 5, 6, 7, 8}},
      {{kNaN, 1.0, 2.0}, {1}},
      {{3, 2, kNaN, 2, 3, 4, 5, 6, 7}, {1, 3}},
      {{kNaN}, {}},
      {{kInf}, {}},
      {{-0.0, 0.0, -0.0, 0.0, -1e-300, 7, 7, 7, 6}, {0, 1, 2, 4, 6, 8}},
  };
  for (const Loops& loops : AvailableLoops()) {
    for (std::size_t c = 0; c < cases.size(); ++c) {
      EXPECT_EQ(RowMinimaBy(loops.row_minima, cases[c].row), cases[c].kept)
          << loops.name << " case " << c;
    }
  }
}

TEST(GridScan, RowMinimaOfRandomRowsAsDefined) {
  std::mt19937_64 random(20261209);
  // Few distinct values, so that ties, plateaus and runs of infinities abound.
  const double values[] = {-2.0, -1.0, 0.0, 0.5, 1.0, kInf, -kInf, kNaN};
  std::uniform_int_distribution<int> pick(0, 7), length(0, 75);
  for (int draw = 0; draw < 4000; ++draw) {
    std::vector<double> row(static_cast<std::size_t>(length(random)));
    for (double& v : row) v = values[pick(random)];
    const std::vector<int> expected = RowMinimaByDefinition(row);
    for (const Loops& loops : AvailableLoops()) {
      ASSERT_EQ(RowMinimaBy(loops.row_minima, row), expected) << loops.name << " draw " << draw;
    }
  }
}

struct DistanceCase {
  int species;
  double y[3], ln_f[3], d[3];
  double tpd;
};

TEST(GridScan, DistancesOfTable) {
  // Exact in binary: sum y (ln f - d), the species in order.
  const std::vector<DistanceCase> cases = {
      {3, {0.25, 0.5, 0.25}, {1.0, 2.0, 3.0}, {0.0, 0.0, 0.0}, 1.75 + 0.25},
      {3, {0.5, 0.25, 0.25}, {-1.0, 0.5, 4.0}, {1.0, 0.5, 2.0}, -1.0 + 0.0 + 0.5},
      {2, {0.75, 0.25, 0.0}, {2.0, -6.0, 0.0}, {1.0, -2.0, 0.0}, 0.75 - 1.0},
      {3, {0.125, 0.375, 0.5}, {kInf, 0.0, 0.0}, {0.0, 0.0, 0.0}, kInf},
      {2, {0.5, 0.5, 0.0}, {-3.0, -3.0, 0.0}, {-3.0, -3.0, 0.0}, 0.0},
  };
  for (const Loops& loops : AvailableLoops()) {
    // Every case at every position of a block of lanes and of the tail.
    for (std::size_t c = 0; c < cases.size(); ++c) {
      for (std::size_t n = 1; n <= 9; ++n) {
        const DistanceCase& t = cases[c];
        std::vector<double> y[3], ln_f[3];
        scan::Columns columns;
        columns.species = t.species;
        for (int a = 0; a < t.species; ++a) {
          y[a].assign(n, t.y[a]);
          ln_f[a].assign(n, t.ln_f[a]);
          columns.y[a] = y[a].data();
          columns.ln_f[a] = ln_f[a].data();
          columns.d[a] = t.d[a];
        }
        std::vector<double> tpd(n, kNaN);
        loops.distances(columns, n, tpd.data());
        for (std::size_t k = 0; k < n; ++k) {
          EXPECT_EQ(tpd[k], t.tpd) << loops.name << " case " << c << " n " << n << " at " << k;
        }
      }
    }
  }
}

TEST(GridScan, DistancesInLanesHaveTheScalarBits) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> fraction(1e-9, 1.0), ln_f(-40.0, 10.0);
  for (int species : {2, 3}) {
    for (std::size_t n : {0, 1, 3, 4, 5, 63, 64, 2518}) {
      std::vector<double> y[3], l[3];
      scan::Columns columns;
      columns.species = species;
      for (int a = 0; a < species; ++a) {
        y[a].resize(n);
        l[a].resize(n);
        for (std::size_t k = 0; k < n; ++k) {
          y[a][k] = fraction(random);
          // Points that are not valid carry +infinity.
          l[a][k] = k % 17 == 5 ? kInf : ln_f(random);
        }
        columns.y[a] = y[a].data();
        columns.ln_f[a] = l[a].data();
        columns.d[a] = ln_f(random);
      }
      std::vector<double> scalar(n), lanes(n);
      scan::DistancesScalar(columns, n, scalar.data());
      for (const Loops& loops : AvailableLoops()) {
        loops.distances(columns, n, lanes.data());
        for (std::size_t k = 0; k < n; ++k) {
          ASSERT_EQ(Bits(lanes[k]), Bits(scalar[k])) << loops.name << " n " << n << " at " << k;
        }
      }
    }
  }
}

// Whole flashes on random feeds, with the batch's loops switched: the scan in
// lanes leaves every bit of every answer as the scalar scan gives it.
TEST(GridScan, FlashesOnEveryLoopHaveTheScalarBits) {
  const batch::SimdPath previous = batch::ActiveSimdPath();
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> x_CO2(0.005, 0.9), wt(0.0, 30.0);
  std::vector<Composition> feeds;
  for (int k = 0; k < 40; ++k) feeds.push_back(CompositionFromSalinity(x_CO2(random), wt(random)));
  auto flashes = [&](batch::SimdPath path) {
    EXPECT_TRUE(batch::SelectSimdPath(path));
    std::vector<FlashResult> results;
    for (double T_C : {380.0, 450.0, 560.0}) {
      const EquilibriumConditions c(KelvinFromCelsius(T_C), 1500.0 / 1.01325);
      for (const Composition& z : feeds) results.push_back(c.Flash(z));
    }
    return results;
  };
  const std::vector<FlashResult> scalar = flashes(batch::SimdPath::kScalar);
  for (batch::SimdPath path : {batch::SimdPath::kAvx2, batch::SimdPath::kAvx512}) {
    if (!batch::Supports(path)) continue;
    const std::vector<FlashResult> lanes = flashes(path);
    for (std::size_t i = 0; i < scalar.size(); ++i) {
      const FlashResult &a = scalar[i], &b = lanes[i];
      ASSERT_EQ(a.status, b.status) << i;
      EXPECT_EQ(a.evaluations, b.evaluations) << i;
      EXPECT_EQ(Bits(a.tpd_min), Bits(b.tpd_min)) << i;
      EXPECT_EQ(Bits(a.beta), Bits(b.beta)) << i;
      EXPECT_EQ(Bits(a.brine.x.x_CO2), Bits(b.brine.x.x_CO2)) << i;
      EXPECT_EQ(Bits(a.co2_rich.x.x_NaCl), Bits(b.co2_rich.x.x_NaCl)) << i;
      EXPECT_EQ(Bits(a.certificate.min_tpd), Bits(b.certificate.min_tpd)) << i;
    }
  }
  batch::SelectSimdPath(previous);
}

}  // namespace
}  // namespace quarn
