// The cold and warm flash: a split, its global check against the trial grid,
// and the answer with its certificate.
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
constexpr std::size_t kAttempts = 8;
// Phases closer than this in every mole fraction are one.
constexpr double kDistinct = 1e-6;
// A phase saltier than this share of the salinity limit lies on it.
constexpr double kAtLimit = 0.98;

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
  r.beta_saline = kNaN;
  return r;
}

FlashResult OnePhase(FlashResult r, const Model& model, const Feed& feed) {
  r.status = FlashStatus::kOnePhase;
  r.phases = 1;
  r.beta = kNaN;
  r.beta_saline = kNaN;
  r.brine = MakePhase(model, feed.z, r.fault);
  r.co2_rich = r.brine;
  r.saline_co2_bearing = r.brine;
  if (r.fault) return Undecide(r, Undecided::kModelFailed);
  return r;
}

// The global check of phases in equilibrium: the lowest tangent-plane
// distance of trial phases from the plane of their common ln f.
equilibrium::TangentPlaneSearch Check(Model& model, const internal::TrialGrid& grid,
                                      std::span<const Vector> phases, std::span<const Vector> ln_f,
                                      double limit_wt) {
  Vector mu{};
  for (const Vector& l : ln_f) {
    for (int i = 0; i < 3; ++i) mu[i] += l[i] / static_cast<double>(ln_f.size());
  }
  equilibrium::TangentPlaneSearch search;
  if (!equilibrium::SearchBelowTangentPlane(model, grid, mu, phases, kCheckSeeds, limit_wt,
                                            search)) {
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

// The answer of phases that passed: named, the report-exact numbers, the
// certificate. `phases` holds each phase's mole fractions and amount per mole
// of feed.
struct FoundPhase {
  Vector x{};
  double share = 0.0;
};
FlashResult Decided(FlashResult r, const Model& model, const Feed& feed,
                    std::vector<FoundPhase> phases, double G, double max_gradient_unrounded,
                    const Vector& feed_ln_f, const equilibrium::TangentPlaneSearch& check,
                    double cap_wt) {
  const equilibrium::Species& s = feed.species;
  auto salinity = [](const FoundPhase& p) { return equilibrium::Salinity(p.x); };
  if (phases.size() == 2) {
    // Without salt there is no salt split, however close the phases' x_CO2.
    const bool salt_split =
        s.present[2] && std::fabs(phases[0].x[0] - phases[1].x[0]) < kSaltSplitGap;
    // The CO2-rich phase is the one richer in CO2; in a salt split, the fresher.
    const bool first_is_co2_rich =
        salt_split ? salinity(phases[0]) < salinity(phases[1]) : phases[0].x[0] > phases[1].x[0];
    if (!first_is_co2_rich) std::swap(phases[0], phases[1]);
    r.status = salt_split ? FlashStatus::kSaltSplit : FlashStatus::kBrineAndCO2Rich;
    r.phases = 2;
    r.beta = phases[0].share;
    r.beta_saline = kNaN;
    r.co2_rich = MakePhase(model, phases[0].x, r.fault);
    r.brine = MakePhase(model, phases[1].x, r.fault);
    r.saline_co2_bearing = r.brine;
  } else {
    // The freshest is the CO2-rich fluid; of the other two the poorer in CO2
    // is the brine.
    std::sort(phases.begin(), phases.end(),
              [&](const FoundPhase& a, const FoundPhase& b) { return salinity(a) < salinity(b); });
    if (phases[1].x[0] < phases[2].x[0]) std::swap(phases[1], phases[2]);
    r.status = FlashStatus::kThreePhases;
    r.phases = 3;
    r.beta = phases[0].share;
    r.beta_saline = phases[1].share;
    r.co2_rich = MakePhase(model, phases[0].x, r.fault);
    r.saline_co2_bearing = MakePhase(model, phases[1].x, r.fault);
    r.brine = MakePhase(model, phases[2].x, r.fault);
  }
  if (r.fault) return Undecide(r, Undecided::kModelFailed);
  for (const FoundPhase& p : phases) {
    if (s.present[2] && equilibrium::Salinity(p.x) > cap_wt) r.domain |= kPhaseBeyondCap;
  }

  FlashCertificate& c = r.certificate;
  c = {};
  // The phases as named, in the order of `phases`.
  const Phase* found[] = {&r.co2_rich, phases.size() == 3 ? &r.saline_co2_bearing : &r.brine,
                          &r.brine};
  for (int a = 0; a < s.count; ++a) {
    const int i = s.index[a];
    for (std::size_t p = 0; p < phases.size(); ++p) {
      for (std::size_t q = p + 1; q < phases.size(); ++q) {
        const auto xp = equilibrium::ToVector(found[p]->x), xq = equilibrium::ToVector(found[q]->x);
        const double difference =
            (elementary::CorrectlyRoundedLog(xp[i]) + found[p]->result.ln_phi[i]) -
            (elementary::CorrectlyRoundedLog(xq[i]) + found[q]->result.ln_phi[i]);
        c.max_delta_ln_f = std::max(c.max_delta_ln_f, std::fabs(difference));
      }
    }
  }
  for (int i = 0; i < 3; ++i) {
    double sum = 0.0;
    for (const FoundPhase& p : phases) sum += p.share * p.x[i];
    c.mass_balance = std::max(c.mass_balance, std::fabs(sum - feed.z[i]));
  }
  c.max_delta_ln_f_unrounded = max_gradient_unrounded;
  double G_feed = 0.0;
  for (int a = 0; a < s.count; ++a) G_feed += feed.z[s.index[a]] * feed_ln_f[s.index[a]];
  c.delta_G_RT = G - G_feed;
  c.min_tpd = check.lowest.tpd;
  c.trial_phases = check.trial_phases;
  return r;
}

double Share(const Vector& n, const equilibrium::Species& s) {
  double share = 0.0;
  for (int a = 0; a < s.count; ++a) share += n[s.index[a]];
  return share;
}

// Three phases solved from the amounts `start`: the answer in r where they
// converge to three distinct phases that pass the global check. Where the
// check fails, `below` is its trial phase below their plane.
bool DecideThreePhases(FlashResult& r, Model& model, const internal::TrialGrid& grid,
                       const Feed& feed, const Vector& feed_ln_f,
                       const std::array<Vector, 3>& start, double limit_wt, double cap_wt,
                       equilibrium::ThreePhases& three, Vector& below) {
  three = equilibrium::SolveThreePhases(model, feed, start, limit_wt);
  r.iterations += three.iterations;
  if (!three.converged || !Distinct(three.x[0], three.x[1]) || !Distinct(three.x[0], three.x[2]) ||
      !Distinct(three.x[1], three.x[2])) {
    return false;
  }
  const equilibrium::TangentPlaneSearch check = Check(model, grid, three.x, three.ln_f, limit_wt);
  if (check.lowest.tpd < -equilibrium::kTpdTolerance) {
    below = check.lowest.y;
    r.certificate.min_tpd = check.lowest.tpd;
    return false;
  }
  std::vector<FoundPhase> phases;
  for (int p = 0; p < 3; ++p) phases.push_back({three.x[p], Share(three.n[p], feed.species)});
  r = Decided(r, model, feed, std::move(phases), three.G, three.max_gradient, feed_ln_f, check,
              cap_wt);
  return true;
}

// Three phases from a converged split (phases x and y, a share beta of y) and a
// trial phase w below its plane: w starts with a share epsilon taken from both
// phases in proportion, and the Newton steps on the Gibbs energy let it grow
// where three phases lie lower; the answer if they pass the check.
bool TryThreePhases(FlashResult& r, Model& model, const internal::TrialGrid& grid, const Feed& feed,
                    const Vector& feed_ln_f, const Vector& x, const Vector& y, double beta,
                    const Vector& w, double limit_wt, double cap_wt, Vector& below,
                    std::vector<Vector>& pair_starts) {
  if (feed.species.count != 3) return false;
  double room = 1.0;
  for (int i = 0; i < 3; ++i) room = std::min({room, x[i] / w[i], y[i] / w[i]});
  const double epsilon = 0.2 * room;
  std::array<Vector, 3> start{};
  for (int i = 0; i < 3; ++i) {
    start[0][i] = (1.0 - beta) * (x[i] - epsilon * w[i]);
    start[1][i] = beta * (y[i] - epsilon * w[i]);
    start[2][i] = epsilon * w[i];
  }
  equilibrium::ThreePhases three;
  if (DecideThreePhases(r, model, grid, feed, feed_ln_f, start, limit_wt, cap_wt, three, below)) {
    return true;
  }
  // Where a phase dwindles the answer is two phases: the other two, with the
  // amounts they reached, start a split.
  std::array<double, 3> share{};
  for (int p = 0; p < 3; ++p) share[p] = Share(three.n[p], feed.species);
  const int smallest =
      static_cast<int>(std::min_element(share.begin(), share.end()) - share.begin());
  pair_starts.push_back(three.n[(smallest + 1) % 3]);
  return false;
}

// The shares of the feed in the triangle of three phases (the lever rule of
// three: z = sum of share times x, the shares summing to 1), by Cramer's rule;
// false where the phases lie on a line.
bool SharesInTriangle(const Vector& z, const std::array<Vector, 3>& x,
                      std::array<double, 3>& share) {
  auto det = [](const Vector& a, const Vector& b, const Vector& c) {
    return a[0] * (b[1] * c[2] - b[2] * c[1]) - b[0] * (a[1] * c[2] - a[2] * c[1]) +
           c[0] * (a[1] * b[2] - a[2] * b[1]);
  };
  const double d = det(x[0], x[1], x[2]);
  if (!(std::fabs(d) > 1e-12)) return false;
  share = {det(z, x[1], x[2]) / d, det(x[0], z, x[2]) / d, det(x[0], x[1], z) / d};
  return true;
}

// Three phases started from a neighbour's three (a nearby feed, temperature or
// pressure): inside their triangle the amounts by the lever rule, checked as
// every answer is. False, with a split start from the two phases of the
// largest shares added to `pair_starts`, where that does not pass.
bool WarmThreePhases(FlashResult& r, Model& model, const internal::TrialGrid& grid,
                     const Feed& feed, const Vector& feed_ln_f, const FlashResult& near,
                     double limit_wt, double cap_wt, std::vector<Vector>& pair_starts) {
  const std::array<Vector, 3> x = {equilibrium::ToVector(near.brine.x),
                                   equilibrium::ToVector(near.saline_co2_bearing.x),
                                   equilibrium::ToVector(near.co2_rich.x)};
  std::array<double, 3> share{};
  if (feed.species.count != 3 || !SharesInTriangle(feed.z, x, share)) return false;
  const int smallest =
      static_cast<int>(std::min_element(share.begin(), share.end()) - share.begin());
  pair_starts.push_back(StartOnTieLine(feed, x[(smallest + 1) % 3], x[(smallest + 2) % 3]));
  if (!(share[smallest] > 0.0)) return false;
  std::array<Vector, 3> start{};
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < 3; ++i) start[p][i] = share[p] * x[p][i];
  }
  equilibrium::ThreePhases three;
  Vector below{};
  return DecideThreePhases(r, model, grid, feed, feed_ln_f, start, limit_wt, cap_wt, three, below);
}

