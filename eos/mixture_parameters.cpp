#include "eos/mixture_parameters.hpp"

#include "eos/method.hpp"

namespace quarn {

TemperatureTerms ComputeTemperatureTerms(double T_K) {
  using namespace mixture_detail;
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
  return ComputeMixtureParametersT<Dispatched>(t, P_atm, x, fault);
}

}  // namespace quarn
