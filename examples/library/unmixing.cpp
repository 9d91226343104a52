// Where a fluid of x_CO2 0.2 in a solvent of 20 wt% NaCl unmixes at 400 C and
// 2000 bar: its brine and its CO2-rich fluid, and why to trust them.
#include <cstdio>

#include "quarn/equilibrium.hpp"

int main() {
  const quarn::EquilibriumConditions conditions(quarn::KelvinFromCelsius(400.0),
                                                quarn::AtmFromBar(2000.0));
  const quarn::FlashResult r = conditions.Flash(quarn::CompositionFromSalinity(0.2, 20.0));
  if (r.phases != 2) {
    std::printf("%s (%s)\n", quarn::FlashStatusName(r.status), quarn::UndecidedName(r.undecided));
    return 1;
  }
  std::printf("%s, beta %.4f\n", quarn::FlashStatusName(r.status), r.beta);
  std::printf("brine:    x_CO2 %.4f, %.2f wt%% NaCl\n", r.brine.x.x_CO2, r.brine.wt_NaCl);
  std::printf("CO2-rich: x_CO2 %.4f, %.2f wt%% NaCl\n", r.co2_rich.x.x_CO2, r.co2_rich.wt_NaCl);
  std::printf("equal ln f to %s, no trial phase below the plane: %s\n",
              r.certificate.max_delta_ln_f < 1e-5 ? "1e-5" : "less than 1e-5",
              r.certificate.min_tpd >= -1e-9 ? "yes" : "no");
}
