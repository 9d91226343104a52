#include "eos/fugacity_terms.hpp"

#include <cmath>

#include "eos/checked_math.hpp"
#include "eos/constants.hpp"

namespace quarn {
namespace {

using model::kThreshold;

constexpr double kSaltOnlyTolerance = 1e-06;
// n dW/dn_H2O = -c_2 W^2 / x_NaCl with c_2 = 18.016/(100 58.448) in single precision.
constexpr double kC2 = 0.00308239809237420558929443359375;
constexpr double kK2 = 0.04420283 * kC2;
// n dW/dn_NaCl = c_3 (100 - W)^2 / x_H2O; this value of 58.448/(100 18.016) is the
// one the method uses, one unit in the last place above the nearest double.
constexpr double kC3 = 0.032442273534635885;
constexpr double kK3 = 0.04420283 * kC3;

static_assert(kC2 == static_cast<double>(static_cast<float>(18.016 / (100.0 * 58.448))));
static_assert(kK2 == 0.0001362507188695413);
static_assert(kK3 == 0.001434040301865009);

// The four composition cases, tested in this order.
enum class CompositionCase {
  kSaltOnly,   // |W - 100| < 1e-06: the solvent holds no water to within the tolerance
  kBrine,      // W > 1e-08
  kNoSolvent,  // x_H2O < 1e-08 as well: CO2 alone up to the thresholds
  kSaltFree,   // water without salt
};

CompositionCase CaseOf(double W, double x_H2O) {
  if (std::fabs(W - 100.0) < kSaltOnlyTolerance) return CompositionCase::kSaltOnly;
  if (W > kThreshold) return CompositionCase::kBrine;
  if (x_H2O < kThreshold) return CompositionCase::kNoSolvent;
  return CompositionCase::kSaltFree;
}

// Rounds to single precision and widens back: the method carries these in 32
// bits. The value goes through a volatile float because GCC 12's SLP
// vectorizer, at -O3, merges the two roundings of the species loop below into
// vector code without the narrowing, changing the coefficients' last digits
// (-fno-tree-slp-vectorize restores it, -fno-peel-loops does not). A volatile
// store is a rounding no optimisation may drop.
double RoundToSingle(double value) {
  volatile float single = static_cast<float>(value);
  return static_cast<double>(single);
}

}  // namespace

FugacityTerms ComputeFugacityTerms(const TemperatureTerms& t, const double& P_atm,
                                   const std::array<double, 3>& x, const MixtureParameters& m,
                                   Fault& fault) {
  const double x_CO2 = x[0];
  const double x_H2O = x[1];
  const double x_NaCl = x[2];
  const double W = m.W;
  const double x_s = m.x_s;
  const double b_mix = m.b_mix;
  const double b_S = m.b_S;

  FugacityTerms f;
  f.V = RoundToSingle(t.T_K * model::kGasConstant * m.Z / P_atm);
  const double V_m = f.V - b_mix;
  const double L_1 = CheckedLog(f.V / V_m, fault);
  const double V_p = b_mix + f.V;
  const double L_2 = CheckedLog(V_p / f.V, fault);
  const double t_b = b_mix / V_p;

  const double p_dW = t.p1 + 2.0 * W * t.p2 + 3.0 * W * W * t.p3;
  const double base = 2.0 * x_s * m.a_S + 2.0 * x_CO2 * m.a_X;
  const double salt_free_W = 100.0 - W;
  // Terms of the derivatives of W with respect to the amounts of water and salt.
  auto G_2 = [&] { return kC2 * W * W * x_s * t.a_S_dW * x_s / x_NaCl; };
  auto H_2 = [&] { return p_dW * (x_CO2 * x_s * m.q) * kC2 * W * W / x_NaCl; };
  auto G_3 = [&] { return kC3 * salt_free_W * t.a_S_dW * salt_free_W * x_s * x_s / x_H2O; };
  auto H_3 = [&] { return p_dW * (x_CO2 * x_s * m.q) * kC3 * salt_free_W * salt_free_W / x_H2O; };
  auto b_H2O_brine = [&] { return b_S + kK2 * W * W * x_s / x_NaCl; };
  auto b_NaCl_brine = [&] { return b_S - kK3 * salt_free_W * salt_free_W * x_s / x_H2O; };

  std::array<double, 3> b = {model::kCO2CoVolume, b_S, b_S};
  std::array<double, 3> D = {2.0 * x_s * m.a_X + 2.0 * x_CO2 * t.a_CO2, base, 0.0};
  switch (CaseOf(W, x_H2O)) {
    case CompositionCase::kSaltOnly:
      b[1] = b_H2O_brine();
      D[1] = base - G_2() - H_2();
      D[2] = 2.0 * x_NaCl * m.a_S;
      break;
    case CompositionCase::kBrine:
      b[1] = b_H2O_brine();
      b[2] = b_NaCl_brine();
      D[1] = base - G_2() - H_2();
      D[2] = base + G_3() + H_3();
      break;
    case CompositionCase::kNoSolvent:
      D[2] = 2.0 * x_CO2 * m.a_X;
      break;
    case CompositionCase::kSaltFree:
      b[2] = b_NaCl_brine();
      D[2] = base + G_3() + H_3();
      break;
  }

  const double Q = b_mix * b_mix * t.RT15;
  const double U = L_2 - t_b;
  const double lnZ = CheckedLog(m.Z, fault);
  for (int i = 0; i < 3; ++i) {
    const double r_i = RoundToSingle(D[i] / m.RT15b);
    f.ln_phi[i] = m.a_mix * b[i] / Q * U + (b[i] / V_m + L_1 - L_2 * r_i) - lnZ;
  }
  return f;
}

}  // namespace quarn
