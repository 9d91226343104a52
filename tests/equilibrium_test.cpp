// Phase equilibria: the worked equilibrium and an independent high-precision
// one, the certificates re-checked here from the equation of state alone (equal
// fugacities with the report-exact method, mass balance, a dense trial grid of
// our own under the tangent plane), the salt-free limit, the lever rule, the
// one-phase limit as a saturation point, and bad input.
#include "quarn/equilibrium.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "quarn/eos.hpp"

namespace quarn {
namespace {

double T_K_of(double T_C) {
  return KelvinFromCelsius(T_C);
}
double P_atm_of(double P_bar) {
  return AtmFromBar(P_bar);
}

std::array<double, 3> Fractions(const Composition& x) {
  return {x.x_CO2, x.x_H2O, x.x_NaCl};
}

// ln f_i / P of a phase with the report-exact (or unrounded) method.
std::array<double, 3> LnFugacity(double T_K, double P_atm, const Composition& x,
                                 Method method = Method::kReportExact) {
  const Evaluation e = Evaluate(T_K, P_atm, x, method);
  const auto y = Fractions(x);
  std::array<double, 3> ln_f{};
  for (int i = 0; i < 3; ++i) ln_f[i] = y[i] > 0.0 ? std::log(y[i]) + e.result.ln_phi[i] : 0.0;
  return ln_f;
}

// The lowest tangent-plane distance from the plane mu over a trial grid of our
// own: x_CO2 evenly in a logit, salinity evenly up to the cap, unrounded method.
double LowestDistance(double T_K, double P_atm, const std::array<double, 3>& mu, bool salt,
                      double cap_wt = 50.0) {
  double lowest = INFINITY;
  const int salinities = salt ? 70 : 1;
  for (int k = 0; k < salinities; ++k) {
    const double W = salt ? 0.005 + (cap_wt - 0.005) * std::pow(k / 69.0, 1.5) : 0.0;
    for (int j = 0; j < 150; ++j) {
      const double t = -9.5 + 19.0 * (j + 0.37) / 150.0;
      const Composition y = CompositionFromSalinity(1.0 / (1.0 + std::exp(-t)), W);
      const auto ln_f = LnFugacity(T_K, P_atm, y, Method::kUnrounded);
      const auto f = Fractions(y);
      double tpd = 0.0;
      for (int i = 0; i < 3; ++i) tpd += f[i] > 0.0 ? f[i] * (ln_f[i] - mu[i]) : 0.0;
      lowest = std::min(lowest, tpd);
    }
  }
  return lowest;
}

// Every check a two-phase answer must pass, made here from the equation of
// state alone.
void ExpectCertified(double T_C, double P_bar, const Composition& z, const FlashResult& r) {
  const double T_K = T_K_of(T_C), P_atm = P_atm_of(P_bar);
  SCOPED_TRACE(testing::Message() << T_C << " C " << P_bar << " bar feed (" << z.x_CO2 << ", "
                                  << z.x_H2O << ", " << z.x_NaCl << ")");
  ASSERT_EQ(r.phases, 2);
  EXPECT_GT(r.beta, 0.0);
  EXPECT_LT(r.beta, 1.0);
  const auto a = LnFugacity(T_K, P_atm, r.brine.x);
  const auto b = LnFugacity(T_K, P_atm, r.co2_rich.x);
  const auto x = Fractions(r.brine.x), y = Fractions(r.co2_rich.x), f = Fractions(z);
  double distinct = 0.0;
  for (int i = 0; i < 3; ++i) {
    if (f[i] > 0.0) {
      EXPECT_LT(std::fabs(a[i] - b[i]), 1e-5) << "species " << i;
    }
    EXPECT_LT(std::fabs(r.beta * y[i] + (1.0 - r.beta) * x[i] - f[i]), 1e-9) << "species " << i;
    distinct = std::max(distinct, std::fabs(x[i] - y[i]));
  }
  EXPECT_GT(distinct, 1e-3);
  EXPECT_LT(r.certificate.delta_G_RT, 0.0);
  std::array<double, 3> mu{};
  for (int i = 0; i < 3; ++i) mu[i] = 0.5 * (a[i] + b[i]);
  EXPECT_GT(LowestDistance(T_K, P_atm, mu, z.x_NaCl > 0.0), -1e-6);
}

TEST(Equilibrium, WorkedEquilibriumOfTheBrineAndTheCO2RichFluid) {
  const Composition z = CompositionFromSalinity(0.2, 20.0);
  const EquilibriumConditions c(T_K_of(400.0), P_atm_of(2000.0));
  const FlashResult r = c.Flash(z);
  ASSERT_EQ(r.status, FlashStatus::kBrineAndCO2Rich) << UndecidedName(r.undecided);
  EXPECT_NEAR(r.brine.x.x_CO2, 0.0133, 3e-3);
  EXPECT_NEAR(r.brine.wt_NaCl, 32.7, 0.5);
  EXPECT_NEAR(r.co2_rich.x.x_CO2, 0.3365, 3e-3);
  EXPECT_NEAR(r.co2_rich.wt_NaCl, 2.41, 0.5);
  EXPECT_NEAR(r.beta, 0.578, 2e-3);
  EXPECT_NEAR(r.beta * r.co2_rich.x.x_NaCl / z.x_NaCl, 0.050, 2e-3);  // NaCl in the CO2-rich fluid
  EXPECT_NEAR(r.certificate.delta_G_RT, -0.057, 1e-3);
  EXPECT_LT(r.certificate.max_delta_ln_f_unrounded, 1e-8);
  EXPECT_GE(r.certificate.min_tpd, -1e-9);
  EXPECT_LE(r.evaluations + c.grid_evaluations(), 5000);
  ExpectCertified(400.0, 2000.0, z, r);
}

TEST(Equilibrium, AgreesWithTheHighPrecisionReference) {
  // tools/equilibrium_reference.py: the unrounded model in 40-digit arithmetic
  // and mpmath's root finder.
  constexpr double kBeta = 0.57758975470074142;
  constexpr std::array<double, 3> kCO2Rich = {0.33650711409540397, 0.65848980124751434,
                                              0.0050030846570816966};
  constexpr std::array<double, 3> kBrine = {0.013344701217149012, 0.85799476012481685,
                                            0.12866053865803414};
  const FlashResult r = EquilibriumConditions(T_K_of(400.0), P_atm_of(2000.0))
                            .Flash(CompositionFromSalinity(0.2, 20.0));
  ASSERT_EQ(r.phases, 2);
  EXPECT_NEAR(r.beta, kBeta, 1e-8);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(Fractions(r.co2_rich.x)[i], kCO2Rich[i], 1e-9 + 1e-7 * kCO2Rich[i]) << i;
    EXPECT_NEAR(Fractions(r.brine.x)[i], kBrine[i], 1e-9 + 1e-7 * kBrine[i]) << i;
  }
}

TEST(Equilibrium, RandomFeedsAreCertifiedAndRarelyUndecided) {
  std::mt19937_64 engine(20261207);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int feeds = 300;
  int undecided = 0, certified = 0, stable = 0;
  for (int k = 0; k < feeds; ++k) {
    const double T_C = 350.0 + 250.0 * unit(engine), P_bar = 500.0 + 4500.0 * unit(engine);
    const Composition z = CompositionFromSalinity(0.02 + 0.68 * unit(engine), 30.0 * unit(engine));
    const FlashResult r = EquilibriumConditions(T_K_of(T_C), P_atm_of(P_bar)).Flash(z);
    if (r.phases == 0) {
      ++undecided;
    } else if (r.phases == 2) {
      ++certified;
      if (k % 10 == 0) ExpectCertified(T_C, P_bar, z, r);  // the dense grid is slow
    } else if (++stable % 3 == 0) {
      EXPECT_GT(
          LowestDistance(T_K_of(T_C), P_atm_of(P_bar),
                         LnFugacity(T_K_of(T_C), P_atm_of(P_bar), z, Method::kUnrounded), true),
          -1e-6)
          << T_C << " C " << P_bar << " bar";
    }
  }
  EXPECT_LT(undecided, feeds / 20);
  EXPECT_GT(certified, feeds / 2);  // most such fluids unmix: the one-phase field is small
  EXPECT_GT(stable, 0);
}

TEST(Equilibrium, SaltSplitIsNamedAsSuch) {
  const Composition z = CompositionFromSalinity(0.56, 15.0);
  const FlashResult r = EquilibriumConditions(T_K_of(568.0), P_atm_of(1230.0)).Flash(z);
  ASSERT_EQ(r.status, FlashStatus::kSaltSplit) << FlashStatusName(r.status);
  EXPECT_LT(std::fabs(r.brine.x.x_CO2 - r.co2_rich.x.x_CO2), 0.05);
  EXPECT_GT(r.brine.wt_NaCl, 20.0);
  EXPECT_LT(r.co2_rich.wt_NaCl, 2.0);
  ExpectCertified(568.0, 1230.0, z, r);
}

// The model's H2O-CO2 binary is one phase over its stated range; it splits at
// lower temperatures.
constexpr double kBinaryT_C = 250.0, kBinaryP_bar = 500.0;

TEST(Equilibrium, SaltFreeFeedsSplitIntoSaltFreePhases) {
  const EquilibriumConditions c(T_K_of(kBinaryT_C), P_atm_of(kBinaryP_bar));
  const Composition z = {0.3, 0.7, 0.0};
  const FlashResult r = c.Flash(z);
  ASSERT_EQ(r.status, FlashStatus::kBrineAndCO2Rich) << UndecidedName(r.undecided);
  EXPECT_EQ(r.brine.x.x_NaCl, 0.0);
  EXPECT_EQ(r.co2_rich.x.x_NaCl, 0.0);
  EXPECT_EQ(r.brine.wt_NaCl, 0.0);
  ExpectCertified(kBinaryT_C, kBinaryP_bar, z, r);
  // A trace of salt barely moves the phases: the ternary flash meets the binary
  // (with trial phases below 10 wt%: this far below the stated range the
  // model's salty brines run away).
  const EquilibriumConditions capped(T_K_of(kBinaryT_C), P_atm_of(kBinaryP_bar),
                                     {.salinity_cap_wt = 10.0});
  const FlashResult salted = capped.Flash(CompositionFromSalinity(0.3, 1e-3));
  ASSERT_EQ(salted.phases, 2);
  EXPECT_NEAR(salted.brine.x.x_CO2, r.brine.x.x_CO2, 1e-3);
  EXPECT_NEAR(salted.co2_rich.x.x_CO2, r.co2_rich.x.x_CO2, 1e-3);
  EXPECT_NEAR(salted.beta, r.beta, 1e-3);
}

TEST(Equilibrium, FeedsAlongOneTieLineGiveItsPhases) {
  const EquilibriumConditions c(T_K_of(400.0), P_atm_of(2000.0));
  const FlashResult r = c.Flash(CompositionFromSalinity(0.2, 20.0));
  ASSERT_EQ(r.phases, 2);
  const auto x = Fractions(r.brine.x), y = Fractions(r.co2_rich.x);
  for (double share : {0.15, 0.4, 0.85}) {
    const Composition z = {(1 - share) * x[0] + share * y[0], (1 - share) * x[1] + share * y[1],
                           (1 - share) * x[2] + share * y[2]};
    for (const FlashResult& s : {c.Flash(z), c.Flash(z, r)}) {
      ASSERT_EQ(s.phases, 2) << share;
      EXPECT_NEAR(s.beta, share, 1e-6);
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(Fractions(s.brine.x)[i], x[i], 1e-7);
        EXPECT_NEAR(Fractions(s.co2_rich.x)[i], y[i], 1e-7);
      }
    }
  }
}

