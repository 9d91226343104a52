// The isochore of a fluid of x_CO2 0.1 in a solvent of 6 wt% NaCl through
// 400 C and 1000 bar: its density, the model's pressure every 50 C, and where
// the fluid is in two phases on it.
#include <cstdio>

#include "quarn/fluid.hpp"

int main() {
  const quarn::Composition x = quarn::CompositionFromSalinity(0.1, 6.0);
  const double V = quarn::Evaluate(quarn::KelvinFromCelsius(400.0), quarn::AtmFromBar(1000.0), x)
                       .result.V_cm3_per_mol;
  std::printf("V %.4f cm3/mol, rho %.4f g/cm3\n", V, quarn::MassDensity(x, V));
  for (double T_C = 350.0; T_C <= 600.0; T_C += 50.0) {
    const double T_K = quarn::KelvinFromCelsius(T_C);
    const quarn::IsochorePoint p = quarn::IsochorePressure(T_K, x, V);
    const quarn::Stability verdict =
        quarn::EquilibriumConditions(T_K, p.P_atm).TestStability(x).verdict;
    std::printf("%3.0f C  %6.1f bar  %s\n", T_C, p.P_bar, quarn::StabilityName(verdict));
  }
}
