// The one-phase limit along a section of constant solvent salinity: a scan of
// stability tests up the section, then bisection between the last stable and
// the first unstable feed.
#include <cmath>
#include <limits>
#include <vector>

#include "equilibrium/solvers.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn {
namespace {

// The bisection stops when the bracket is narrower than this in x_CO2.
constexpr double kTolerance = 1e-6;
constexpr double kHighestCO2 = 0.999;

// Nodes of the scan: close together at low x_CO2, where salty sections unmix.
std::vector<double> ScanNodes() {
  std::vector<double> nodes = {0.001, 0.002, 0.004, 0.007};
  for (double u = 0.01; u < 0.1 - 1e-12; u += 0.005) nodes.push_back(u);
  for (double u = 0.1; u < kHighestCO2; u += 0.02) nodes.push_back(u);
  nodes.push_back(kHighestCO2);
  return nodes;
}

}  // namespace

OnePhaseLimit EquilibriumConditions::OnePhaseLimitAt(double wt_NaCl) const noexcept {
  OnePhaseLimit r;
  r.x_CO2 = std::numeric_limits<double>::quiet_NaN();
  r.x_CO2_tolerance = r.x_CO2;
  r.incipient_wt_NaCl = r.x_CO2;
  r.domain = equilibrium::RangeBits(T_K_, P_atm_);
  if (!(wt_NaCl >= 0.0 && wt_NaCl <= options_.salinity_cap_wt)) {
    if (wt_NaCl > options_.salinity_cap_wt) r.domain |= kFeedBeyondCap;
    return r;
  }
  if (!grids_) return r;
  equilibrium::Model model(conditions_);
  // The stability test of the section's feed at x_CO2 = u.
  auto test = [&](double u, equilibrium::FeedStability& result) {
    const equilibrium::Feed feed = equilibrium::PrepareFeed(CompositionFromSalinity(u, wt_NaCl),
                                                            T_K_, P_atm_, options_.salinity_cap_wt);
    const internal::TrialGrid* grid = feed.usable ? grids_->For(feed.species) : nullptr;
    if (!grid) return false;
    result = equilibrium::TestFeed(model, feed, *grid, domain_limit_wt_);
    return result.verdict != Stability::kUndecided;
  };
  auto finish = [&](LimitStatus status) {
    r.status = status;
    r.evaluations = model.evaluations;
    r.fault = model.fault;
    return r;
  };

  double stable = 0.0, unstable = -1.0;
  equilibrium::FeedStability at_unstable;
  for (double u : ScanNodes()) {
    equilibrium::FeedStability t;
    if (!test(u, t)) return finish(LimitStatus::kUndecided);
    if (t.verdict == Stability::kUnstable) {
      unstable = u;
      at_unstable = t;
      break;
    }
    stable = u;
  }
  if (unstable < 0.0) return finish(LimitStatus::kNoLimit);
  while (unstable - stable > kTolerance) {
    const double middle = 0.5 * (stable + unstable);
    equilibrium::FeedStability t;
    if (!test(middle, t)) return finish(LimitStatus::kUndecided);
    if (t.verdict == Stability::kUnstable) {
      unstable = middle;
      at_unstable = t;
    } else {
      stable = middle;
    }
  }
  r.x_CO2 = unstable;
  r.x_CO2_tolerance = unstable - stable;
  // The lowest trial may be a grid point: the incipient phase is the
  // stationary point of the distance it leads to.
  const equilibrium::Feed feed = equilibrium::PrepareFeed(
      CompositionFromSalinity(unstable, wt_NaCl), T_K_, P_atm_, options_.salinity_cap_wt);
  equilibrium::TrialMinimum incipient = equilibrium::MinimiseTangentPlaneDistance(
      model, feed.species, at_unstable.ln_f, at_unstable.lowest.y, domain_limit_wt_);
  if (!(incipient.tpd <= at_unstable.lowest.tpd)) incipient = at_unstable.lowest;
  r.incipient = equilibrium::ToComposition(incipient.y);
  r.incipient_wt_NaCl = equilibrium::Salinity(incipient.y);
  return finish(LimitStatus::kFound);
}

}  // namespace quarn
