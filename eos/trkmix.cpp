#include "eos/trkmix.hpp"

#include "eos/method.hpp"

namespace quarn {
namespace {

// The routine with one build's elementary functions inline, that build's
// arithmetic throughout (the method's own operations are the same IEEE ones in
// both: nothing is contracted).
void TRKMIXPlain(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
                 Result& result, Fault& fault) {
  TRKMIXT<elementary::PlainArithmetic>(t, P_atm, x, result, fault);
}

#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA void TRKMIXFused(const TemperatureTerms& t, const double& P_atm,
                                  const std::array<double, 3>& x, Result& result, Fault& fault) {
  TRKMIXT<elementary::FusedArithmetic>(t, P_atm, x, result, fault);
}
#endif

}  // namespace

void TRKMIX(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
            Result& result, Fault& fault) {
#if QUARN_ELEMENTARY_FUSED_PATH
  if (elementary::ActivePath() == elementary::Path::kFused) {
    TRKMIXFused(t, P_atm, x, result, fault);
    return;
  }
#endif
  TRKMIXPlain(t, P_atm, x, result, fault);
}

void TRKMIXUnrounded(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
                     Result& result, Fault& fault) {
  TRKMIXT<Dispatched, false>(t, P_atm, x, result, fault);
}

}  // namespace quarn
