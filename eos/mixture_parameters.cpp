#include "eos/mixture_parameters.hpp"

#include "eos/checked_math.hpp"
#include "eos/redkw.hpp"

namespace quarn {
namespace {

constexpr double kCelsiusOffset = 273.15;
constexpr double kGasConstant = 82.05;                 // cm^3 atm / (mol K)
constexpr double kGasConstantSquared = 82.05 * 82.05;  // 6732.202499999999, not 6732.2025
constexpr double kSaltThreshold = 1e-08;
constexpr double kMolarMassH2O = 18.016;
constexpr double kMolarMassNaCl = 58.448;
constexpr double kScale = 1000000.0;
// 0.0714 rounded to single precision and used in double precision.
constexpr double kCO2AttractionSlope = static_cast<double>(0.0714f);
constexpr double kCO2CoVolume = 29.7;
constexpr double kCO2RootFactor = 46000000.0;

static_assert(kGasConstantSquared == 6732.202499999999);
static_assert(kCO2AttractionSlope == 0.07140000164508819580078125);

}  // namespace

MixtureParameters ComputeMixtureParameters(const double& T_K, const double& P_atm,
                                           const std::array<double, 3>& x) {
  const double x_CO2 = x[0];
  const double x_H2O = x[1];
  const double x_NaCl = x[2];
  MixtureParameters m;

  m.T_C = T_K - kCelsiusOffset;
  const double T_C = m.T_C;
  m.R2T25 = CheckedPow(T_K, 2.5) * kGasConstantSquared;
  m.RT15 = CheckedPow(T_K, 1.5) * kGasConstant;

  // The comparison is false for a NaN as well: no salt then.
  if (x_NaCl > kSaltThreshold) {
    m.W = 100.0 * x_NaCl * kMolarMassNaCl / (kMolarMassH2O * x_H2O + kMolarMassNaCl * x_NaCl);
  } else {
    m.W = 0.0;
  }
  const double W = m.W;

  m.p0 = 4.881243 + 0.001823047 * T_C - 1.712269e-05 * T_C * T_C + 6.479419e-09 * T_C * T_C * T_C;
  m.p1 = 0.02636494 - 0.000536994 * T_C + 2.687074e-06 * T_C * T_C - 4.321741e-09 * T_C * T_C * T_C;
  m.p2 =
      0.006802827 - 9.48023e-05 * T_C + 3.770339e-07 * T_C * T_C - 5.075318e-10 * T_C * T_C * T_C;
  m.p3 = 5.235827e-05 - 3.505272e-08 * T_C;

  m.b_S = 14.6 - 0.04420283 * W;

  const double W2 = W * W;
  const double W3 = W * W2;
  m.a_S0 = kScale * CheckedExp(m.p0 + m.p1 * W + m.p2 * W2 + m.p3 * W3);
  m.q = CheckedSqrt(kCO2RootFactor * m.a_S0);

  m.e_T = CheckedExp(-0.00982646 * T_C);
  m.a_S_dW = -8.05658 * m.e_T * kScale;
  m.a_S = m.a_S_dW * W + (111.3057 + 50.70033 * m.e_T) * kScale;

  m.a_CO2 = (73.03 - kCO2AttractionSlope * T_C + 2.157e-05 * T_C * T_C) * kScale;

  m.K_T =
      CheckedExp(5953.0 / T_K - 11.071 - 2746000.0 / (T_K * T_K) + 464600000.0 / (T_K * T_K * T_K));
  m.a_X = 0.5 * m.K_T * m.R2T25 + m.q;

  // Quadratic mixing over CO2 and the solvent.
  m.x_s = x_H2O + x_NaCl;
  m.b_mix = m.b_S * m.x_s + kCO2CoVolume * x_CO2;
  m.a_mix = x_CO2 * x_CO2 * m.a_CO2 + m.x_s * m.x_s * m.a_S + 2.0 * x_CO2 * m.x_s * m.a_X;
  m.RT15b = m.RT15 * m.b_mix;

  m.bRT = m.b_mix / (T_K * kGasConstant);
  m.ratio = m.a_mix / m.RT15b;
  // The solver may replace the ratio in this working variable; only Z is used afterwards.
  double ratio_for_solver = m.ratio;
  REDKW(T_K, P_atm, m.bRT, ratio_for_solver, m.Z);
  return m;
}

}  // namespace quarn
