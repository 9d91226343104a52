// The public scalar calls, the unit conversions and the functions' names.

#include "eos/method.hpp"
#include "eos/trkmix.hpp"
#include "quarn/eos.hpp"

namespace quarn {

double KelvinFromCelsius(double T_C) noexcept {
  return T_C + 273.15;
}

double AtmFromBar(double P_bar) noexcept {
  return P_bar / 1.01325;
}

const char* MathFunctionName(MathFunction function) noexcept {
  switch (function) {
    case MathFunction::kExp:
      return "exp";
    case MathFunction::kLog:
      return "log";
    case MathFunction::kSqrt:
      return "sqrt";
    case MathFunction::kPower:
      return "**";
    case MathFunction::kNone:
      break;
  }
  return "";
}

Conditions::Conditions(double T_K, double P_atm) noexcept
    : P_atm_(P_atm), temperature_terms_(ComputeTemperatureTerms(T_K)) {}

Evaluation Conditions::Evaluate(const Composition& x, Method method) const noexcept {
  Evaluation e;
  if (method == Method::kUnrounded) {
    TRKMIXUnrounded(temperature_terms_, P_atm_, {x.x_CO2, x.x_H2O, x.x_NaCl}, e.result, e.fault);
  } else {
    TRKMIX(temperature_terms_, P_atm_, {x.x_CO2, x.x_H2O, x.x_NaCl}, e.result, e.fault);
  }
  return e;
}

EvaluationWithDerivatives Conditions::EvaluateWithDerivatives(const Composition& x) const noexcept {
  EvaluationWithDerivatives e;
  TRKMIXWithDerivatives(temperature_terms_, P_atm_, {x.x_CO2, x.x_H2O, x.x_NaCl},
                        e.evaluation.result, e.d_ln_phi_d_x, e.evaluation.fault);
  return e;
}

// The first stage of the method alone, with the elementary functions chosen at
// run time. Its root solver's Z is not needed: it is given a pressure of 1 atm
// (a and b do not depend on it), so that no pressure can add a fault of its own.
RedlichKwongParameters Conditions::MixtureParameters(const Composition& x) const noexcept {
  RedlichKwongParameters p;
  ScalarOps<Dispatched> ops{p.fault};
  const MixtureParametersOf<double> m =
      MixtureParametersT(ops, temperature_terms_, 1.0, {x.x_CO2, x.x_H2O, x.x_NaCl});
  p.a = m.a_mix;
  p.b = m.b_mix;
  return p;
}

// One state is conditions used once.
Evaluation Evaluate(double T_K, double P_atm, const Composition& x, Method method) noexcept {
  return Conditions(T_K, P_atm).Evaluate(x, method);
}

}  // namespace quarn
