// Densities, isochores and activities: the worked a and b, isochores of three
// fluids against the pressures of an independent study, the method's volume
// given back at an isochore's pressure, the flags where their conditions hold,
// activities against the study's values, and the batch forms.
#include "quarn/fluid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "quarn/eos.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn {
namespace {

TEST(MixtureParameters, WorkedExamples) {
  struct {
    Composition x;
    double a, b;
  } const cases[] = {
      {{0.3, 0.6, 0.1}, 79861281.75343463, 18.04410263624748},
      {{0.5, 0.5, 0.0}, 75982655.45321985, 22.15},
  };
  for (const auto& c : cases) {
    const RedlichKwongParameters p = Conditions(773.15, 1973.8465334320256).MixtureParameters(c.x);
    EXPECT_EQ(p.a, c.a);
    EXPECT_EQ(p.b, c.b);
    EXPECT_FALSE(p.fault);
  }
  // Pure CO2: b is CO2's co-volume, whatever the pressure of the conditions.
  EXPECT_EQ(Conditions(773.15, -5.0).MixtureParameters({1.0, 0.0, 0.0}).b, 29.7);
}

TEST(MassDensity, StandardMolarMasses) {
  EXPECT_EQ(MolarMass({0.0, 1.0, 0.0}), 18.01528);
  EXPECT_DOUBLE_EQ(MassDensity({0.5, 0.5, 0.0}, 31.01239), 1.0);  // (44.0095 + 18.01528) / 2
  EXPECT_DOUBLE_EQ(MolarVolumeFromDensity({0.0, 0.9, 0.1}, 0.5), 2.0 * (0.9 * 18.01528 + 5.844277));
}

// Isochores through 400 C and 1000 bar, in bar at 350, 400, ..., 600 C, from a
// study of the model outside the project (to 0.1 bar).
TEST(IsochorePressure, ThreeFluidsAgainstAnIndependentStudy) {
  struct {
    Composition x;
    double V0, rho0;
    double P_bar[6];
  } const cases[] = {
      {CompositionFromSalinity(0.1, 6.0),
       30.0157,
       0.7102,
       {559.0, 1000.0, 1424.8, 1832.2, 2222.2, 2596.6}},
      {{0.0, 1.0, 0.0}, 24.7926, 0.7266, {389.2, 1000.0, 1580.8, 2139.4, 2681.0, 3209.1}},
      {{0.5, 0.5, 0.0}, 53.7860, 0.5766, {811.0, 1000.0, 1180.7, 1353.9, 1520.2, 1680.8}},
  };
  for (const auto& c : cases) {
    const Evaluation start = Evaluate(KelvinFromCelsius(400.0), AtmFromBar(1000.0), c.x);
    const double V0 = start.result.V_cm3_per_mol;
    EXPECT_NEAR(V0, c.V0, 5e-5);
    EXPECT_NEAR(MassDensity(c.x, V0), c.rho0, 5e-5);
    for (int k = 0; k < 6; ++k) {
      const IsochorePoint p = IsochorePressure(KelvinFromCelsius(350.0 + 50.0 * k), c.x, V0);
      EXPECT_NEAR(p.P_bar, c.P_bar[k], 0.051) << k;
      EXPECT_EQ(p.flags, p.P_bar < 500.0 ? kIsochoreBelow500Bar : 0u) << k;
    }
  }
}

// Random one-phase-range states: the method's volume at (T0, P0), the
// isochore's pressure at another temperature, and the method there gives the
// volume back to the bit; at T0 the pressure is P0 to rounding.
TEST(IsochorePressure, GivesTheMethodsVolumeBackBitForBit) {
  std::mt19937_64 engine(71);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int checked = 0;
  for (int i = 0; i < 3000; ++i) {
    const double T0 = KelvinFromCelsius(350.0 + 250.0 * unit(engine));
    const double P0 = AtmFromBar(500.0 + 5500.0 * unit(engine));
    const double x_CO2 = unit(engine);
    const Composition x = CompositionFromSalinity(x_CO2, 40.0 * unit(engine));
    const double V0 = Evaluate(T0, P0, x).result.V_cm3_per_mol;
    const IsochorePoint at_start = IsochorePressure(T0, x, V0);
    // V0 carries single precision: P0 within what a V off by 2^-24 moves.
    EXPECT_NEAR(at_start.P_atm, P0, std::fabs(at_start.dP_dV) * V0 * 0x1p-23 + 1e-12 * P0);
    const double T = KelvinFromCelsius(350.0 + 250.0 * unit(engine));
    const IsochorePoint p = IsochorePressure(T, x, V0);
    if (p.flags != 0) continue;
    ++checked;
    EXPECT_EQ(Evaluate(T, p.P_atm, x).result.V_cm3_per_mol, V0) << i;
  }
  EXPECT_GT(checked, 2000);
}

// Pure water at 350 C: the volume of the liquid-like root at a low pressure,
// a volume inside the van der Waals loop, and a volume under the co-volume.
TEST(IsochorePressure, FlagsWhereTheirConditionsHold) {
  const double T = KelvinFromCelsius(350.0);
  const Composition water{0.0, 1.0, 0.0};
  const RedlichKwongParameters rk = Conditions(T, 1.0).MixtureParameters(water);
  // Scan the volumes: each flag against its own condition, worked out here
  // from the cubic's roots by bisection rather than the deflation used inside.
  int unstable = 0, not_largest = 0, low = 0;
  for (double V = rk.b * 1.01; V < 400.0; V *= 1.01) {
    const IsochorePoint p = IsochorePressure(T, water, V);
    auto pressure = [&](double v) {
      return 82.05 * T / (v - rk.b) - rk.a / (std::sqrt(T) * v * (v + rk.b));
    };
    // Another root above V: the pressure curve comes back to P beyond V.
    bool larger = !(p.P_atm > 0.0);
    for (double v = V * 1.0001; v < 1e5 && !larger; v *= 1.0001) larger = pressure(v) > p.P_atm;
    const double h = V * 1e-7;
    const bool rising = (pressure(V + h) - pressure(V - h)) / (2.0 * h) >= 0.0;
    EXPECT_EQ((p.flags & kIsochoreNotLargestRoot) != 0, larger) << V;
    EXPECT_EQ((p.flags & kIsochoreMechanicallyUnstable) != 0, rising) << V;
    EXPECT_EQ((p.flags & kIsochoreBelow500Bar) != 0, p.P_bar < 500.0) << V;
    unstable += rising;
    not_largest += larger;
    low += p.P_bar < 500.0;
  }
  EXPECT_GT(unstable, 5);
  EXPECT_GT(not_largest, unstable);
  EXPECT_GT(low, not_largest);
  // At the co-volume the pressure is infinite, under it negative: no volume
  // of the method either way.
  EXPECT_TRUE(IsochorePressure(T, water, rk.b).flags & kIsochoreNotLargestRoot);
  EXPECT_TRUE(IsochorePressure(T, water, 0.9 * rk.b).flags & kIsochoreNotLargestRoot);
}

// Activities at 500 C and 2000 bar, from the same study (to 1e-4).
TEST(Activities, AgainstAnIndependentStudy) {
  struct {
    Composition x;
    double a_H2O, a_CO2;
  } const cases[] = {
      {{0.1, 0.9, 0.0}, 0.9251, 0.2434},
      {CompositionFromSalinity(0.01, 10.0), 0.9508, 0.0728},
  };
  for (const auto& c : cases) {
    const Activities a = ActivitiesAt(773.15, AtmFromBar(2000.0), c.x);
    EXPECT_NEAR(a.a_H2O, c.a_H2O, 5e-5);
    EXPECT_NEAR(a.a_CO2, c.a_CO2, 5e-5);
    EXPECT_FALSE(a.fault);
  }
}

// The pure fluids are their own references, and NaCl at infinite dilution.
TEST(Activities, PureFluidsAndTheNaClReference) {
  const double T = 773.15, P = AtmFromBar(2000.0);
  EXPECT_EQ(ActivitiesAt(T, P, {0.0, 1.0, 0.0}).a_H2O, 1.0);
  EXPECT_EQ(ActivitiesAt(T, P, {1.0, 0.0, 0.0}).a_CO2, 1.0);
  const Activities trace = ActivitiesAt(T, P, {0.0, 1.0 - 1e-9, 1e-9});
  EXPECT_NEAR(trace.gamma_NaCl, 1.0, 1e-8);
  const Composition brine = CompositionFromSalinity(0.0, 30.0);
  const Activities a = ActivitiesAt(T, P, brine);
  EXPECT_EQ(a.a_NaCl, brine.x_NaCl * a.gamma_NaCl);
  EXPECT_GT(a.gamma_NaCl, 1.0);
}

TEST(FluidBatch, PointsAreTheSingleCallsAndBadLengthsComputeNothing) {
  std::mt19937_64 engine(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::size_t n = 1500;
  std::vector<double> T(n), x_CO2(n), x_H2O(n), x_NaCl(n), V(n);
  for (std::size_t i = 0; i < n; ++i) {
    T[i] = KelvinFromCelsius(350.0 + 250.0 * unit(engine));
    const Composition x = CompositionFromSalinity(unit(engine), 30.0 * unit(engine));
    x_CO2[i] = x.x_CO2;
    x_H2O[i] = x.x_H2O;
    x_NaCl[i] = x.x_NaCl;
    V[i] = 20.0 + 60.0 * unit(engine);
  }
  const std::vector<double> P{AtmFromBar(1500.0)};
  std::vector<IsochorePoint> points(n);
  std::vector<Activities> activities(n);
  ASSERT_TRUE(IsochoreBatch(T, x_CO2, x_H2O, x_NaCl, V, points, 3));
  ASSERT_TRUE(ActivitiesBatch(T, P, x_CO2, x_H2O, x_NaCl, activities, 3));
  for (std::size_t i = 0; i < n; i += 37) {
    const Composition x{x_CO2[i], x_H2O[i], x_NaCl[i]};
    const IsochorePoint p = IsochorePressure(T[i], x, V[i]);
    EXPECT_EQ(points[i].P_atm, p.P_atm);
    EXPECT_EQ(points[i].flags, p.flags);
    const Activities a = ActivitiesAt(T[i], P[0], x);
    EXPECT_EQ(activities[i].a_H2O, a.a_H2O);
    EXPECT_EQ(activities[i].gamma_NaCl, a.gamma_NaCl);
  }
  std::vector<IsochorePoint> short_points(n - 1);
  EXPECT_FALSE(IsochoreBatch(T, x_CO2, x_H2O, x_NaCl, V, short_points));
}

}  // namespace
}  // namespace quarn