TEST(Equilibrium, WarmFlashIsCheapAndAgreesWithTheColdOne) {
  const EquilibriumConditions c(T_K_of(450.0), P_atm_of(2500.0));
  FlashResult near = c.Flash(CompositionFromSalinity(0.3, 10.0));
  ASSERT_EQ(near.phases, 2);
  for (double x_CO2 : {0.31, 0.33, 0.36}) {
    const Composition z = CompositionFromSalinity(x_CO2, 10.5);
    const FlashResult warm = c.Flash(z, near);
    const FlashResult cold = c.Flash(z);
    ASSERT_EQ(warm.phases, 2);
    EXPECT_LE(warm.evaluations, 120);
    EXPECT_NEAR(warm.beta, cold.beta, 1e-7);
    EXPECT_NEAR(warm.brine.x.x_CO2, cold.brine.x.x_CO2, 1e-7);
    EXPECT_NEAR(warm.co2_rich.wt_NaCl, cold.co2_rich.wt_NaCl, 1e-5);
    near = warm;
  }
}

TEST(Equilibrium, OnePhaseLimitIsASaturationPoint) {
  // The incipient phase at the limit lies on the feed's tangent plane with
  // equal fugacities: checked with the equation of state alone.
  struct Row {
    double T_C, wt_NaCl, lowest, highest;
  };
  // At 2 kbar: a 6 wt% solvent unmixes from x_CO2 about 0.09-0.15, a 20 wt%
  // solvent from about 0.026-0.05.
  for (const Row& row : {Row{350, 6, 0.08, 0.16}, Row{500, 6, 0.08, 0.16}, Row{600, 6, 0.08, 0.16},
                         Row{400, 20, 0.02, 0.055}, Row{500, 20, 0.02, 0.055}}) {
    const double T_K = T_K_of(row.T_C), P_atm = P_atm_of(2000.0);
    const OnePhaseLimit limit = EquilibriumConditions(T_K, P_atm).OnePhaseLimitAt(row.wt_NaCl);
    ASSERT_EQ(limit.status, LimitStatus::kFound) << row.T_C;
    EXPECT_GT(limit.x_CO2, row.lowest) << row.T_C << " C " << row.wt_NaCl << " wt%";
    EXPECT_LT(limit.x_CO2, row.highest) << row.T_C << " C " << row.wt_NaCl << " wt%";
    EXPECT_LE(limit.x_CO2_tolerance, 1e-6);
    const auto feed = LnFugacity(T_K, P_atm, CompositionFromSalinity(limit.x_CO2, row.wt_NaCl),
                                 Method::kUnrounded);
    const auto incipient = LnFugacity(T_K, P_atm, limit.incipient, Method::kUnrounded);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(incipient[i], feed[i], 2e-3) << row.T_C << " " << i;
  }
}

