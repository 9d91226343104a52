#include "eos/trkmix.hpp"

#include "eos/dual.hpp"
#include "eos/method.hpp"

namespace quarn {
namespace {

// The routines with one build's elementary functions inline, that build's
// arithmetic throughout (the method's own operations are the same IEEE ones in
// both: nothing is contracted). Each build's functions are correctly rounded,
// so the two give the same bits; the fused one is faster where the processor
// has FMA.
void TRKMIXPlain(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
                 Result& result, Fault& fault) {
  TRKMIXT<elementary::PlainArithmetic>(t, P_atm, x, result, fault);
}

void UnroundedPlain(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
                    Result& result, Fault& fault) {
  TRKMIXT<elementary::PlainArithmetic, false>(t, P_atm, x, result, fault);
}

// Forward-mode differentiation of the unrounded routine's own operations.
template <class A>
[[gnu::always_inline]] inline void WithDerivativesT(
    const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x, Result& result,
    std::array<std::array<double, 3>, 3>& d_ln_phi_d_x, Fault& fault) {
  DualOps<A> ops{fault};
  const std::array<Dual, 3> fractions = {Dual::Variable(x[0], 0), Dual::Variable(x[1], 1),
                                         Dual::Variable(x[2], 2)};
  const StateOf<Dual> state = StateT<false>(ops, t, Dual(P_atm), fractions);
  for (int i = 0; i < 3; ++i) {
    result.phi[i] = state.phi[i].v;
    result.ln_phi[i] = state.ln_phi[i].v;
    for (int k = 0; k < 3; ++k) d_ln_phi_d_x[i][k] = state.ln_phi[i].g[k];
  }
  result.Z = state.Z.v;
  result.V_cm3_per_mol = state.V_cm3_per_mol.v;
}

void WithDerivativesPlain(const TemperatureTerms& t, const double& P_atm,
                          const std::array<double, 3>& x, Result& result,
                          std::array<std::array<double, 3>, 3>& d_ln_phi_d_x, Fault& fault) {
  WithDerivativesT<elementary::PlainArithmetic>(t, P_atm, x, result, d_ln_phi_d_x, fault);
}

#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA void TRKMIXFused(const TemperatureTerms& t, const double& P_atm,
                                  const std::array<double, 3>& x, Result& result, Fault& fault) {
  TRKMIXT<elementary::FusedArithmetic>(t, P_atm, x, result, fault);
}

QUARN_TARGET_FMA void UnroundedFused(const TemperatureTerms& t, const double& P_atm,
                                     const std::array<double, 3>& x, Result& result, Fault& fault) {
  TRKMIXT<elementary::FusedArithmetic, false>(t, P_atm, x, result, fault);
}

QUARN_TARGET_FMA void WithDerivativesFused(const TemperatureTerms& t, const double& P_atm,
                                           const std::array<double, 3>& x, Result& result,
                                           std::array<std::array<double, 3>, 3>& d_ln_phi_d_x,
                                           Fault& fault) {
  WithDerivativesT<elementary::FusedArithmetic>(t, P_atm, x, result, d_ln_phi_d_x, fault);
}

bool FusedPathActive() {
  return elementary::ActivePath() == elementary::Path::kFused;
}
#endif

}  // namespace

void TRKMIX(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
            Result& result, Fault& fault) {
#if QUARN_ELEMENTARY_FUSED_PATH
  if (FusedPathActive()) {
    TRKMIXFused(t, P_atm, x, result, fault);
    return;
  }
#endif
  TRKMIXPlain(t, P_atm, x, result, fault);
}

void TRKMIXUnrounded(const TemperatureTerms& t, const double& P_atm, const std::array<double, 3>& x,
                     Result& result, Fault& fault) {
#if QUARN_ELEMENTARY_FUSED_PATH
  if (FusedPathActive()) {
    UnroundedFused(t, P_atm, x, result, fault);
    return;
  }
#endif
  UnroundedPlain(t, P_atm, x, result, fault);
}

void TRKMIXWithDerivatives(const TemperatureTerms& t, const double& P_atm,
                           const std::array<double, 3>& x, Result& result,
                           std::array<std::array<double, 3>, 3>& d_ln_phi_d_x, Fault& fault) {
#if QUARN_ELEMENTARY_FUSED_PATH
  if (FusedPathActive()) {
    WithDerivativesFused(t, P_atm, x, result, d_ln_phi_d_x, fault);
    return;
  }
#endif
  WithDerivativesPlain(t, P_atm, x, result, d_ln_phi_d_x, fault);
}

}  // namespace quarn
