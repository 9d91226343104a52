// The public stability test and the cold and warm flash: a split, its global
// check against the trial grid, and the answer with its certificate.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "equilibrium/solvers.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn {
namespace {

using equilibrium::Feed;
using equilibrium::Model;
using equilibrium::Split;
using equilibrium::Vector;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Phases whose x_CO2 differ by less than this are a salt split.
constexpr double kSaltSplitGap = 0.05;
// Discrete local minima of the grid from which the global check minimises.
constexpr int kCheckSeeds = 3;
// Splits tried from successive trial phases before a flash is undecided.
constexpr std::size_t kAttempts = 5;
// Phases closer than this in every mole fraction are one.
constexpr double kDistinct = 1e-6;

Phase MakePhase(const Model& model, const Vector& x, Fault& fault) {
  Phase phase;
  phase.x = equilibrium::ToComposition(x);
  phase.wt_NaCl = equilibrium::Salinity(x);
  const Evaluation e = model.ReportExact(x);
  phase.result = e.result;
  if (e.fault && !fault) fault = e.fault;
  return phase;
}

FlashResult Undecide(FlashResult r, Undecided reason) {
  r.status = FlashStatus::kUndecided;
  r.undecided = reason;
  r.phases = 0;
  r.beta = kNaN;
  return r;
}

FlashResult OnePhase(FlashResult r, const Model& model, const Feed& feed) {
  r.status = FlashStatus::kOnePhase;
  r.phases = 1;
  r.beta = kNaN;
  r.brine = MakePhase(model, feed.z, r.fault);
  r.co2_rich = r.brine;
  if (r.fault) return Undecide(r, Undecided::kModelFailed);
  return r;
}

// The global check of a converged split: the lowest tangent-plane distance of
// trial phases from the plane of the phases' common ln f.
equilibrium::TangentPlaneSearch Check(Model& model, const internal::TrialGrid& grid,
                                      const Split& split, const Feed& feed, double cap_wt) {
  Vector mu{};
  for (int i = 0; i < 3; ++i) mu[i] = 0.5 * (split.ln_f_v[i] + split.ln_f_l[i]);
  const Vector known[] = {equilibrium::Normalised(split.v, feed.species),
                          equilibrium::Normalised(split.l, feed.species)};
  equilibrium::TangentPlaneSearch search;
  if (!equilibrium::SearchBelowTangentPlane(model, grid, mu, known, kCheckSeeds, cap_wt, search)) {
    search.lowest.tpd = -std::numeric_limits<double>::infinity();
  }
  return search;
}

// Amounts of phase b to start a split from, given a tie-line a-b near the
// feed: the lever rule's share, each species keeping a part of its amount in
// either phase.
Vector StartOnTieLine(const Feed& feed, const Vector& a, const Vector& b) {
  double along = 0.0, length = 0.0;
  for (int i = 0; i < 3; ++i) {
    along += (feed.z[i] - a[i]) * (b[i] - a[i]);
    length += (b[i] - a[i]) * (b[i] - a[i]);
  }
  const double beta = std::clamp(length > 0.0 ? along / length : 0.5, 0.02, 0.98);
  Vector v0{};
  for (int k = 0; k < feed.species.count; ++k) {
    const int i = feed.species.index[k];
    v0[i] = std::clamp(beta * b[i], 0.02 * feed.z[i], 0.98 * feed.z[i]);
  }
  return v0;
}

bool Distinct(const Vector& a, const Vector& b) {
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(a[i] - b[i]) > kDistinct) return true;
  }
  return false;
}

