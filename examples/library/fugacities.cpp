// Fugacity coefficients of a brine with some CO2 at 500 C and 2000 bar.
#include <cstdio>

#include "quarn/eos.hpp"

int main() {
  const double T_K = quarn::KelvinFromCelsius(500.0f);
  const double P_atm = quarn::AtmFromBar(2000.0f);
  const quarn::Evaluation e = quarn::Evaluate(T_K, P_atm, {0.1, 0.89, 0.01});
  if (e.fault) {
    std::printf("%s failed (%d)\n", quarn::MathFunctionName(e.fault.function), e.fault.number);
    return 1;
  }
  std::printf("phi: %.8g %.8g %.8g\n", e.result.phi[0], e.result.phi[1], e.result.phi[2]);
  std::printf("Z: %.8g  V: %.8g cm3/mol\n", e.result.Z, e.result.V_cm3_per_mol);
}
