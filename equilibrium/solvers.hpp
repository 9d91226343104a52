// The steps the public calls are made of: the stability test of a prepared
// feed, and the two-phase split with its global check.
#pragma once

#include "equilibrium/feed.hpp"
#include "equilibrium/tangent_plane.hpp"

namespace quarn::equilibrium {

struct FeedStability {
  Stability verdict = Stability::kUndecided;
  Vector ln_f{};        // of the feed: the tangent plane
  TrialMinimum lowest;  // the lowest trial phase found
  // The local minima of the distance found, lowest first: starts for a split.
  std::array<TrialMinimum, kMaxSeeds> minima{};
  int minima_count = 0;
};
FeedStability TestFeed(Model& model, const Feed& feed, const internal::TrialGrid& grid,
                       double limit_wt);

// The split of a feed into amounts v and l = z - v of two phases, found by
// Newton steps on the Gibbs energy G = sum_i v_i ln f_i(v) + l_i ln f_i(l)
// (in RT, per mole of feed) from v0, each step descending and keeping both
// phases in the domain, their salinities within limit_wt.
struct Split {
  Vector v{}, l{};
  Vector ln_f_v{}, ln_f_l{}, ln_phi_v{}, ln_phi_l{};
  double G = 0.0;
  double max_gradient = 0.0;  // max_i |ln f_i(v) - ln f_i(l)|
  int iterations = 0;
  bool converged = false;
};
Split SolveSplit(Model& model, const Feed& feed, const Vector& v0, double limit_wt);

// Three phases in equilibrium, found by Newton steps on the Gibbs energy of
// their amounts from `start` (the amounts of each phase, summing to the feed),
// every step descending and keeping every phase in the domain.
struct ThreePhases {
  std::array<Vector, 3> n{}, x{}, ln_f{};
  double G = 0.0;
  double max_gradient = 0.0;  // max over species and phase pairs of |ln f_i difference|
  int iterations = 0;
  bool converged = false;
};
ThreePhases SolveThreePhases(Model& model, const Feed& feed, const std::array<Vector, 3>& start,
                             double limit_wt);

// The amounts to start a split from: a share of the trial phase y that leaves
// every species of the feed a positive remainder within the domain.
// tpd is the trial's distance from the feed's plane.
Vector StartFromTrial(const Feed& feed, const Vector& y, double limit_wt, double tpd = 1.0);

}  // namespace quarn::equilibrium
