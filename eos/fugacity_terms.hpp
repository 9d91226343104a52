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

}  // namespace quarn