TEST(Equilibrium, StabilityAgreesWithTheFlash) {
  const EquilibriumConditions c(T_K_of(400.0), P_atm_of(2000.0));
  const StabilityResult unstable = c.TestStability(CompositionFromSalinity(0.2, 20.0));
  EXPECT_EQ(unstable.verdict, Stability::kUnstable);
  EXPECT_LT(unstable.tpd_min, -0.01);
  EXPECT_LE(SalinityWt(unstable.trial), 50.0 + 1e-9);
  const StabilityResult stable = c.TestStability(CompositionFromSalinity(0.01, 20.0));
  EXPECT_EQ(stable.verdict, Stability::kStable);
  EXPECT_GE(stable.tpd_min, -1e-9);
  EXPECT_EQ(c.Flash(CompositionFromSalinity(0.01, 20.0)).status, FlashStatus::kOnePhase);
}

TEST(Equilibrium, BadFeedsAndStatesAreAnsweredNotRefused) {
  const EquilibriumConditions c(T_K_of(400.0), P_atm_of(2000.0));
  struct Row {
    Composition feed;
    Undecided reason;
  };
  for (const Row& row : {Row{{-0.1, 0.9, 0.2}, Undecided::kInvalidFeed},
                         Row{{NAN, 0.9, 0.1}, Undecided::kInvalidFeed},
                         Row{{0.0, 0.0, 0.0}, Undecided::kInvalidFeed},
                         Row{CompositionFromSalinity(0.2, 60.0), Undecided::kFeedBeyondCap},
                         Row{{0.5, 0.0, 0.5}, Undecided::kFeedBeyondCap}}) {
    const FlashResult r = c.Flash(row.feed);
    EXPECT_EQ(r.status, FlashStatus::kUndecided);
    EXPECT_EQ(r.undecided, row.reason) << UndecidedName(r.undecided);
    EXPECT_EQ(r.phases, 0);
  }
  // Pure species are one phase; a feed in percent is scaled and flagged.
  EXPECT_EQ(c.Flash({1.0, 0.0, 0.0}).status, FlashStatus::kOnePhase);
  EXPECT_EQ(c.Flash({0.0, 1.0, 0.0}).status, FlashStatus::kOnePhase);
  const FlashResult percent = c.Flash({20.0, 72.0, 8.0});
  EXPECT_TRUE(percent.domain & kFeedNormalised);
  EXPECT_NE(percent.status, FlashStatus::kUndecided);
  // Out of the stated range: computed, flagged.
  const FlashResult cold =
      EquilibriumConditions(T_K_of(300.0), P_atm_of(400.0)).Flash({0.2, 0.7, 0.1});
  EXPECT_TRUE(cold.domain & kTemperatureOutsideRange);
  EXPECT_TRUE(cold.domain & kPressureOutsideRange);
  // A cap outside (0, 100) leaves nothing to decide.
  const EquilibriumConditions no_cap(T_K_of(400.0), P_atm_of(2000.0), {.salinity_cap_wt = 120.0});
  EXPECT_FALSE(no_cap.valid());
  EXPECT_EQ(no_cap.Flash(CompositionFromSalinity(0.2, 20.0)).status, FlashStatus::kUndecided);
  EXPECT_EQ(no_cap.OnePhaseLimitAt(20.0).status, LimitStatus::kUndecided);
}

