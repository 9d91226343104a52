#include "eos/fugacity_terms.hpp"

#include "eos/method.hpp"

namespace quarn {

FugacityTerms ComputeFugacityTerms(const TemperatureTerms& t, const double& P_atm,
                                   const std::array<double, 3>& x, const MixtureParameters& m,
                                   Fault& fault) {
  return ComputeFugacityTermsT<Dispatched>(t, P_atm, x, m, fault);
}

}  // namespace quarn
