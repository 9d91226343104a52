// The mixture routine: fugacity coefficients of CO2, H2O and NaCl in an
// H2O-CO2-NaCl fluid, with Z and the molar volume.
#pragma once

#include <array>

#include "eos/mixture_parameters.hpp"
#include "quarn/eos.hpp"

namespace quarn {

// `t` holds the temperature terms of T_K, P_atm is in standard atmospheres, x
// the mole fractions of CO2, H2O and NaCl (not validated). Nothing survives a
// call. The first failing elementary function goes into `fault`.
void TRKMIX(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
            Result& result, Fault& fault);

// The same without the two single-precision roundings (of the molar volume and
// of the ratios r_i), for derivatives with respect to the composition.
void TRKMIXUnrounded(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
                     Result& result, Fault& fault);

// The unrounded routine with d ln phi_i / d x_j, each mole fraction varied
// alone, by forward-mode differentiation of its own operations.
void TRKMIXWithDerivatives(const TemperatureTerms& t, const double& P_atm,
                           const std::array<double, 3>& x, Result& result,
                           std::array<std::array<double, 3>, 3>& d_ln_phi_d_x, Fault& fault);

}  // namespace quarn