// The answer of a split that passed: phases named, the report-exact numbers,
// the certificate.
FlashResult TwoPhases(FlashResult r, const Model& model, const Feed& feed, const Split& split,
                      const Vector& feed_ln_f, const equilibrium::TangentPlaneSearch& check) {
  const equilibrium::Species& s = feed.species;
  Vector y = equilibrium::Normalised(split.v, s);
  Vector x = equilibrium::Normalised(split.l, s);
  double beta = 0.0;
  for (int a = 0; a < s.count; ++a) beta += split.v[s.index[a]];
  // Without salt there is no salt split, however close the phases' x_CO2.
  const bool salt_split = feed.species.present[2] && std::fabs(y[0] - x[0]) < kSaltSplitGap;
  // The CO2-rich phase is the one richer in CO2; in a salt split, the fresher.
  const bool v_is_co2_rich =
      salt_split ? equilibrium::Salinity(y) < equilibrium::Salinity(x) : y[0] > x[0];
  if (!v_is_co2_rich) {
    std::swap(x, y);
    beta = 1.0 - beta;
  }
  r.status = salt_split ? FlashStatus::kSaltSplit : FlashStatus::kBrineAndCO2Rich;
  r.phases = 2;
  r.beta = beta;
  r.co2_rich = MakePhase(model, y, r.fault);
  r.brine = MakePhase(model, x, r.fault);
  if (r.fault) return Undecide(r, Undecided::kModelFailed);

  FlashCertificate& c = r.certificate;
  c.max_delta_ln_f = 0.0;
  c.mass_balance = 0.0;
  for (int a = 0; a < s.count; ++a) {
    const int i = s.index[a];
    const double ln_f_brine = std::log(x[i]) + r.brine.result.ln_phi[i];
    const double ln_f_co2_rich = std::log(y[i]) + r.co2_rich.result.ln_phi[i];
    c.max_delta_ln_f = std::max(c.max_delta_ln_f, std::fabs(ln_f_brine - ln_f_co2_rich));
  }
  for (int i = 0; i < 3; ++i) {
    c.mass_balance =
        std::max(c.mass_balance, std::fabs(beta * y[i] + (1.0 - beta) * x[i] - feed.z[i]));
  }
  c.max_delta_ln_f_unrounded = split.max_gradient;
  double G_feed = 0.0;
  for (int a = 0; a < s.count; ++a) G_feed += feed.z[s.index[a]] * feed_ln_f[s.index[a]];
  c.delta_G_RT = split.G - G_feed;
  c.min_tpd = check.lowest.tpd;
  c.trial_phases = check.trial_phases;
  return r;
}

// Splits from each start in turn, checks, and tries again from a trial phase
// the check found below the plane; the first answer that passes, or undecided
// with the last reason.
FlashResult SplitAndCheck(FlashResult r, Model& model, const internal::TrialGrid& grid,
                          const Feed& feed, const Vector& feed_ln_f, std::vector<Vector> starts,
                          const EquilibriumOptions& options) {
  const double cap_wt = options.salinity_cap_wt;
  const double limit_wt = options.phase_salinity_limit_wt;
  Undecided reason = Undecided::kNotConverged;
  for (std::size_t attempt = 0; attempt < starts.size() && attempt < kAttempts; ++attempt) {
    const Split split = equilibrium::SolveSplit(model, feed, starts[attempt], limit_wt);
    r.iterations += split.iterations;
    const Vector y = equilibrium::Normalised(split.v, feed.species);
    const Vector x = equilibrium::Normalised(split.l, feed.species);
    if (!split.converged || !Distinct(x, y)) {
      const bool at_cap =
          feed.species.present[2] &&
          std::max(equilibrium::Salinity(x), equilibrium::Salinity(y)) > 0.98 * limit_wt;
      // A split that passed everything but the check says more than a later
      // start that went nowhere: that reason stands.
      if (reason != Undecided::kNotGlobal) {
        reason = model.fault ? Undecided::kModelFailed
                 : at_cap    ? Undecided::kPhaseBeyondLimit
                             : Undecided::kNotConverged;
      }
      continue;
    }
    const equilibrium::TangentPlaneSearch check = Check(model, grid, split, feed, cap_wt);
    if (check.lowest.tpd >= -equilibrium::kTpdTolerance) {
      if (std::max(equilibrium::Salinity(x), equilibrium::Salinity(y)) > cap_wt) {
        r.domain |= kPhaseBeyondCap;
      }
      return TwoPhases(r, model, feed, split, feed_ln_f, check);
    }
    reason = Undecided::kNotGlobal;
    r.certificate.min_tpd = check.lowest.tpd;
    // The trial phase below the plane, paired with either phase of the split.
    const Vector next[] = {StartOnTieLine(feed, x, check.lowest.y),
                           StartOnTieLine(feed, y, check.lowest.y)};
    starts.insert(starts.begin() + static_cast<std::ptrdiff_t>(attempt) + 1, std::begin(next),
                  std::end(next));
  }
  if (model.fault) r.fault = model.fault;
  return Undecide(r, reason);
}

