// What the equilibrium solvers share: the species present in a feed, the
// composition domain of trial phases, ln f from the unrounded method with a
// count of evaluations, and small dense linear algebra.
#pragma once

#include <array>
#include <cmath>

#include "quarn/eos.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn::equilibrium {

using Vector = std::array<double, 3>;
using Matrix = std::array<Vector, 3>;

inline constexpr double kMolarMassH2O = 18.016;
inline constexpr double kMolarMassNaCl = 58.448;
// A present species never falls below this mole fraction in a trial or
// equilibrium phase: it keeps every phase in the composition case of its feed
// (the case boundaries at 1e-8 make ln phi jump).
inline constexpr double kMinFraction = 1e-7;
// A tangent-plane distance below minus this proves instability; the solvers'
// own rounding is some 1e-14.
inline constexpr double kTpdTolerance = 1e-9;

inline Vector ToVector(const Composition& x) {
  return {x.x_CO2, x.x_H2O, x.x_NaCl};
}
inline Composition ToComposition(const Vector& x) {
  return {x[0], x[1], x[2]};
}

double Salinity(const Vector& x);
// Mole fraction of NaCl in a solvent of salinity W.
double SaltFractionOfSolvent(double W);

// The species with a positive mole fraction in the feed: the only ones any
// phase of it holds.
struct Species {
  int count = 0;
  std::array<int, 3> index{};
  std::array<bool, 3> present{};
};
Species PresentIn(const Vector& z);

// Whether a phase lies where trial and equilibrium phases may: every present
// species at least kMinFraction, the salinity within the cap.
bool InDomain(const Vector& y, const Species& species, double cap_wt);

// Scales the present species' amounts to mole fractions (absent ones 0).
Vector Normalised(const Vector& n, const Species& species);

// The model at one temperature and pressure for the solvers: ln f_i / P =
// ln x_i + ln phi_i of the unrounded method, counted.
class Model {
 public:
  explicit Model(const Conditions& conditions) : conditions_(conditions) {}
  // ln f of the present species of the phase of mole fractions y (absent ones
  // -inf) and its ln phi; false when the model fails or gives a non-finite ln phi.
  bool LnFugacity(const Vector& y, const Species& species, Vector& ln_f, Vector& ln_phi);
  // Phi_ij = d ln phi_i / d ln n_j of the present species at the phase of
  // mole fractions y (each row sums to 0: ln phi is homogeneous of degree 0 in
  // the amounts), exact to rounding; false when the model fails.
  bool LnPhiDerivatives(const Vector& y, const Species& species, Matrix& derivatives);
  // The report-exact evaluation of a phase, not counted as a solver step.
  Evaluation ReportExact(const Vector& y) const;

  int evaluations = 0;
  Fault fault;  // the first failure met

 private:
  const Conditions& conditions_;
};

// Solves (H + mu I) s = -g over the first m rows for the smallest mu >= 0 (from
// a short ladder) that makes the diagonally scaled matrix positive definite:
// a Newton step that descends. false when none does.
bool DescentStep(const Matrix& H, const Vector& g, int m, Vector& step);

}  // namespace quarn::equilibrium
