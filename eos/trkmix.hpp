// Fugacity coefficients of CO2, H2O and NaCl in an H2O-CO2-NaCl fluid.
#pragma once

#include <array>

namespace quarn {

// T_K in kelvin, P_atm in standard atmospheres, x the mole fractions of CO2,
// H2O and NaCl (not validated). phi receives the three coefficients in the same
// order. Nothing survives a call. A failing elementary function ends the run.
void TRKMIX(const double& T_K, const double& P_atm, const std::array<double, 3>& x,
            std::array<double, 3>& phi);

}  // namespace quarn
