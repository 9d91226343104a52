// Tangent-plane distances: the trial grids a set of conditions evaluates once,
// the distances of their points from a tangent plane, and the local
// minimisation of the distance from a grid point.
#pragma once

#include <span>
#include <vector>

#include "equilibrium/phase_model.hpp"

namespace quarn::internal {

// Trial compositions over x_CO2 (logistic nodes, dense towards both ends) and
// the solvent salinity (logarithmic nodes up to 2 wt%, then every 2.5 wt% or
// less up to the salinity limit), for the species of one kind of feed, with ln f of each.
struct TrialGrid {
  equilibrium::Species species;
  int nodes_CO2 = 0, nodes_salinity = 0;
  std::vector<double> x_CO2, salinity;  // the nodes
  // Point k = i_salinity * nodes_CO2 + i_CO2: its mole fractions and ln f, a
  // column per species, so that a scan over the points runs in vector lanes.
  // ln f is +infinity at a point that is not valid, -infinity for an absent species.
  std::array<std::vector<double>, 3> y, ln_f;
  std::vector<unsigned char> valid;  // within the domain and evaluated
  int valid_count = 0;

  std::size_t size() const { return valid.size(); }
  equilibrium::Vector Point(std::size_t k) const { return {y[0][k], y[1][k], y[2][k]}; }
  // The continuous grid coordinates of a composition, for closeness to a node.
  double CoordinateCO2(double x) const;
  double CoordinateSalinity(double W) const;
};

struct TrialGrids {
  TrialGrid ternary;     // CO2, H2O and NaCl
  TrialGrid salt_free;   // CO2 and H2O
  TrialGrid water_salt;  // H2O and NaCl
  int evaluations = 0;
  double limit_wt = 50.0;  // the largest salinity of a trial phase

  // The grid for a feed of these species; null for one species or for CO2 with
  // NaCl alone (a solvent of salt only, beyond any cap).
  const TrialGrid* For(const equilibrium::Species& species) const;
};

// Makes the grids of trial phases up to limit_wt; false when the model failed
// on every point of one of them.
bool MakeTrialGrids(const Conditions& conditions, double limit_wt, TrialGrids& grids);

// The largest salinity a trial or equilibrium phase may have at these
// conditions: limit_wt, or less where the model runs away first. At low
// temperatures the solvent's root term, a cubic in W, is extrapolated beyond
// the brines it was fitted to, and above some 58 wt% (350 C) to 93 wt% (400 C)
// ln phi of dilute CO2 falls steeply with salinity: brines there would lie far
// below any tangent plane for no physical reason. The domain ends where that
// slope first passes kRunawaySlope per wt%, never below cap_wt.
inline constexpr double kRunawaySlope = -0.25;
double DomainLimit(const Conditions& conditions, double cap_wt, double limit_wt);

}  // namespace quarn::internal

namespace quarn::equilibrium {

struct TrialMinimum {
  Vector y{};
  double tpd = 0.0;
};

// The lowest tangent-plane distance sum_i y_i (ln f_i(y) - d_i) over the grid
// and over local minimisations from its lowest discrete local minima (up to
// `seeds`, skipping those next to the compositions in `known`, which are on the
// plane already). false only when no point could be evaluated.
inline constexpr int kMaxSeeds = 4;
struct TangentPlaneSearch {
  TrialMinimum lowest;
  int trial_phases = 0;
  // The local minimisations' results, lowest first.
  std::array<TrialMinimum, kMaxSeeds> minima{};
  int minima_count = 0;
};
bool SearchBelowTangentPlane(Model& model, const internal::TrialGrid& grid, const Vector& d,
                             std::span<const Vector> known, int seeds, double limit_wt,
                             TangentPlaneSearch& search);

// Minimises the distance locally from y0 (within the domain): successive
// substitution, then Newton steps on the modified distance in the variables
// 2 sqrt(Y_i), each accepted only where it descends and stays in the domain.
// Returns the lowest distance met on the way, at a point of the domain.
TrialMinimum MinimiseTangentPlaneDistance(Model& model, const Species& species, const Vector& d,
                                          const Vector& y0, double limit_wt);

}  // namespace quarn::equilibrium