TEST(Equilibrium, BatchEqualsSingleCallsOnAnyThreadCount) {
  const std::vector<double> T_K = {T_K_of(400.0), T_K_of(400.0), T_K_of(500.0), T_K_of(550.0)};
  const std::vector<double> P_atm = {P_atm_of(2000.0)};
  const std::vector<double> x_CO2 = {0.2, 0.01, 0.3, 0.5};
  std::vector<double> x_H2O, x_NaCl;
  for (double x : x_CO2) {
    const Composition c = CompositionFromSalinity(x, 20.0);
    x_H2O.push_back(c.x_H2O);
    x_NaCl.push_back(c.x_NaCl);
  }
  for (unsigned threads : {1u, 3u}) {
    std::vector<FlashResult> flashes(4);
    ASSERT_TRUE(FlashBatch(T_K, P_atm, x_CO2, x_H2O, x_NaCl, flashes, {}, threads));
    std::vector<StabilityResult> tests(4);
    ASSERT_TRUE(StabilityBatch(T_K, P_atm, x_CO2, x_H2O, x_NaCl, tests, {}, threads));
    for (std::size_t i = 0; i < 4; ++i) {
      const EquilibriumConditions c(T_K[i], P_atm[0]);
      const FlashResult single = c.Flash({x_CO2[i], x_H2O[i], x_NaCl[i]});
      EXPECT_EQ(flashes[i].status, single.status);
      EXPECT_EQ(flashes[i].brine.x.x_CO2, single.brine.x.x_CO2);
      EXPECT_EQ(tests[i].tpd_min, c.TestStability({x_CO2[i], x_H2O[i], x_NaCl[i]}).tpd_min);
    }
  }
  std::vector<OnePhaseLimit> limits(2);
  ASSERT_TRUE(OnePhaseLimitBatch(std::vector<double>{T_K_of(400.0)}, P_atm,
                                 std::vector<double>{6.0, 20.0}, limits));
  EXPECT_EQ(limits[1].x_CO2,
            EquilibriumConditions(T_K_of(400.0), P_atm[0]).OnePhaseLimitAt(20.0).x_CO2);
  std::vector<FlashResult> wrong(3);
  EXPECT_FALSE(FlashBatch(T_K, P_atm, x_CO2, x_H2O, x_NaCl, wrong));
}

