// The public scalar call and the unit conversions.
#include "eos/trkmix.hpp"
#include "quarn/eos.hpp"

namespace quarn {

double KelvinFromCelsius(double T_C) noexcept {
  return T_C + 273.15;
}

double AtmFromBar(double P_bar) noexcept {
  return P_bar / 1.01325;
}

Evaluation Evaluate(double T_K, double P_atm, const Composition& x) noexcept {
  Evaluation e;
  TRKMIX(ComputeTemperatureTerms(T_K), P_atm, {x.x_CO2, x.x_H2O, x.x_NaCl}, e.result, e.fault);
  return e;
}

}  // namespace quarn
