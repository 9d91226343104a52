// The compressibility factor Z of a Redlich-Kwong fluid: the largest real root
// of Z^3 - Z^2 + (A - B - B^2) Z - A B = 0 with B = P b/(RT) and A = r B.
#pragma once

#include "quarn/eos.hpp"

namespace quarn {

// T is passed through and not read. bRT is the mixture co-volume over R T.
// A ratio r that is not greater than zero (NaN included) is replaced by 0.001
// in the caller's variable. Z is always written. A failing elementary function
// (only reached with non-finite arguments) is recorded in `fault`.
void REDKW(const double& T, const double& P, const double& bRT, double& r, double& Z, Fault& fault);

}  // namespace quarn
