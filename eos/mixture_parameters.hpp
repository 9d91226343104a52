// First stage of the mixture routine: species and mixture parameters of the
// two-component Redlich-Kwong fluid (CO2 and the aqueous solvent H2O + NaCl),
// and the compressibility factor from one call of the root solver.
#pragma once

#include <array>

#include "quarn/eos.hpp"

namespace quarn {

// Units: T in K, P in atm, volumes in cm^3/mol, a in atm cm^6 K^0.5/mol^2.

// The terms that depend on the temperature alone, in the method's order of
// evaluation. Their failures are kept apart by where they fall in that order:
// the powers of T_K come before every composition term, the exponentials of
// e_T and K_T after the solvent's root term.
using internal::TemperatureTerms;

TemperatureTerms ComputeTemperatureTerms(double T_K);

// V is double, or a vector of doubles for several states at once.
template <class V>
struct MixtureParametersOf {
  V W;      // weight percent NaCl in the solvent
  V b_S;    // co-volume of the solvent
  V q;      // root term of the cross parameter
  V a_S;    // solvent-solvent attraction
  V a_X;    // CO2-solvent cross attraction
  V x_s;    // mole fraction of the solvent
  V b_mix;  // co-volume of the mixture
  V a_mix;  // attraction of the mixture
  V RT15b;  // RT15 b_mix
  V Z;      // compressibility factor
};
using MixtureParameters = MixtureParametersOf<double>;

}  // namespace quarn
