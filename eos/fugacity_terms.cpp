#include "eos/fugacity_terms.hpp"

#include <cmath>

#include "eos/checked_math.hpp"

namespace quarn {
namespace {

constexpr double kGasConstant = 82.05;
constexpr double kSaltOnlyTolerance = 1e-06;
constexpr double kThreshold = 1e-08;
constexpr double kCO2CoVolume = 29.7;
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

// Rounds to single precision and widens back: the method carries these in 32 bits.
// The rounding goes through memory because GCC 12 at -O3 (its loop peeling)
// drops a plain float round trip inside the species loop below, which changes
// the reported coefficients in their last digits.
double RoundToSingle(double value) {
  volatile float single = static_cast<float>(value);
  return static_cast<double>(single);
}

}  // namespace

FugacityTerms ComputeFugacityTerms(const double& T_K, const double& P_atm,
                                   const std::array<double, 3>& x, const MixtureParameters& m) {
  FugacityTerms f;
  const double x_CO2 = x[0];
  const double x_H2O = x[1];
  const double x_NaCl = x[2];
  const double W = m.W;
  const double x_s = m.x_s;
  const double b_mix = m.b_mix;

  f.V = RoundToSingle(T_K * kGasConstant * m.Z / P_atm);
  f.V_m = f.V - b_mix;
  f.L_1 = CheckedLog(f.V / f.V_m);
  f.V_p = b_mix + f.V;
  f.L_2 = CheckedLog(f.V_p / f.V);
  f.t = b_mix / f.V_p;

  const double p_dW = m.p1 + 2.0 * W * m.p2 + 3.0 * W * W * m.p3;
  const double base = 2.0 * x_s * m.a_S + 2.0 * x_CO2 * m.a_X;
  const double salt_free_W = 100.0 - W;

  // The composition cases, tested in this order: salt-only solvent, brine, no
  // solvent at all, salt-free solvent.
  const bool salt_only = std::fabs(W - 100.0) < kSaltOnlyTolerance;
  const bool brine = !salt_only && W > kThreshold;
  const bool no_solvent = !salt_only && !brine && x_H2O < kThreshold;

  f.b[0] = kCO2CoVolume;
  f.D[0] = 2.0 * x_s * m.a_X + 2.0 * x_CO2 * m.a_CO2;
  if (salt_only || brine) {
    const double G_2 = kC2 * W * W * x_s * m.a_S_dW * x_s / x_NaCl;
    const double H_2 = p_dW * (x_CO2 * x_s * m.q) * kC2 * W * W / x_NaCl;
    f.b[1] = m.b_S + kK2 * W * W * x_s / x_NaCl;
    f.D[1] = base - G_2 - H_2;
  } else {
    f.b[1] = m.b_S;
    f.D[1] = base;
  }
  if (salt_only) {
    f.b[2] = m.b_S;
    f.D[2] = 2.0 * x_NaCl * m.a_S;
  } else if (no_solvent) {
    f.b[2] = m.b_S;
    f.D[2] = 2.0 * x_CO2 * m.a_X;
  } else {  // brine, or salt-free solvent
    const double G_3 = kC3 * salt_free_W * m.a_S_dW * salt_free_W * x_s * x_s / x_H2O;
    const double H_3 = p_dW * (x_CO2 * x_s * m.q) * kC3 * salt_free_W * salt_free_W / x_H2O;
    f.b[2] = m.b_S - kK3 * salt_free_W * salt_free_W * x_s / x_H2O;
    f.D[2] = base + G_3 + H_3;
  }

  const double Q = b_mix * b_mix * m.RT15;
  const double U = f.L_2 - f.t;
  const double lnZ = CheckedLog(m.Z);
  for (int i = 0; i < 3; ++i) {
    f.r[i] = RoundToSingle(f.D[i] / m.RT15b);
    f.ln_phi[i] = m.a_mix * f.b[i] / Q * U + (f.b[i] / f.V_m + f.L_1 - f.L_2 * f.r[i]) - lnZ;
  }
  return f;
}

}  // namespace quarn
