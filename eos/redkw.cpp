#include "eos/redkw.hpp"

#include "eos/method.hpp"

namespace quarn {

void REDKW(const double& T, const double& P, const double& bRT, double& r, double& Z,
           Fault& fault) {
  REDKWT<Dispatched>(T, P, bRT, r, Z, fault);
}

}  // namespace quarn
