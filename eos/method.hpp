// The mixture routine's computation, written once as templates on the build of
// the elementary functions it calls (eos/checked_math.hpp): the functions of
// trkmix.hpp, redkw.hpp, mixture_parameters.hpp and fugacity_terms.hpp are its
// instances, and TRKMIX also has one instance per build of the fast paths with
// those inline, chosen at run time like the functions themselves. For the
// translation units of the equation of state only.
#pragma once

#include <array>
#include <cmath>

#include "eos/checked_math.hpp"
#include "eos/constants.hpp"
#include "eos/fugacity_terms.hpp"
#include "eos/mixture_parameters.hpp"
#include "quarn/eos.hpp"

namespace quarn {
namespace redkw_detail {

inline constexpr double kReplacementRatio = 0.001;
inline constexpr double kOneThird = 1.0 / 3.0;            // the nearest double, 0.3333333333333333
inline constexpr double kTwoTwentySevenths = 2.0 / 27.0;  // the nearest double, 0.07407407407407407
// 2 pi/3 and 4 pi/3 to ten significant digits, as the method has always used them.
inline constexpr double kAngleOffset1 = 2.094395103;
inline constexpr double kAngleOffset2 = 4.188790206;

// The real cube root as sign times |x|^(1/3), the sign applied after the power.
template <class A>
[[gnu::always_inline]] inline double RealCubeRoot(double x, Fault& fault) {
  double sign = x >= 0.0 ? 1.0 : -1.0;
  return sign * CheckedPow<A>(std::fabs(x), kOneThird, fault);
}

}  // namespace redkw_detail

template <class A>
[[gnu::always_inline]] inline void REDKWT(const double& /*T*/, const double& P, const double& bRT,
                                          double& r, double& Z, Fault& fault) {
  const double B = bRT * P;
  if (!(r > 0.0)) r = redkw_detail::kReplacementRatio;

  // Z^3 - Z^2 + c Z + d = 0, and with Z = y + 1/3 the depressed cubic y^3 + p y + q = 0.
  const double c = (r - B - 1.0) * B;
  const double d = -(B * r * B);
  const double q = c / 3.0 + d - redkw_detail::kTwoTwentySevenths;
  const double p = c - redkw_detail::kOneThird;

  const double q_squared_quarter = (q * q) * 0.25;
  const double p_cubed_27th = ((p * p) * p) / 27.0;
  const double discriminant = q_squared_quarter + p_cubed_27th;

  if (discriminant > 0.0) {
    // One real root: Cardano's formula.
    const double s = CheckedSqrt(discriminant, fault);
    const double h = -(q * 0.5);
    const double u = h + s;
    const double v = h - s;
    Z = (redkw_detail::RealCubeRoot<A>(v, fault) + redkw_detail::RealCubeRoot<A>(u, fault)) +
        redkw_detail::kOneThird;
  } else if (discriminant == 0.0) {
    Z = 1.0;
  } else {
    // Three real roots (or a NaN discriminant): the trigonometric method.
    double t = CheckedSqrt(q_squared_quarter / (-p_cubed_27th), fault);
    if (q > 0.0) t = -t;
    const double theta = Acos(t) / 3.0;
    const double m = 2.0 * CheckedSqrt(-(p / 3.0), fault);
    const double y1 = Cos(theta) * m;
    const double y2 = Cos(theta + redkw_detail::kAngleOffset1) * m;
    const double y3 = Cos(theta + redkw_detail::kAngleOffset2) * m;
    double largest = y1 > y2 ? y1 : y2;
    if (y3 > largest) largest = y3;
    Z = largest + redkw_detail::kOneThird;
  }
}

namespace mixture_detail {

using model::kCO2CoVolume;
using model::kGasConstant;

inline constexpr double kCelsiusOffset = 273.15;
inline constexpr double kGasConstantSquared = kGasConstant * kGasConstant;  // 6732.202499999999
inline constexpr double kMolarMassH2O = 18.016;
inline constexpr double kMolarMassNaCl = 58.448;
inline constexpr double kScale = 1000000.0;
// 0.0714 rounded to single precision and used in double precision.
inline constexpr double kCO2AttractionSlope = static_cast<double>(0.0714f);
inline constexpr double kCO2RootFactor = 46000000.0;

static_assert(kGasConstantSquared == 6732.202499999999);
static_assert(kCO2AttractionSlope == 0.07140000164508819580078125);

}  // namespace mixture_detail

template <class A>
[[gnu::always_inline]] inline MixtureParameters ComputeMixtureParametersT(
    const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x, Fault& fault) {
  using namespace mixture_detail;
  const double x_CO2 = x[0];
  const double x_H2O = x[1];
  const double x_NaCl = x[2];
  MixtureParameters m;
  if (t.powers_fault) RecordFault(fault, t.powers_fault.number, t.powers_fault.function);

  // The comparison is false for a NaN as well: no salt then.
  if (x_NaCl > model::kThreshold) {
    m.W = 100.0 * x_NaCl * kMolarMassNaCl / (kMolarMassH2O * x_H2O + kMolarMassNaCl * x_NaCl);
  } else {
    m.W = 0.0;
  }
  const double W = m.W;
  m.b_S = 14.6 - 0.04420283 * W;

  const double W2 = W * W;
  const double W3 = W * W2;
  const double a_S0 = kScale * CheckedExp<A>(t.p0 + t.p1 * W + t.p2 * W2 + t.p3 * W3, fault);
  m.q = CheckedSqrt(kCO2RootFactor * a_S0, fault);
  if (t.exponentials_fault) {
    RecordFault(fault, t.exponentials_fault.number, t.exponentials_fault.function);
  }
  m.a_S = t.a_S_dW * W + t.a_S_pure;
  m.a_X = t.a_X_T + m.q;

  // Quadratic mixing over CO2 and the solvent.
  m.x_s = x_H2O + x_NaCl;
  m.b_mix = m.b_S * m.x_s + kCO2CoVolume * x_CO2;
  m.a_mix = x_CO2 * x_CO2 * t.a_CO2 + m.x_s * m.x_s * m.a_S + 2.0 * x_CO2 * m.x_s * m.a_X;
  m.RT15b = t.RT15 * m.b_mix;

  const double bRT = m.b_mix / (t.T_K * kGasConstant);
  // The solver may replace the ratio in this working variable; only Z is used afterwards.
  double ratio = m.a_mix / m.RT15b;
  REDKWT<A>(t.T_K, P_atm, bRT, ratio, m.Z, fault);
  return m;
}

namespace fugacity_detail {

using model::kThreshold;

inline constexpr double kSaltOnlyTolerance = 1e-06;
// n dW/dn_H2O = -c_2 W^2 / x_NaCl with c_2 = 18.016/(100 58.448) in single precision.
inline constexpr double kC2 = 0.00308239809237420558929443359375;
inline constexpr double kK2 = 0.04420283 * kC2;
// n dW/dn_NaCl = c_3 (100 - W)^2 / x_H2O; this value of 58.448/(100 18.016) is the
// one the method uses, one unit in the last place above the nearest double.
inline constexpr double kC3 = 0.032442273534635885;
inline constexpr double kK3 = 0.04420283 * kC3;

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

inline CompositionCase CaseOf(double W, double x_H2O) {
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
inline double RoundToSingle(double value) {
  volatile float single = static_cast<float>(value);
  return static_cast<double>(single);
}

}  // namespace fugacity_detail

// With `kRounded` false the molar volume and the ratios r_i stay in double
// precision: ln phi is then a smooth function of the composition, which
// derivatives need (the single-precision roundings make it a staircase).
template <class A, bool kRounded = true>
[[gnu::always_inline]] inline FugacityTerms ComputeFugacityTermsT(const TemperatureTerms& t,
                                                                  const double& P_atm,
                                                                  const std::array<double, 3>& x,
                                                                  const MixtureParameters& m,
                                                                  Fault& fault) {
  using namespace fugacity_detail;
  const double x_CO2 = x[0];
  const double x_H2O = x[1];
  const double x_NaCl = x[2];
  const double W = m.W;
  const double x_s = m.x_s;
  const double b_mix = m.b_mix;
  const double b_S = m.b_S;

  FugacityTerms f;
  const double V = t.T_K * model::kGasConstant * m.Z / P_atm;
  f.V = kRounded ? RoundToSingle(V) : V;
  const double V_m = f.V - b_mix;
  const double L_1 = CheckedLog<A>(f.V / V_m, fault);
  const double V_p = b_mix + f.V;
  const double L_2 = CheckedLog<A>(V_p / f.V, fault);
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
  const double lnZ = CheckedLog<A>(m.Z, fault);
  for (int i = 0; i < 3; ++i) {
    const double r_i = kRounded ? RoundToSingle(D[i] / m.RT15b) : D[i] / m.RT15b;
    f.ln_phi[i] = m.a_mix * b[i] / Q * U + (b[i] / V_m + L_1 - L_2 * r_i) - lnZ;
  }
  return f;
}

template <class A, bool kRounded = true>
[[gnu::always_inline]] inline void TRKMIXT(const TemperatureTerms& t, const double& P_atm,
                                           const std::array<double, 3>& x, Result& result,
                                           Fault& fault) {
  const MixtureParameters parameters = ComputeMixtureParametersT<A>(t, P_atm, x, fault);
  const FugacityTerms terms = ComputeFugacityTermsT<A, kRounded>(t, P_atm, x, parameters, fault);
  for (int i = 0; i < 3; ++i) result.phi[i] = CheckedExp<A>(terms.ln_phi[i], fault);
  result.ln_phi = terms.ln_phi;
  result.Z = parameters.Z;
  result.V_cm3_per_mol = terms.V;
}

}  // namespace quarn
