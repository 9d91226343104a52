// Second stage of the mixture routine: from Z and the mixture parameters to the
// logarithms of the three fugacity coefficients.
#pragma once

#include <array>

#include "eos/mixture_parameters.hpp"

namespace quarn {

struct FugacityTerms {
  double V;                      // molar volume, rounded to single precision
  double V_m;                    // V - b_mix
  double L_1;                    // ln(V / V_m)
  double V_p;                    // b_mix + V
  double L_2;                    // ln(V_p / V)
  double t;                      // b_mix / V_p
  std::array<double, 3> b;       // co-volumes of CO2, H2O, NaCl in the mixture
  std::array<double, 3> D;       // attraction sums
  std::array<double, 3> r;       // D_i / RT15b, rounded to single precision
  std::array<double, 3> ln_phi;  // logarithms of the fugacity coefficients
};

// A failing logarithm ends the run through the math fatal stop.
FugacityTerms ComputeFugacityTerms(const double& T_K, const double& P_atm,
                                   const std::array<double, 3>& x, const MixtureParameters& m);

}  // namespace quarn
