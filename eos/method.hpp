// The mixture routine's computation, written once as templates on its values
// and operations: one state with the elementary functions of one build
// (ScalarOps, eos/checked_math.hpp), or several states in SIMD lanes
// (eos/method_lanes.hpp). The functions of trkmix.hpp, and the
// temperature terms of mixture_parameters.hpp, are its scalar instances (the
// stages' value structs are declared in mixture_parameters.hpp and
// fugacity_terms.hpp), and TRKMIX has one instance per build of the fast paths
// with those inline, chosen at run time like the functions themselves. For the
// translation units of the equation of state only.
#pragma once

#include <array>
#include <cmath>

#include "eos/checked_math.hpp"
#include "eos/constants.hpp"
#include "eos/fugacity_terms.hpp"
#include "eos/mixture_parameters.hpp"
#include "quarn/eos.hpp"

// Lambdas inline wherever they are used, as the functions holding them are: in
// code built for an instruction set of its own, an out-of-line lambda would be
// built for the baseline one.
#define QUARN_ALWAYS_INLINE __attribute__((always_inline))

namespace quarn {
namespace redkw_detail {

inline constexpr double kReplacementRatio = 0.001;
inline constexpr double kOneThird = 1.0 / 3.0;            // the nearest double, 0.3333333333333333
inline constexpr double kTwoTwentySevenths = 2.0 / 27.0;  // the nearest double, 0.07407407407407407
// 2 pi/3 and 4 pi/3 to ten significant digits, as the method has always used them.
inline constexpr double kAngleOffset1 = 2.094395103;
inline constexpr double kAngleOffset2 = 4.188790206;

}  // namespace redkw_detail

// The operations the method needs beyond arithmetic, for one state at a time:
// the elementary functions of one build (A), recording the first failure in
// `fault`, and branches taken one way. The lane form (eos/method_lanes.hpp) offers
// the same for several states at once; the method below is written once for
// both, so that each state meets the same IEEE operations in the same order.
template <class A>
struct ScalarOps {
  using V = double;
  Fault& fault;

  static double Constant(double c) { return c; }
  static double Abs(double x) { return std::fabs(x); }
  // f() where c holds, g() where not; only the one taken is evaluated.
  template <class F, class G>
  [[gnu::always_inline]] static double Choose(bool c, F f, G g) {
    return c ? f() : g();
  }
  [[gnu::always_inline]] double Exp(double x) { return CheckedExp<A>(x, fault); }
  [[gnu::always_inline]] double Log(double x) { return CheckedLog<A>(x, fault); }
  [[gnu::always_inline]] double Sqrt(double x) { return CheckedSqrt(x, fault); }
  // The real cube root as sign times |x|^(1/3), the sign applied after the power.
  [[gnu::always_inline]] double CubeRoot(double x) {
    double sign = x >= 0.0 ? 1.0 : -1.0;
    return sign * CheckedPow<A>(std::fabs(x), redkw_detail::kOneThird, fault);
  }
  // T^2.5 and T^1.5, in that order.
  [[gnu::always_inline]] void HalfIntegerPowers(double T, double& power_2_5, double& power_1_5) {
    power_2_5 = CheckedPow<A>(T, 2.5, fault);
    power_1_5 = CheckedPow<A>(T, 1.5, fault);
  }
  // Rounds to single precision and widens back: the method carries these in 32
  // bits. The value goes through a volatile float because GCC 12's SLP
  // vectorizer, at -O3, merges the two roundings of the species loop below into
  // vector code without the narrowing, changing the coefficients' last digits
  // (-fno-tree-slp-vectorize restores it, -fno-peel-loops does not). A volatile
  // store is a rounding no optimisation may drop.
  static double RoundToSingle(double value) {
    volatile float single = static_cast<float>(value);
    return static_cast<double>(single);
  }
  // The temperature terms' failures, each where it falls in the method's order.
  void NotePowersFault(const TemperatureTerms& t) {
    if (t.powers_fault) RecordFault(fault, t.powers_fault.number, t.powers_fault.function);
  }
  void NoteExponentialsFault(const TemperatureTerms& t) {
    if (t.exponentials_fault) {
      RecordFault(fault, t.exponentials_fault.number, t.exponentials_fault.function);
    }
  }

