// The public scalar calls and the unit conversions.
#include <new>
#include <type_traits>

#include "eos/trkmix.hpp"
#include "quarn/eos.hpp"

namespace quarn {

double KelvinFromCelsius(double T_C) noexcept {
  return T_C + 273.15;
}

double AtmFromBar(double P_bar) noexcept {
  return P_bar / 1.01325;
}

// The temperature terms live in the conditions' own storage, which the public
// header sizes without naming their type.
Conditions::Conditions(double T_K, double P_atm) noexcept : P_atm_(P_atm) {
  static_assert(sizeof(TemperatureTerms) <= sizeof temperature_terms_);
  static_assert(alignof(TemperatureTerms) <= alignof(double));
  static_assert(std::is_trivially_copyable_v<TemperatureTerms>);
  new (temperature_terms_) TemperatureTerms(ComputeTemperatureTerms(T_K));
}

Evaluation Conditions::Evaluate(const Composition& x) const noexcept {
  const auto& t = *std::launder(reinterpret_cast<const TemperatureTerms*>(temperature_terms_));
  Evaluation e;
  TRKMIX(t, P_atm_, {x.x_CO2, x.x_H2O, x.x_NaCl}, e.result, e.fault);
  return e;
}

// One state is conditions used once.
Evaluation Evaluate(double T_K, double P_atm, const Composition& x) noexcept {
  return Conditions(T_K, P_atm).Evaluate(x);
}

}  // namespace quarn