// Splits from each start in turn, checks, and where a trial phase lies below
// the plane tries three phases and splits started from it; the first answer
// that passes, or undecided with the last reason. An answer that passes is the
// lowest Gibbs energy over the domain, whichever start found it.
FlashResult SplitAndCheck(FlashResult r, Model& model, const internal::TrialGrid& grid,
                          const Feed& feed, const Vector& feed_ln_f, std::vector<Vector> starts,
                          double limit_wt, double cap_wt) {
  Undecided reason = Undecided::kNotConverged;
  // The lowest trial phase below a split's plane, and whether it lies on the
  // salinity limit: then the phase the fluid wants is beyond the domain, which
  // is the reason to give.
  double lowest_below = 0.0;
  bool lowest_below_at_limit = false;
  std::vector<std::array<Vector, 2>> seen;  // the splits checked already
  for (std::size_t attempt = 0; attempt < starts.size() && attempt < kAttempts; ++attempt) {
    const Split split = equilibrium::SolveSplit(model, feed, starts[attempt], limit_wt);
    r.iterations += split.iterations;
    const Vector y = equilibrium::Normalised(split.v, feed.species);
    const Vector x = equilibrium::Normalised(split.l, feed.species);
    if (!split.converged || !Distinct(x, y)) {
      const bool at_limit =
          feed.species.present[2] &&
          std::max(equilibrium::Salinity(x), equilibrium::Salinity(y)) > kAtLimit * limit_wt;
      // A split that passed everything but the check says more than a later
      // start that went nowhere: that reason stands.
      if (reason != Undecided::kNotGlobal) {
        reason = model.fault ? Undecided::kModelFailed
                 : at_limit  ? Undecided::kPhaseBeyondLimit
                             : Undecided::kNotConverged;
      }
      continue;
    }
    bool checked = false;
    for (const auto& pair : seen) {
      checked = checked || (!Distinct(pair[0], x) && !Distinct(pair[1], y)) ||
                (!Distinct(pair[0], y) && !Distinct(pair[1], x));
    }
    if (checked) continue;
    seen.push_back({x, y});
    const Vector phases[] = {x, y};
    const Vector ln_f[] = {split.ln_f_l, split.ln_f_v};
    const equilibrium::TangentPlaneSearch check = Check(model, grid, phases, ln_f, limit_wt);
    if (check.lowest.tpd >= -equilibrium::kTpdTolerance) {
      const double beta = Share(split.v, feed.species);
      return Decided(r, model, feed, {{y, beta}, {x, 1.0 - beta}}, split.G, split.max_gradient,
                     feed_ln_f, check, cap_wt);
    }
    reason = Undecided::kNotGlobal;
    r.certificate.min_tpd = check.lowest.tpd;
    if (check.lowest.tpd < lowest_below) {
      lowest_below = check.lowest.tpd;
      lowest_below_at_limit =
          feed.species.present[2] && equilibrium::Salinity(check.lowest.y) > kAtLimit * limit_wt;
    }
    Vector w = check.lowest.y;
    std::vector<Vector> next;
    for (int round = 0; round < 2; ++round) {
      Vector below{};
      if (TryThreePhases(r, model, grid, feed, feed_ln_f, x, y, Share(split.v, feed.species), w,
                         limit_wt, cap_wt, below, next)) {
        return r;
      }
      if (below == Vector{}) break;
      w = below;
    }
    // The trial phase below the plane, paired with either phase of the split.
    next.push_back(StartOnTieLine(feed, x, check.lowest.y));
    next.push_back(StartOnTieLine(feed, y, check.lowest.y));
    starts.insert(starts.begin() + static_cast<std::ptrdiff_t>(attempt) + 1, next.begin(),
                  next.end());
  }
  if (model.fault) r.fault = model.fault;
  if (reason == Undecided::kNotGlobal && lowest_below_at_limit) {
    reason = Undecided::kPhaseBeyondLimit;
  }
  return Undecide(r, reason);
}

