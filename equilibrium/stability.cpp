// The stability test of a feed: the lowest tangent-plane distance of trial
// phases over the domain, from the trial grid's local minima and, near a phase
// boundary, from starts around the feed; and the public test built on it.
#include <algorithm>
#include <cmath>
#include <limits>

#include "equilibrium/solvers.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn {
namespace equilibrium {
namespace {

// Discrete local minima of the trial grid from which the distance is minimised.
constexpr int kStabilitySeeds = 4;

// The directions of the starts around a feed, (cos, sin) of k pi/4 for k = 0
// to 7 with the angle held in double (k times 0.7853981633974483), correctly
// rounded: written out, so that every machine takes the same starts.
constexpr double kDirections[8][2] = {
    {1.0, 0.0},
    {0.7071067811865476, 0.7071067811865475},
    {6.123233995736766e-17, 1.0},
    {-0.7071067811865475, 0.7071067811865476},
    {-1.0, 1.2246467991473532e-16},
    {-0.7071067811865477, -0.7071067811865475},
    {-1.8369701987210297e-16, -1.0},
    {0.7071067811865474, -0.7071067811865477},
};

}  // namespace

FeedStability TestFeed(Model& model, const Feed& feed, const internal::TrialGrid& grid,
                       double limit_wt) {
  FeedStability result;
  Vector ln_phi;
  if (!model.LnFugacity(feed.z, feed.species, result.ln_f, ln_phi)) return result;
  TangentPlaneSearch search;
  const Vector known[] = {feed.z};
  if (!SearchBelowTangentPlane(model, grid, result.ln_f, known, kStabilitySeeds, limit_wt,
                               search)) {
    return result;
  }
  // Near a phase boundary the incipient phase lies close to the feed, within
  // the grid cells next to it that the search leaves out, and its distance is
  // small: minimise from starts around the feed as well, and keep what does
  // not return to the feed itself.
  if (search.lowest.tpd >= -kTpdTolerance) {
    const Species& s = feed.species;
    const double t0 = elementary::CorrectlyRoundedLog(feed.z[0] / (1.0 - feed.z[0]));
    const double W0 = Salinity(feed.z);
    // Two rings of eight starts: 0.3 and 0.8 in the logit of x_CO2 and in the
    // logarithm of the salinity (a grid cell is some 0.33 and 2.5 wt%).
    for (int direction = 0; direction < 16; ++direction) {
      const double radius = direction < 8 ? 0.3 : 0.8;
      const double dt = kDirections[direction % 8][0], dw = kDirections[direction % 8][1];
      if ((!s.present[0] && std::fabs(dt) > 1e-9) || (!s.present[2] && std::fabs(dw) > 1e-9)) {
        continue;
      }
      const double u =
          s.present[0] ? 1.0 / (1.0 + elementary::CorrectlyRoundedExp(-(t0 + radius * dt))) : 0.0;
      const double W = s.present[2] ? W0 * elementary::CorrectlyRoundedExp(radius * dw) : 0.0;
      const Vector start = ToVector(CompositionFromSalinity(u, std::min(W, limit_wt)));
      if (!InDomain(start, s, limit_wt)) continue;
      const TrialMinimum local =
          MinimiseTangentPlaneDistance(model, s, result.ln_f, start, limit_wt);
      ++search.trial_phases;
      double apart = 0.0;
      for (int i = 0; i < 3; ++i) apart = std::max(apart, std::fabs(local.y[i] - feed.z[i]));
      if (apart > 1e-5 && local.tpd < search.lowest.tpd) {
        search.lowest = local;
        if (search.minima_count < kMaxSeeds) search.minima[search.minima_count++] = local;
      }
    }
  }
  result.lowest = search.lowest;
  result.minima = search.minima;
  result.minima_count = search.minima_count;
  result.verdict = search.lowest.tpd < -kTpdTolerance ? Stability::kUnstable : Stability::kStable;
  return result;
}

}  // namespace equilibrium

StabilityResult EquilibriumConditions::TestStability(const Composition& x) const noexcept {
  StabilityResult r;
  r.tpd_min = std::numeric_limits<double>::quiet_NaN();
  const equilibrium::Feed feed =
      equilibrium::PrepareFeed(x, T_K_, P_atm_, options_.salinity_cap_wt);
  r.domain = feed.domain;
  r.trial = x;
  if (!grids_ || !feed.usable) return r;
  if (feed.species.count <= 1) {
    r.verdict = Stability::kStable;
    r.tpd_min = 0.0;
    return r;
  }
  const internal::TrialGrid* grid = grids_->For(feed.species);
  if (!grid) return r;
  equilibrium::Model model(conditions_);
  const equilibrium::FeedStability test =
      equilibrium::TestFeed(model, feed, *grid, domain_limit_wt_);
  r.verdict = test.verdict;
  r.evaluations = model.evaluations;
  r.fault = model.fault;
  if (test.verdict != Stability::kUndecided) {
    r.tpd_min = test.lowest.tpd;
    r.trial = equilibrium::ToComposition(test.lowest.y);
  }
  return r;
}

}  // namespace quarn
