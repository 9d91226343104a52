// First stage of the mixture routine: species and mixture parameters of the
// two-component Redlich-Kwong fluid (CO2 and the aqueous solvent H2O + NaCl),
// and the compressibility factor from one call of the root solver.
#pragma once

#include <array>

namespace quarn {

// Units: T in K, P in atm, volumes in cm^3/mol, a in atm cm^6 K^0.5/mol^2.
struct MixtureParameters {
  double T_C;             // temperature in degrees Celsius
  double R2T25;           // R^2 T^2.5
  double RT15;            // R T^1.5
  double W;               // weight percent NaCl in the solvent
  double p0, p1, p2, p3;  // coefficients in W of the exponent of the solvent root term
  double b_S;             // co-volume of the solvent
  double a_S0;            // solvent factor of the cross parameter's root term
  double q;               // root term of the cross parameter
  double e_T;             // temperature factor of the solvent attraction
  double a_S_dW;          // slope of the solvent attraction with respect to W
  double a_S;             // solvent-solvent attraction
  double a_CO2;           // CO2-CO2 attraction
  double K_T;             // temperature term of the cross parameter
  double a_X;             // CO2-solvent cross attraction
  double x_s;             // mole fraction of the solvent
  double b_mix;           // co-volume of the mixture
  double a_mix;           // attraction of the mixture
  double RT15b;           // RT15 b_mix
  double bRT;             // b_mix / (R T), argument of the root solver
  double ratio;           // a_mix / RT15b, argument of the root solver
  double Z;               // compressibility factor
};

// x holds the mole fractions of CO2, H2O and NaCl, not validated.
MixtureParameters ComputeMixtureParameters(const double& T_K, const double& P_atm,
                                           const std::array<double, 3>& x);

}  // namespace quarn