// Starts for a split from the stability test: its lowest trial phase, then the
// other local minima below the feed's plane.
std::vector<Vector> StartsFrom(const equilibrium::FeedStability& test, const Feed& feed,
                               double limit_wt) {
  // The local minima first; the lowest trial phase, when it is none of them
  // (on the salinity limit, say), last.
  std::vector<Vector> starts;
  bool lowest_is_a_minimum = false;
  for (int k = 0; k < test.minima_count; ++k) {
    if (test.minima[k].tpd < -equilibrium::kTpdTolerance) {
      starts.push_back(
          equilibrium::StartFromTrial(feed, test.minima[k].y, limit_wt, test.minima[k].tpd));
      lowest_is_a_minimum = lowest_is_a_minimum || !Distinct(test.minima[k].y, test.lowest.y);
    }
  }
  if (!lowest_is_a_minimum) {
    starts.push_back(equilibrium::StartFromTrial(feed, test.lowest.y, limit_wt, test.lowest.tpd));
  }
  // Last, a brine of the feed's x_CO2 well inside the limit: where the model's
  // g is concave along salinity (a salt split), the distance may fall all the
  // way to the limit while the split's brine lies well inside it.
  if (feed.species.count == 3) {
    const double W = std::max(equilibrium::Salinity(feed.z), 0.85 * limit_wt);
    starts.push_back(equilibrium::StartFromTrial(
        feed, equilibrium::ToVector(CompositionFromSalinity(feed.z[0], W)), limit_wt));
  }
  return starts;
}

}  // namespace

