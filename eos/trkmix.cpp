#include "eos/trkmix.hpp"

#include "eos/checked_math.hpp"
#include "eos/fugacity_terms.hpp"

namespace quarn {

void TRKMIX(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
            Result& result, Fault& fault) {
  const MixtureParameters parameters = ComputeMixtureParameters(t, P_atm, x, fault);
  const FugacityTerms terms = ComputeFugacityTerms(t, P_atm, x, parameters, fault);
  for (int i = 0; i < 3; ++i) result.phi[i] = CheckedExp(terms.ln_phi[i], fault);
  result.ln_phi = terms.ln_phi;
  result.Z = parameters.Z;
  result.V_cm3_per_mol = terms.V;
}

}  // namespace quarn
