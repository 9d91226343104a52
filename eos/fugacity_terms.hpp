// Second stage of the mixture routine: from Z and the mixture parameters to the
// molar volume and the logarithms of the three fugacity coefficients.
#pragma once

#include <array>

#include "eos/mixture_parameters.hpp"

namespace quarn {

template <class V>
struct FugacityTermsOf {
  V V_cm3_per_mol;          // molar volume, rounded to single precision
  std::array<V, 3> ln_phi;  // logarithms of the fugacity coefficients
};
using FugacityTerms = FugacityTermsOf<double>;

// The first failing logarithm, in the method's order, goes into `fault`.
FugacityTerms ComputeFugacityTerms(const TemperatureTerms& t, const double& P_atm,
                                   const std::array<double, 3>& x, const MixtureParameters& m,
                                   Fault& fault);

}  // namespace quarn