// Starts for a split from the stability test: its lowest trial phase, then the
// other local minima below the feed's plane.
std::vector<Vector> StartsFrom(const equilibrium::FeedStability& test, const Feed& feed,
                               double cap_wt) {
  std::vector<Vector> starts = {equilibrium::StartFromTrial(feed, test.lowest.y, cap_wt)};
  for (int k = 0; k < test.minima_count; ++k) {
    if (test.minima[k].tpd < -equilibrium::kTpdTolerance &&
        Distinct(test.minima[k].y, test.lowest.y)) {
      starts.push_back(equilibrium::StartFromTrial(feed, test.minima[k].y, cap_wt));
    }
  }
  return starts;
}

}  // namespace

StabilityResult EquilibriumConditions::TestStability(const Composition& x) const noexcept {
  StabilityResult r;
  r.tpd_min = kNaN;
  const Feed feed = equilibrium::PrepareFeed(x, T_K_, P_atm_, options_.salinity_cap_wt);
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
  Model model(conditions_);
  const equilibrium::FeedStability test =
      equilibrium::TestFeed(model, feed, *grid, options_.salinity_cap_wt);
  r.verdict = test.verdict;
  r.evaluations = model.evaluations;
  r.fault = model.fault;
  if (test.verdict != Stability::kUndecided) {
    r.tpd_min = test.lowest.tpd;
    r.trial = equilibrium::ToComposition(test.lowest.y);
  }
  return r;
}

FlashResult EquilibriumConditions::Flash(const Composition& x) const noexcept {
  FlashResult r;
  r.beta = kNaN;
  r.tpd_min = kNaN;
  const Feed feed = equilibrium::PrepareFeed(x, T_K_, P_atm_, options_.salinity_cap_wt);
  r.domain = feed.domain;
  if (!grids_) return Undecide(r, Undecided::kModelFailed);
  if (!feed.usable) {
    return Undecide(
        r, feed.domain & kFeedBeyondCap ? Undecided::kFeedBeyondCap : Undecided::kInvalidFeed);
  }
  Model model(conditions_);
  if (feed.species.count <= 1) return OnePhase(r, model, feed);
  const internal::TrialGrid* grid = grids_->For(feed.species);
  if (!grid) return Undecide(r, Undecided::kFeedBeyondCap);

  const equilibrium::FeedStability test =
      equilibrium::TestFeed(model, feed, *grid, options_.salinity_cap_wt);
  r.tpd_min = test.lowest.tpd;
  if (test.verdict == Stability::kUndecided) {
    r.fault = model.fault;
    r.evaluations = model.evaluations;
    return Undecide(r, Undecided::kModelFailed);
  }
  if (test.verdict == Stability::kStable) {
    r = OnePhase(r, model, feed);
  } else {
    r = SplitAndCheck(r, model, *grid, feed, test.ln_f,
                      StartsFrom(test, feed, options_.salinity_cap_wt), options_);
  }
  r.evaluations = model.evaluations;
  return r;
}

FlashResult EquilibriumConditions::Flash(const Composition& x,
                                         const FlashResult& near) const noexcept {
  if (near.phases != 2 || !grids_) return Flash(x);
  FlashResult r;
  r.beta = kNaN;
  r.tpd_min = kNaN;
  const Feed feed = equilibrium::PrepareFeed(x, T_K_, P_atm_, options_.salinity_cap_wt);
  const internal::TrialGrid* grid = feed.usable ? grids_->For(feed.species) : nullptr;
  if (!grid) return Flash(x);
  r.domain = feed.domain;
  Model model(conditions_);
  Vector feed_ln_f, ln_phi;
  if (!model.LnFugacity(feed.z, feed.species, feed_ln_f, ln_phi)) return Flash(x);

  const Vector v0 = StartOnTieLine(feed, equilibrium::ToVector(near.brine.x),
                                   equilibrium::ToVector(near.co2_rich.x));
  r = SplitAndCheck(r, model, *grid, feed, feed_ln_f, {v0}, options_);
  r.evaluations = model.evaluations;
  if (r.phases == 2) return r;
  // A warm start that fails proves nothing: the cold flash decides.
  FlashResult cold = Flash(x);
  cold.evaluations += r.evaluations;
  cold.iterations += r.iterations;
  return cold;
}

}  // namespace quarn
