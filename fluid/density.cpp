// Mass densities from molar volumes, with the standard molar masses.
#include "quarn/fluid.hpp"

namespace quarn {

double MolarMass(const Composition& x) noexcept {
  return x.x_CO2 * kStandardMolarMassCO2 + x.x_H2O * kStandardMolarMassH2O +
         x.x_NaCl * kStandardMolarMassNaCl;
}

double MassDensity(const Composition& x, double V_cm3_per_mol) noexcept {
  return MolarMass(x) / V_cm3_per_mol;
}

double MolarVolumeFromDensity(const Composition& x, double rho_g_per_cm3) noexcept {
  return MolarMass(x) / rho_g_per_cm3;
}

}  // namespace quarn
