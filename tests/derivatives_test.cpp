// The unrounded method's exact composition derivatives and its cancellation-
// free root: the values are the unrounded method's own bit for bit, the
// derivatives agree with Richardson-extrapolated central differences, and ln
// phi is smooth where Cardano's plain form cancels.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "quarn/equilibrium.hpp"

namespace quarn {
namespace {

// d ln phi_i / d x_j by central differences extrapolated from steps h and h/2
// (error of order h^4), each mole fraction varied alone.
std::array<std::array<double, 3>, 3> Differences(const Conditions& c, const Composition& x) {
  std::array<std::array<double, 3>, 3> d{};
  for (int j = 0; j < 3; ++j) {
    auto at = [&](double step) {
      std::array<double, 3> v = {x.x_CO2, x.x_H2O, x.x_NaCl};
      v[j] += step;
      return c.Evaluate({v[0], v[1], v[2]}, Method::kUnrounded).result.ln_phi;
    };
    const double h = 1e-4 * std::array<double, 3>{x.x_CO2, x.x_H2O, x.x_NaCl}[j];
    const auto a = at(h), b = at(-h), a2 = at(h / 2), b2 = at(-h / 2);
    for (int i = 0; i < 3; ++i) {
      const double coarse = (a[i] - b[i]) / (2 * h), fine = (a2[i] - b2[i]) / h;
      d[i][j] = (4 * fine - coarse) / 3;
    }
  }
  return d;
}

TEST(Derivatives, ValuesAreTheUnroundedMethodsAndSlopesAgreeWithDifferences) {
  std::mt19937_64 engine(28);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int compared = 0;
  for (int k = 0; k < 400; ++k) {
    const Conditions c(KelvinFromCelsius(350.0 + 250.0 * unit(engine)),
                       AtmFromBar(500.0 + 4500.0 * unit(engine)));
    // Brines, salt-free fluids and the water-salt join.
    const int kind = k % 3;
    const Composition x =
        kind == 0   ? CompositionFromSalinity(0.01 + 0.9 * unit(engine), 0.5 + 50.0 * unit(engine))
        : kind == 1 ? CompositionFromSalinity(0.01 + 0.98 * unit(engine), 0.0)
                    : CompositionFromSalinity(0.0, 0.5 + 50.0 * unit(engine));
    const EvaluationWithDerivatives e = c.EvaluateWithDerivatives(x);
    const Evaluation plain = c.Evaluate(x, Method::kUnrounded);
    ASSERT_FALSE(e.evaluation.fault);
    EXPECT_EQ(e.evaluation.result.Z, plain.result.Z);
    EXPECT_EQ(e.evaluation.result.V_cm3_per_mol, plain.result.V_cm3_per_mol);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(e.evaluation.result.ln_phi[i], plain.result.ln_phi[i]);
      EXPECT_EQ(e.evaluation.result.phi[i], plain.result.phi[i]);
    }
    const auto d = Differences(c, x);
    const std::array<double, 3> fractions = {x.x_CO2, x.x_H2O, x.x_NaCl};
    for (int j = 0; j < 3; ++j) {
      if (fractions[j] == 0.0) continue;  // not differentiable across the case boundary
      for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(e.d_ln_phi_d_x[i][j], d[i][j], 1e-6 * (1.0 + std::fabs(d[i][j])))
            << "state " << k << " d ln phi_" << i << " / d x_" << j;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 2500);
}

TEST(Derivatives, FaultsAreTheUnroundedMethodsToo) {
  // Salt only at 350 C and 500 bar overflows exp for H2O.
  const Conditions c(KelvinFromCelsius(350.0), AtmFromBar(500.0));
  const Composition x = {0.9, 0.0, 0.1};
  EXPECT_EQ(c.EvaluateWithDerivatives(x).evaluation.fault.number,
            c.Evaluate(x, Method::kUnrounded).fault.number);
  EXPECT_EQ(c.EvaluateWithDerivatives({0, 0, 0}).evaluation.fault.number,
            c.Evaluate({0, 0, 0}, Method::kUnrounded).fault.number);
}

TEST(CancellationFreeRoot, UnroundedLnPhiHasNoJumpsWhereCardanosFormCancels) {
  // 447 C, 4495 bar, 30 wt%: near x_CO2 0.3191655 the depressed cubic's p
  // passes zero and the plain form of the root is off by up to 3e-6 relative,
  // in jumps. The unrounded method's second differences stay at the level of
  // its curvature there.
  const Conditions c(KelvinFromCelsius(447.0), AtmFromBar(4495.0));
  double worst = 0.0;
  double previous[2] = {NAN, NAN};
  for (int k = 0; k <= 2000; ++k) {
    const double u = 0.3191640 + 1.5e-9 * k;
    const double ln_phi =
        c.Evaluate(CompositionFromSalinity(u, 30.0), Method::kUnrounded).result.ln_phi[0];
    if (k >= 2) worst = std::max(worst, std::fabs(ln_phi - 2 * previous[1] + previous[0]));
    previous[0] = previous[1];
    previous[1] = ln_phi;
  }
  EXPECT_LT(worst, 1e-12);
}

}  // namespace
}  // namespace quarn