  // Z where the discriminant is not positive: 1 where it is 0, else (three
  // real roots, or a NaN) the largest root by the trigonometric method.
  double OtherLargestRoot(double discriminant, double q_squared_quarter, double p_cubed_27th,
                          double q, double p) {
    if (discriminant == 0.0) return 1.0;
    double t = CheckedSqrt(q_squared_quarter / (-p_cubed_27th), fault);
    if (q > 0.0) t = -t;
    const double theta = Acos(t) / 3.0;
    const double m = 2.0 * CheckedSqrt(-(p / 3.0), fault);
    const double y1 = Cos(theta) * m;
    const double y2 = Cos(theta + redkw_detail::kAngleOffset1) * m;
    const double y3 = Cos(theta + redkw_detail::kAngleOffset2) * m;
    double largest = y1 > y2 ? y1 : y2;
    if (y3 > largest) largest = y3;
    return largest + redkw_detail::kOneThird;
  }
};

// REDKW: the largest real root Z of the Redlich-Kwong cubic
// Z^3 - Z^2 + (A - B - B^2) Z - A B = 0 with B = P b/(RT) and A = r B, for P
// and bRT, the mixture co-volume over R T; r is replaced by 0.001
// where it is not greater than zero (NaN included). With kCancellationFree,
// Cardano's second cube root is formed from the product of the two, so that it
// does not cancel where the depressed cubic's p is near zero (the report-exact
// method keeps the plain form, whose Z jumps there by up to some 1e-6).
template <bool kCancellationFree = false, class Ops, class V = typename Ops::V>
[[gnu::always_inline]] inline V REDKW(Ops& ops, const V& P, const V& bRT, V& r) {
  const V B = bRT * P;
  r = ops.Choose(
      r > 0.0, [&]() QUARN_ALWAYS_INLINE { return r; },
      [&]() QUARN_ALWAYS_INLINE { return ops.Constant(redkw_detail::kReplacementRatio); });

  // Z^3 - Z^2 + c Z + d = 0, and with Z = y + 1/3 the depressed cubic y^3 + p y + q = 0.
  const V c = (r - B - 1.0) * B;
  const V d = -(B * r * B);
  const V q = c / 3.0 + d - redkw_detail::kTwoTwentySevenths;
  const V p = c - redkw_detail::kOneThird;

  const V q_squared_quarter = (q * q) * 0.25;
  const V p_cubed_27th = ((p * p) * p) / 27.0;
  const V discriminant = q_squared_quarter + p_cubed_27th;

  return ops.Choose(
      discriminant > 0.0,
      [&]() QUARN_ALWAYS_INLINE {
        // One real root: Cardano's formula.
        const V s = ops.Sqrt(discriminant);
        const V h = -(q * 0.5);
        if constexpr (kCancellationFree) {
          // u = h + s and v = h - s have the product -p^3/27: the one of h's
          // sign is formed as it stands, and cbrt(v) = -p / (3 cbrt(u)).
          const V w = ops.CubeRoot(ops.Choose(
              h >= 0.0, [&]() QUARN_ALWAYS_INLINE { return h + s; },
              [&]() QUARN_ALWAYS_INLINE { return h - s; }));
          return (w - p / (3.0 * w)) + redkw_detail::kOneThird;
        } else {
          const V u = h + s;
          const V v = h - s;
          return (ops.CubeRoot(v) + ops.CubeRoot(u)) + redkw_detail::kOneThird;
        }
      },
      [&]() QUARN_ALWAYS_INLINE {
        return ops.OtherLargestRoot(discriminant, q_squared_quarter, p_cubed_27th, q, p);
      });
}

namespace mixture_detail {

using model::kCO2CoVolume;
using model::kGasConstant;

inline constexpr double kCelsiusOffset = 273.15;
inline constexpr double kGasConstantSquared = kGasConstant * kGasConstant;  // 6732.202499999999
inline constexpr double kScale = 1000000.0;
// 0.0714 rounded to single precision and used in double precision.
inline constexpr double kCO2AttractionSlope = static_cast<double>(0.0714f);
inline constexpr double kCO2RootFactor = 46000000.0;

static_assert(kGasConstantSquared == 6732.202499999999);
static_assert(kCO2AttractionSlope == 0.07140000164508819580078125);

}  // namespace mixture_detail

// The terms that depend on the temperature alone: Terms is TemperatureTerms,
// or its lane form; `powers` takes the failures of T_K^2.5 and T_K^1.5,
// `exponentials` those of e_T and K_T.
template <class Ops, class Terms, class V = typename Ops::V>
[[gnu::always_inline]] inline void TemperatureTermsT(Ops& powers, Ops& exponentials, const V& T_K,
                                                     Terms& t) {
  using namespace mixture_detail;
  t.T_K = T_K;
  t.T_C = T_K - kCelsiusOffset;
  const V T_C = t.T_C;
  V power_2_5, power_1_5;
  powers.HalfIntegerPowers(T_K, power_2_5, power_1_5);
  t.R2T25 = power_2_5 * kGasConstantSquared;
  t.RT15 = power_1_5 * kGasConstant;

  t.p0 = 4.881243 + 0.001823047 * T_C - 1.712269e-05 * T_C * T_C + 6.479419e-09 * T_C * T_C * T_C;
  t.p1 = 0.02636494 - 0.000536994 * T_C + 2.687074e-06 * T_C * T_C - 4.321741e-09 * T_C * T_C * T_C;
  t.p2 =
      0.006802827 - 9.48023e-05 * T_C + 3.770339e-07 * T_C * T_C - 5.075318e-10 * T_C * T_C * T_C;
  t.p3 = 5.235827e-05 - 3.505272e-08 * T_C;

  t.e_T = exponentials.Exp(-0.00982646 * T_C);
  t.a_S_dW = -8.05658 * t.e_T * kScale;
  t.a_S_pure = (111.3057 + 50.70033 * t.e_T) * kScale;
  t.a_CO2 = (73.03 - kCO2AttractionSlope * T_C + 2.157e-05 * T_C * T_C) * kScale;
  t.K_T = exponentials.Exp(5953.0 / T_K - 11.071 - 2746000.0 / (T_K * T_K) +
                           464600000.0 / (T_K * T_K * T_K));
  t.a_X_T = 0.5 * t.K_T * t.R2T25;
}

// The mixture's parameters up to the cubic: all of m but Z.
template <class Ops, class Terms, class V = typename Ops::V>
[[gnu::always_inline]] inline MixtureParametersOf<V> MixtureCoefficientsT(
    Ops& ops, const Terms& t, const std::array<V, 3>& x) {
  using namespace mixture_detail;
  const V x_CO2 = x[0];
  const V x_H2O = x[1];
  const V x_NaCl = x[2];
  MixtureParametersOf<V> m;
  ops.NotePowersFault(t);

  // The comparison is false for a NaN as well: no salt then.
  m.W = ops.Choose(
      x_NaCl > model::kThreshold,
      [&]() QUARN_ALWAYS_INLINE {
        return 100.0 * x_NaCl * kMolarMassNaCl / (kMolarMassH2O * x_H2O + kMolarMassNaCl * x_NaCl);
      },
      [&]() QUARN_ALWAYS_INLINE { return ops.Constant(0.0); });
  const V W = m.W;
  m.b_S = 14.6 - 0.04420283 * W;

  const V W2 = W * W;
  const V W3 = W * W2;
  const V a_S0 = kScale * ops.Exp(t.p0 + t.p1 * W + t.p2 * W2 + t.p3 * W3);
  m.q = ops.Sqrt(kCO2RootFactor * a_S0);
  ops.NoteExponentialsFault(t);
  m.a_S = t.a_S_dW * W + t.a_S_pure;
  m.a_X = t.a_X_T + m.q;

  // Quadratic mixing over CO2 and the solvent.
  m.x_s = x_H2O + x_NaCl;
  m.b_mix = m.b_S * m.x_s + kCO2CoVolume * x_CO2;
  m.a_mix = x_CO2 * x_CO2 * t.a_CO2 + m.x_s * m.x_s * m.a_S + 2.0 * x_CO2 * m.x_s * m.a_X;
  m.RT15b = t.RT15 * m.b_mix;
  return m;
}

// Z of the mixture at P_atm, from its coefficients.
template <bool kCancellationFree = false, class Ops, class Terms, class V = typename Ops::V>
[[gnu::always_inline]] inline V MixtureZT(Ops& ops, const Terms& t, const V& P_atm,
                                          const MixtureParametersOf<V>& m) {
  using namespace mixture_detail;
  const V bRT = m.b_mix / (t.T_K * kGasConstant);
  // The solver may replace the ratio in this working variable; only Z is used afterwards.
  V ratio = m.a_mix / m.RT15b;
  return REDKW<kCancellationFree>(ops, P_atm, bRT, ratio);
}

template <bool kCancellationFree = false, class Ops, class Terms, class V = typename Ops::V>
[[gnu::always_inline]] inline MixtureParametersOf<V> MixtureParametersT(Ops& ops, const Terms& t,
                                                                        const V& P_atm,
                                                                        const std::array<V, 3>& x) {
  MixtureParametersOf<V> m = MixtureCoefficientsT(ops, t, x);
  m.Z = MixtureZT<kCancellationFree>(ops, t, P_atm, m);
  return m;
}

template <class A>
[[gnu::always_inline]] inline MixtureParameters ComputeMixtureParametersT(
    const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x, Fault& fault) {
  ScalarOps<A> ops{fault};
  return MixtureParametersT(ops, t, P_atm, x);
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

}  // namespace fugacity_detail

// With `kRounded` false the molar volume and the ratios r_i stay in double
// precision: ln phi is then a smooth function of the composition, which
// derivatives need (the single-precision roundings make it a staircase).
template <bool kRounded, class Ops, class Terms, class V = typename Ops::V>
[[gnu::always_inline]] inline FugacityTermsOf<V> FugacityTermsT(Ops& ops, const Terms& t,
                                                                const V& P_atm,
                                                                const std::array<V, 3>& x,
                                                                const MixtureParametersOf<V>& m) {
  using namespace fugacity_detail;
  const V x_CO2 = x[0];
  const V x_H2O = x[1];
  const V x_NaCl = x[2];
  const V W = m.W;
  const V x_s = m.x_s;
  const V b_mix = m.b_mix;
  const V b_S = m.b_S;

  FugacityTermsOf<V> f;
  const V V_unrounded = t.T_K * model::kGasConstant * m.Z / P_atm;
  f.V_cm3_per_mol = kRounded ? ops.RoundToSingle(V_unrounded) : V_unrounded;
  const V V_mol = f.V_cm3_per_mol;
  const V V_m = V_mol - b_mix;
  const V L_1 = ops.Log(V_mol / V_m);
  const V V_p = b_mix + V_mol;
  const V L_2 = ops.Log(V_p / V_mol);
  const V t_b = b_mix / V_p;

  const V p_dW = t.p1 + 2.0 * W * t.p2 + 3.0 * W * W * t.p3;
  const V base = 2.0 * x_s * m.a_S + 2.0 * x_CO2 * m.a_X;
  const V salt_free_W = 100.0 - W;
  // Terms of the derivatives of W with respect to the amounts of water and salt.
  auto G_2 = [&]() QUARN_ALWAYS_INLINE { return kC2 * W * W * x_s * t.a_S_dW * x_s / x_NaCl; };
  auto H_2 = [&]()
                 QUARN_ALWAYS_INLINE { return p_dW * (x_CO2 * x_s * m.q) * kC2 * W * W / x_NaCl; };
  auto G_3 = [&]() QUARN_ALWAYS_INLINE {
    return kC3 * salt_free_W * t.a_S_dW * salt_free_W * x_s * x_s / x_H2O;
  };
  auto H_3 = [&]() QUARN_ALWAYS_INLINE {
    return p_dW * (x_CO2 * x_s * m.q) * kC3 * salt_free_W * salt_free_W / x_H2O;
  };
  auto b_H2O_brine = [&]() QUARN_ALWAYS_INLINE { return b_S + kK2 * W * W * x_s / x_NaCl; };
  auto b_NaCl_brine = [&]() QUARN_ALWAYS_INLINE {
    return b_S - kK3 * salt_free_W * salt_free_W * x_s / x_H2O;
  };
  auto same = [](const V& value)
                  QUARN_ALWAYS_INLINE { return [&value]() QUARN_ALWAYS_INLINE { return value; }; };

  // The four composition cases, tested in this order: salt only (|W - 100| <
  // 1e-06, the solvent holds no water to within the tolerance); brine (W >
  // 1e-08); no solvent (x_H2O < 1e-08 as well: CO2 alone up to the
  // thresholds); salt-free water. Water's terms take W's derivative in the
  // first two, salt's in all but the third.
  const auto salt_only = ops.Abs(W - 100.0) < kSaltOnlyTolerance;
  const auto brine = W > kThreshold;
  const auto no_solvent = x_H2O < kThreshold;
  const auto water_of_brine = salt_only | brine;
  // Salt's term with W's derivative in brine and in salt-free water, the other
  // where there is no solvent (salt only is settled before).
  auto salt_term = [&](auto with_derivative, auto other) QUARN_ALWAYS_INLINE {
    return ops.Choose(brine, with_derivative, [&]() QUARN_ALWAYS_INLINE {
      return ops.Choose(no_solvent, other, with_derivative);
    });
  };

  const std::array<V, 3> b = {
      ops.Constant(model::kCO2CoVolume), ops.Choose(water_of_brine, b_H2O_brine, same(b_S)),
      ops.Choose(salt_only, same(b_S),
                 [&]() QUARN_ALWAYS_INLINE { return salt_term(b_NaCl_brine, same(b_S)); })};
  const std::array<V, 3> D = {
      2.0 * x_s * m.a_X + 2.0 * x_CO2 * t.a_CO2,
      ops.Choose(
          water_of_brine, [&]() QUARN_ALWAYS_INLINE { return base - G_2() - H_2(); }, same(base)),
      ops.Choose(
          salt_only, [&]() QUARN_ALWAYS_INLINE { return 2.0 * x_NaCl * m.a_S; },
          [&]() QUARN_ALWAYS_INLINE {
            return salt_term([&]() QUARN_ALWAYS_INLINE { return base + G_3() + H_3(); },
                             [&]() QUARN_ALWAYS_INLINE { return 2.0 * x_CO2 * m.a_X; });
          })};

  const V Q = b_mix * b_mix * t.RT15;
  const V U = L_2 - t_b;
  const V lnZ = ops.Log(m.Z);
  for (int i = 0; i < 3; ++i) {
    const V r_i = kRounded ? ops.RoundToSingle(D[i] / m.RT15b) : D[i] / m.RT15b;
    f.ln_phi[i] = m.a_mix * b[i] / Q * U + (b[i] / V_m + L_1 - L_2 * r_i) - lnZ;
  }
  return f;
}

template <class A, bool kRounded = true>
[[gnu::always_inline]] inline FugacityTerms ComputeFugacityTermsT(const TemperatureTerms& t,
                                                                  const double& P_atm,
                                                                  const std::array<double, 3>& x,
                                                                  const MixtureParameters& m,
                                                                  Fault& fault) {
  ScalarOps<A> ops{fault};
  return FugacityTermsT<kRounded>(ops, t, P_atm, x, m);
}

// What the method gives for one state (or one per lane).
template <class V>
struct StateOf {
  std::array<V, 3> phi;
  V Z;
  V V_cm3_per_mol;
  std::array<V, 3> ln_phi;
};

template <bool kRounded, class Ops, class Terms, class V = typename Ops::V>
[[gnu::always_inline]] inline StateOf<V> StateT(Ops& ops, const Terms& t, const V& P_atm,
                                                const std::array<V, 3>& x) {
  // The unrounded method, smooth in the composition, takes the cancellation-free root.
  const MixtureParametersOf<V> parameters = MixtureParametersT<!kRounded>(ops, t, P_atm, x);
  const FugacityTermsOf<V> terms = FugacityTermsT<kRounded>(ops, t, P_atm, x, parameters);
  StateOf<V> state;
  for (int i = 0; i < 3; ++i) state.phi[i] = ops.Exp(terms.ln_phi[i]);
  state.ln_phi = terms.ln_phi;
  state.Z = parameters.Z;
  state.V_cm3_per_mol = terms.V_cm3_per_mol;
  return state;
}

template <class A, bool kRounded = true>
[[gnu::always_inline]] inline void TRKMIXT(const TemperatureTerms& t, const double& P_atm,
                                           const std::array<double, 3>& x, Result& result,
                                           Fault& fault) {
  ScalarOps<A> ops{fault};
  const StateOf<double> state = StateT<kRounded>(ops, t, P_atm, x);
  result.phi = state.phi;
  result.ln_phi = state.ln_phi;
  result.Z = state.Z;
  result.V_cm3_per_mol = state.V_cm3_per_mol;
}

}  // namespace quarn
