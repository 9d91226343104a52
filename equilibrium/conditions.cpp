// The conditions' trial grids, the feed's preparation, the public helpers and
// names.
#include <algorithm>
#include <cmath>
#include <new>

#include "equilibrium/feed.hpp"
#include "equilibrium/tangent_plane.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn {
namespace equilibrium {

unsigned RangeBits(double T_K, double P_atm) {
  unsigned bits = 0;
  const double T_C = T_K - 273.15;
  // The stated range, with room for the single-precision inputs of a run file.
  if (!(T_C >= 350.0 - 1e-4 && T_C <= 600.0 + 1e-4)) bits |= kTemperatureOutsideRange;
  if (!(P_atm * 1.01325 >= 500.0 - 1e-4)) bits |= kPressureOutsideRange;
  return bits;
}

// The relative rounding of a salinity's round trip through mole fractions.
constexpr double kCapRounding = 1e-12;

Feed PrepareFeed(const Composition& x, double T_K, double P_atm, double cap_wt) {
  Feed feed;
  feed.domain = RangeBits(T_K, P_atm);
  Vector raw = ToVector(x);
  double sum = 0.0, largest = 0.0;
  for (double v : raw) {
    if (!(v >= 0.0) || !std::isfinite(v)) return feed;
    sum += v;
    largest = std::max(largest, v);
  }
  if (!(sum > 0.0)) return feed;
  if (!std::isfinite(sum)) {
    // Fractions so large that their sum overflows: scaled by the largest first.
    for (double& v : raw) v /= largest;
    sum = raw[0] + raw[1] + raw[2];
    feed.domain |= kFeedNormalised;
  }
  if (std::fabs(sum - 1.0) > 1e-6) feed.domain |= kFeedNormalised;
  for (int i = 0; i < 3; ++i) feed.z[i] = raw[i] / sum;
  feed.species = PresentIn(feed.z);
  // A feed made from a salinity of exactly the cap may come back a rounding
  // above it: that is the cap.
  if (feed.species.present[2] && Salinity(feed.z) > cap_wt * (1.0 + kCapRounding)) {
    feed.domain |= kFeedBeyondCap;
    return feed;
  }
  feed.usable = true;
  return feed;
}

}  // namespace equilibrium

double SalinityWt(const Composition& x) noexcept {
  return equilibrium::Salinity(equilibrium::ToVector(x));
}

Composition CompositionFromSalinity(double x_CO2, double wt_NaCl) noexcept {
  const double s = equilibrium::SaltFractionOfSolvent(wt_NaCl);
  return {x_CO2, (1.0 - x_CO2) * (1.0 - s), (1.0 - x_CO2) * s};
}

EquilibriumConditions::EquilibriumConditions(double T_K, double P_atm,
                                             const EquilibriumOptions& options) noexcept
    : T_K_(T_K), P_atm_(P_atm), conditions_(T_K, P_atm), options_(options) {
  // A cap outside (0, 100), or a temperature or pressure that is not a
  // positive number, leaves nothing to decide.
  if (!(options.salinity_cap_wt > 0.0 && options.salinity_cap_wt < 100.0)) return;
  if (!ConditionsUsable()) return;
  options_.phase_salinity_limit_wt =
      std::clamp(options.phase_salinity_limit_wt, options.salinity_cap_wt, 99.0);
  domain_limit_wt_ = internal::DomainLimit(conditions_, options_.salinity_cap_wt,
                                           options_.phase_salinity_limit_wt);
  try {
    auto grids = std::make_shared<internal::TrialGrids>();
    if (internal::MakeTrialGrids(conditions_, domain_limit_wt_, *grids)) {
      grids_ = std::move(grids);
    }
  } catch (const std::bad_alloc&) {
    grids_.reset();
  }
}

int EquilibriumConditions::grid_evaluations() const noexcept {
  return grids_ ? grids_->evaluations : 0;
}

const char* StabilityName(Stability verdict) noexcept {
  switch (verdict) {
    case Stability::kStable:
      return "stable";
    case Stability::kUnstable:
      return "unstable";
    case Stability::kUndecided:
      break;
  }
  return "undecided";
}

const char* FlashStatusName(FlashStatus status) noexcept {
  switch (status) {
    case FlashStatus::kOnePhase:
      return "one phase";
    case FlashStatus::kBrineAndCO2Rich:
      return "brine + CO2-rich";
    case FlashStatus::kSaltSplit:
      return "salt split";
    case FlashStatus::kThreePhases:
      return "three phases";
    case FlashStatus::kUndecided:
      break;
  }
  return "undecided";
}

const char* UndecidedName(Undecided reason) noexcept {
  switch (reason) {
    case Undecided::kNo:
      return "";
    case Undecided::kInvalidFeed:
      return "not a composition";
    case Undecided::kModelFailed:
      return "model failed";
    case Undecided::kFeedBeyondCap:
      return "feed beyond the salinity cap";
    case Undecided::kPhaseBeyondLimit:
      return "a phase beyond the salinity limit";
    case Undecided::kNotConverged:
      return "not converged";
    case Undecided::kNotGlobal:
      return "a trial phase below the tangent plane";
    case Undecided::kInvalidConditions:
      return "not a temperature and pressure";
  }
  return "";
}

const char* LimitStatusName(LimitStatus status) noexcept {
  switch (status) {
    case LimitStatus::kFound:
      return "found";
    case LimitStatus::kNoLimit:
      return "no limit";
    case LimitStatus::kUndecided:
      break;
  }
  return "undecided";
}

}  // namespace quarn
