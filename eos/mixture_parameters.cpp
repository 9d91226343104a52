#include "eos/mixture_parameters.hpp"

#include "eos/checked_math.hpp"
#include "eos/constants.hpp"
#include "eos/redkw.hpp"

namespace quarn {
namespace {

using model::kCO2CoVolume;
using model::kGasConstant;

constexpr double kCelsiusOffset = 273.15;
constexpr double kGasConstantSquared = kGasConstant * kGasConstant;  // 6732.202499999999
constexpr double kMolarMassH2O = 18.016;
constexpr double kMolarMassNaCl = 58.448;
constexpr double kScale = 1000000.0;
// 0.0714 rounded to single precision and used in double precision.
constexpr double kCO2AttractionSlope = static_cast<double>(0.0714f);
constexpr double kCO2RootFactor = 46000000.0;

static_assert(kGasConstantSquared == 6732.202499999999);
static_assert(kCO2AttractionSlope == 0.07140000164508819580078125);

}  // namespace

TemperatureTerms ComputeTemperatureTerms(double T_K) {
  TemperatureTerms t;
  t.T_K = T_K;
  t.T_C = T_K - kCelsiusOffset;
  const double T_C = t.T_C;
  t.powers_fault = {};
  t.R2T25 = CheckedPow(T_K, 2.5, t.powers_fault) * kGasConstantSquared;
  t.RT15 = CheckedPow(T_K, 1.5, t.powers_fault) * kGasConstant;

  t.p0 = 4.881243 + 0.001823047 * T_C - 1.712269e-05 * T_C * T_C + 6.479419e-09 * T_C * T_C * T_C;
  t.p1 = 0.02636494 - 0.000536994 * T_C + 2.687074e-06 * T_C * T_C - 4.321741e-09 * T_C * T_C * T_C;
  t.p2 =
      0.006802827 - 9.48023e-05 * T_C + 3.770339e-07 * T_C * T_C - 5.075318e-10 * T_C * T_C * T_C;
  t.p3 = 5.235827e-05 - 3.505272e-08 * T_C;

  t.exponentials_fault = {};
  t.e_T = CheckedExp(-0.00982646 * T_C, t.exponentials_fault);
  t.a_S_dW = -8.05658 * t.e_T * kScale;
  t.a_S_pure = (111.3057 + 50.70033 * t.e_T) * kScale;
  t.a_CO2 = (73.03 - kCO2AttractionSlope * T_C + 2.157e-05 * T_C * T_C) * kScale;
  t.K_T =
      CheckedExp(5953.0 / T_K - 11.071 - 2746000.0 / (T_K * T_K) + 464600000.0 / (T_K * T_K * T_K),
                 t.exponentials_fault);
  t.a_X_T = 0.5 * t.K_T * t.R2T25;
  return t;
}

MixtureParameters ComputeMixtureParameters(const TemperatureTerms& t, const double& P_atm,
                                           const std::array<double, 3>& x, Fault& fault) {
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
  const double a_S0 = kScale * CheckedExp(t.p0 + t.p1 * W + t.p2 * W2 + t.p3 * W3, fault);
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
  REDKW(t.T_K, P_atm, bRT, ratio, m.Z, fault);
  return m;
}

}  // namespace quarn
