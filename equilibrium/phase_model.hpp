// What the equilibrium solvers share: the species present in a feed, the
// composition domain of trial phases, ln f from the unrounded method with a
// count of evaluations, and small dense linear algebra.
#pragma once

#include <array>
#include <cmath>

#include "quarn/eos.hpp"
#include "quarn/equilibrium.hpp"
#include "quarn/internal/elementary_functions.hpp"

namespace quarn::equilibrium {

using Vector = std::array<double, 3>;
using Matrix = std::array<Vector, 3>;

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

// In the model's order of operations, so that a phase's salinity is the W the
// model works out for it. Inline, as the next two: the solvers call them at
// every step.
inline double Salinity(const Vector& x) {
  return x[2] > 0.0 ? 100.0 * x[2] * kMolarMassNaCl / (kMolarMassH2O * x[1] + kMolarMassNaCl * x[2])
                    : 0.0;
}
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
inline bool InDomain(const Vector& y, const Species& species, double cap_wt) {
  for (int k = 0; k < species.count; ++k) {
    if (!(y[species.index[k]] >= kMinFraction)) return false;
  }
  return !species.present[2] || Salinity(y) <= cap_wt;
}

// Scales the present species' amounts to mole fractions (absent ones 0).
inline Vector Normalised(const Vector& n, const Species& species) {
  double total = 0.0;
  for (int k = 0; k < species.count; ++k) total += n[species.index[k]];
  Vector y{};
  for (int k = 0; k < species.count; ++k) y[species.index[k]] = n[species.index[k]] / total;
  return y;
}

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

// Cholesky factorisation of the leading m x m block, in place; false unless
// positive definite.
template <std::size_t N>
bool Cholesky(std::array<std::array<double, N>, N>& a, int m) {
  for (int j = 0; j < m; ++j) {
    double d = a[j][j];
    for (int k = 0; k < j; ++k) d -= a[j][k] * a[j][k];
    if (!(d > 0.0)) return false;
    a[j][j] = std::sqrt(d);
    for (int i = j + 1; i < m; ++i) {
      double s = a[i][j];
      for (int k = 0; k < j; ++k) s -= a[i][k] * a[j][k];
      a[i][j] = s / a[j][j];
    }
  }
  return true;
}

// Solves (H + mu I) s = -g over the first m rows for the smallest mu >= 0 (from
// a short ladder) that makes the diagonally scaled matrix positive definite:
// a Newton step that descends. false when none does.
template <std::size_t N>
bool DescentStep(const std::array<std::array<double, N>, N>& H, const std::array<double, N>& g,
                 int m, std::array<double, N>& step) {
  // Scaled to a unit diagonal, so that the shifts below are relative ones
  // (by magnitude: far from a solution a diagonal element may be negative,
  // and the shifts then make the matrix positive definite).
  std::array<double, N> scale{};
  for (int i = 0; i < m; ++i) {
    const double d = std::fabs(H[i][i]);
    if (!std::isfinite(d)) return false;
    scale[i] = d > 0.0 ? 1.0 / std::sqrt(d) : 1.0;
  }
  for (double mu : {0.0, 1e-8, 1e-4, 1e-2, 0.1, 1.0, 3.0, 10.0, 1e3}) {
    std::array<std::array<double, N>, N> a{};
    for (int i = 0; i < m; ++i) {
      for (int j = 0; j < m; ++j) {
        // The symmetric part: the model's Hessian is symmetric to some 1e-6.
        a[i][j] = 0.5 * (H[i][j] + H[j][i]) * scale[i] * scale[j];
      }
      a[i][i] += mu;
    }
    if (!Cholesky(a, m)) continue;
    std::array<double, N> s{};
    for (int i = 0; i < m; ++i) {
      double v = -g[i] * scale[i];
      for (int k = 0; k < i; ++k) v -= a[i][k] * s[k];
      s[i] = v / a[i][i];
    }
    for (int i = m - 1; i >= 0; --i) {
      double v = s[i];
      for (int k = i + 1; k < m; ++k) v -= a[k][i] * s[k];
      s[i] = v / a[i][i];
    }
    for (int i = 0; i < m; ++i) step[i] = s[i] * scale[i];
    return true;
  }
  return false;
}

}  // namespace quarn::equilibrium