namespace quarn {
namespace {

Stability VerdictAt(double T_K, double P_atm, const Composition& x) {
  return EquilibriumConditions(T_K, P_atm).TestStability(x).verdict;
}

// The study's fluid (x_CO2 0.1 in a 6 wt% solvent) at 400 C: one phase from
// 511.5 to 4170.1 bar. (The study put the first at 500.4 bar, where one
// incipient phase's tpd crosses zero; another keeps the fluid unstable to
// 511.5 bar.) Each boundary is checked against the test's own verdicts half a
// bar either side.
TEST(PhaseBoundaries, AlongPressureOfTheStudysFluid) {
  const Composition x = CompositionFromSalinity(0.1, 6.0);
  const double T = KelvinFromCelsius(400.0);
  const PhaseBoundaries r = BoundariesAlongPressure(T, x, AtmFromBar(450.0), AtmFromBar(6000.0));
  ASSERT_EQ(r.count, 2);
  const double expected_bar[] = {511.5, 4170.1};
  const bool one_phase_above[] = {true, false};
  for (int k = 0; k < 2; ++k) {
    const PhaseBoundary& b = r.boundaries[k];
    EXPECT_NEAR(b.P_atm * 1.01325, expected_bar[k], 0.3);
    EXPECT_EQ(b.one_phase_above, one_phase_above[k]);
    EXPECT_LE(b.bracket, AtmFromBar(0.01));
    const double sign = b.one_phase_above ? 1.0 : -1.0;
    EXPECT_EQ(VerdictAt(T, b.P_atm + sign * AtmFromBar(0.5), x), Stability::kStable);
    EXPECT_EQ(VerdictAt(T, b.P_atm - sign * AtmFromBar(0.5), x), Stability::kUnstable);
    EXPECT_GT(SalinityWt(b.incipient) + b.incipient.x_CO2, 0.0);
  }
  EXPECT_EQ(r.first, Stability::kUnstable);
  EXPECT_EQ(r.last, Stability::kUnstable);
  EXPECT_FALSE(r.more);
}

// Random fluids against a dense scan of our own (every 10 bar): each change
// of verdict in it has exactly one boundary in its 10-bar interval, and every
// boundary lies in such an interval.
TEST(PhaseBoundaries, EveryChangeOfADenseScanAndNoOther) {
  std::mt19937_64 engine(37);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int changes = 0;
  for (int fluid = 0; fluid < 4; ++fluid) {
    const double T = KelvinFromCelsius(380.0 + 200.0 * unit(engine));
    const Composition x = CompositionFromSalinity(0.02 + 0.3 * unit(engine), 25.0 * unit(engine));
    const PhaseBoundaries r = BoundariesAlongPressure(T, x, AtmFromBar(500.0), AtmFromBar(4000.0));
    std::vector<double> dense_changes_bar;
    Stability previous = VerdictAt(T, AtmFromBar(500.0), x);
    for (double P_bar = 510.0; P_bar <= 4000.0; P_bar += 10.0) {
      const Stability v = VerdictAt(T, AtmFromBar(P_bar), x);
      if (v != previous) dense_changes_bar.push_back(P_bar - 10.0);
      previous = v;
    }
    changes += static_cast<int>(dense_changes_bar.size());
    ASSERT_EQ(r.count, static_cast<int>(dense_changes_bar.size())) << fluid;
    for (int k = 0; k < r.count; ++k) {
      const double P_bar = r.boundaries[k].P_atm * 1.01325;
      EXPECT_GE(P_bar, dense_changes_bar[k] - 1.0) << fluid;
      EXPECT_LE(P_bar, dense_changes_bar[k] + 11.0) << fluid;
    }
  }
  EXPECT_GE(changes, 2);
}

TEST(PhaseBoundaries, NoneWhereTheVerdictNeverChangesAndNothingForABadRange) {
  const Composition water{0.0, 1.0, 0.0};
  const PhaseBoundaries r =
      BoundariesAlongPressure(773.15, water, AtmFromBar(500.0), AtmFromBar(6000.0));
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.first, Stability::kStable);
  EXPECT_EQ(r.last, Stability::kStable);
  EXPECT_EQ(r.stability_tests, 111);
  const PhaseBoundaries reversed = BoundariesAlongPressure(773.15, water, 2000.0, 1000.0);
  EXPECT_EQ(reversed.stability_tests, 0);
  EXPECT_EQ(reversed.first, Stability::kUndecided);
  const PhaseBoundaries tiny_step =
      BoundariesAlongPressure(773.15, water, 500.0, 6000.0, {.step = 1e-6});
  EXPECT_EQ(tiny_step.stability_tests, 0);
}

// The study's isochore (x_CO2 0.1 in 6 wt%, through 400 C and 1000 bar) is in
// two phases at 350, 500 and 550 C and one phase at 400, 450 and 600 C: it
// homogenizes on heating below 400 C, unmixes again, and homogenizes for good
// below 600 C.
TEST(PhaseBoundaries, AlongTheStudysIsochore) {
  const Composition x = CompositionFromSalinity(0.1, 6.0);
  const double V0 = Evaluate(KelvinFromCelsius(400.0), AtmFromBar(1000.0), x).result.V_cm3_per_mol;
  const PhaseBoundaries r =
      BoundariesAlongIsochore(x, V0, KelvinFromCelsius(350.0), KelvinFromCelsius(600.0));
  ASSERT_EQ(r.count, 3);
  const bool one_phase_above[] = {true, false, true};
  for (int k = 0; k < 3; ++k) {
    const PhaseBoundary& b = r.boundaries[k];
    EXPECT_EQ(b.one_phase_above, one_phase_above[k]);
    EXPECT_EQ(b.V_cm3_per_mol, V0);
    const double sign = b.one_phase_above ? 1.0 : -1.0;
    for (double side : {1.0, -1.0}) {
      const double T = b.T_K + side * sign * 0.05;
      const IsochorePoint p = IsochorePressure(T, x, V0);
      EXPECT_EQ(VerdictAt(T, p.P_atm, x), side > 0 ? Stability::kStable : Stability::kUnstable);
    }
  }
  const double low_C[] = {350.0, 450.0, 550.0};
  for (int k = 0; k < 3; ++k) {
    EXPECT_GT(r.boundaries[k].T_K, KelvinFromCelsius(low_C[k]));
    EXPECT_LT(r.boundaries[k].T_K, KelvinFromCelsius(low_C[k] + 50.0));
  }
}

}  // namespace
}  // namespace quarn