FlashResult EquilibriumConditions::Flash(const Composition& x) const noexcept {
  FlashResult r;
  r.beta = kNaN;
  r.tpd_min = kNaN;
  const Feed feed = equilibrium::PrepareFeed(x, T_K_, P_atm_, options_.salinity_cap_wt);
  r.domain = feed.domain;
  if (!ConditionsUsable()) return Undecide(r, Undecided::kInvalidConditions);
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
      equilibrium::TestFeed(model, feed, *grid, domain_limit_wt_);
  r.tpd_min = test.lowest.tpd;
  if (test.verdict == Stability::kUndecided) {
    r.fault = model.fault;
    r.evaluations = model.evaluations;
    return Undecide(r, Undecided::kModelFailed);
  }
  if (test.verdict == Stability::kStable) {
    r = OnePhase(r, model, feed);
  } else {
    r = SplitAndCheck(r, model, *grid, feed, test.ln_f, StartsFrom(test, feed, domain_limit_wt_),
                      domain_limit_wt_, options_.salinity_cap_wt);
  }
  r.evaluations = model.evaluations;
  return r;
}

FlashResult EquilibriumConditions::Flash(const Composition& x,
                                         const FlashResult& near) const noexcept {
  if (near.phases < 2 || !grids_) return Flash(x);
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

  std::vector<Vector> starts;
  if (near.phases == 3) {
    if (WarmThreePhases(r, model, *grid, feed, feed_ln_f, near, domain_limit_wt_,
                        options_.salinity_cap_wt, starts)) {
      r.evaluations = model.evaluations;
      return r;
    }
  } else {
    starts.push_back(StartOnTieLine(feed, equilibrium::ToVector(near.brine.x),
                                    equilibrium::ToVector(near.co2_rich.x)));
  }
  if (!starts.empty()) {
    r = SplitAndCheck(r, model, *grid, feed, feed_ln_f, starts, domain_limit_wt_,
                      options_.salinity_cap_wt);
  }
  r.evaluations = model.evaluations;
  if (r.phases >= 2) return r;
  // A warm start that fails proves nothing: the cold flash decides.
  FlashResult cold = Flash(x);
  cold.evaluations += r.evaluations;
  cold.iterations += r.iterations;
  return cold;
}

}  // namespace quarn