TEST(UnroundedMethod, DiffersFromTheReportExactOneOnlyByTheRoundings) {
  std::mt19937_64 engine(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int k = 0; k < 2000; ++k) {
    const double T_K = T_K_of(350.0 + 250.0 * unit(engine)),
                 P_atm = P_atm_of(500.0 + 4500.0 * unit(engine));
    const Composition x = CompositionFromSalinity(0.01 + 0.98 * unit(engine), 40.0 * unit(engine));
    const Evaluation exact = Evaluate(T_K, P_atm, x);
    const Evaluation unrounded = Evaluate(T_K, P_atm, x, Method::kUnrounded);
    ASSERT_FALSE(unrounded.fault);
    // The unrounded method's root does not cancel where the report-exact one
    // does (by up to some 3e-6 relative).
    EXPECT_NEAR(unrounded.result.Z, exact.result.Z, 5e-6 * exact.result.Z);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(unrounded.result.ln_phi[i], exact.result.ln_phi[i],
                  2e-6 * (1.0 + std::fabs(exact.result.ln_phi[i])));
    }
  }
}

TEST(UnroundedMethod, IsSmoothWhereTheReportExactOneIsAStaircase) {
  // Second differences along x_CO2 with a step of 1e-7: the unrounded method's
  // are at the level of its curvature, the report-exact method's show its
  // single-precision steps.
  const double T_K = T_K_of(450.0), P_atm = P_atm_of(2000.0);
  double unrounded_worst = 0.0, exact_worst = 0.0;
  for (int k = 0; k < 200; ++k) {
    const double u = 0.3 + 1e-7 * k;
    double second[2];
    for (Method method : {Method::kUnrounded, Method::kReportExact}) {
      const double a =
          Evaluate(T_K, P_atm, CompositionFromSalinity(u - 1e-7, 10.0), method).result.ln_phi[1];
      const double b =
          Evaluate(T_K, P_atm, CompositionFromSalinity(u, 10.0), method).result.ln_phi[1];
      const double c =
          Evaluate(T_K, P_atm, CompositionFromSalinity(u + 1e-7, 10.0), method).result.ln_phi[1];
      second[method == Method::kUnrounded ? 0 : 1] = std::fabs(a - 2 * b + c);
    }
    unrounded_worst = std::max(unrounded_worst, second[0]);
    exact_worst = std::max(exact_worst, second[1]);
  }
  EXPECT_LT(unrounded_worst, 1e-11);
  EXPECT_GT(exact_worst, 1e-9);
}

}  // namespace
}  // namespace quarn
