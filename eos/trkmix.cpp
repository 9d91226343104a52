#include "eos/trkmix.hpp"

#include "eos/checked_math.hpp"
#include "eos/fugacity_terms.hpp"
#include "eos/mixture_parameters.hpp"

namespace quarn {

void TRKMIX(const double& T_K, const double& P_atm, const std::array<double, 3>& x,
            std::array<double, 3>& phi) {
  const MixtureParameters parameters = ComputeMixtureParameters(T_K, P_atm, x);
  const FugacityTerms terms = ComputeFugacityTerms(T_K, P_atm, x, parameters);
  for (int i = 0; i < 3; ++i) phi[i] = CheckedExp(terms.ln_phi[i]);
}

}  // namespace quarn
