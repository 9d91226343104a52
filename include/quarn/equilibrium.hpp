// Where an H2O-CO2-NaCl fluid unmixes: the stability of a fluid, the two-phase
// isothermal-isobaric flash in which NaCl partitions freely between a brine and
// a CO2-rich fluid, and the one-phase limit along a section of constant solvent
// salinity. Built on the equation of state of quarn/eos.hpp alone.
//
// The solvers work on ln f_i = ln x_i + ln phi_i of the unrounded method
// (Method::kUnrounded), whose composition derivatives are smooth; every phase
// they return is also evaluated with the report-exact method, and the answer
// carries the checks that passed. Nothing here does I/O or throws; a failure is
// a status. The objects are immutable once made, and every function may be
// called from many threads at once.
//
// Mole fractions are in the order CO2, H2O, NaCl; salinities are the weight
// percent of NaCl in the solvent (the H2O and NaCl of a phase), the model's W.
#pragma once

#include <cmath>
#include <cstddef>
#include <memory>
#include <span>

#include "quarn/eos.hpp"

namespace quarn {

struct EquilibriumOptions {
  // The largest solvent salinity, in wt% NaCl, of a feed. Brines above about
  // 50 wt% would precipitate halite, which the model lacks.
  double salinity_cap_wt = 50.0;
  // The largest salinity of a trial phase of the stability test and the global
  // check, and of an equilibrium phase: the domain over which the answers are
  // global. A brine between the cap and this limit is given, its answer flagged
  // kPhaseBeyondCap; beyond it the flash is undecided. Brines in equilibrium
  // with CO2-rich fluids reach some 79 wt% in the model from 400 C up. Below
  // about 400 C the model's ln phi runs away at lower salinities (some 58 wt%
  // at 350 C), and the domain then ends there instead (EquilibriumConditions::
  // domain_limit_wt). Not below the cap.
  double phase_salinity_limit_wt = 85.0;
};

// Bits of `domain` in the answers: what lies outside the model's stated range
// (350-600 C, at least 500 bar). Such states are computed all the same.
inline constexpr unsigned kTemperatureOutsideRange = 1;
inline constexpr unsigned kPressureOutsideRange = 2;
// The feed's solvent is saltier than the cap: nothing is decided for it.
inline constexpr unsigned kFeedBeyondCap = 4;
// The feed's mole fractions do not sum to 1 within 1e-6; they were scaled to.
inline constexpr unsigned kFeedNormalised = 8;
// An equilibrium phase is saltier than the cap: in nature such a brine would
// most likely be saturated in halite, which the model lacks.
inline constexpr unsigned kPhaseBeyondCap = 16;

// A salinity in wt% NaCl of the solvent of mole fractions x (0 without salt).
double SalinityWt(const Composition& x) noexcept;
// The composition of mole fraction x_CO2 whose solvent has salinity wt_NaCl.
Composition CompositionFromSalinity(double x_CO2, double wt_NaCl) noexcept;

enum class Stability : unsigned char {
  kStable,     // no trial phase of the domain lies below the feed's tangent plane
  kUnstable,   // one does: the fluid unmixes
  kUndecided,  // the model failed on the way, or the feed lies beyond the cap
};
const char* StabilityName(Stability verdict) noexcept;  // "stable", "unstable", "undecided"

// The tangent-plane test: tpd(y) = sum_i y_i (ln f_i(y) - ln f_i(z)), in units
// of RT per mole of the trial phase y, over a grid of trial compositions up to
// the domain's salinity limit and then minimised locally from the lowest of
// them and from starts around the feed, where incipient phases appear first.
struct StabilityResult {
  Stability verdict = Stability::kUndecided;
  double tpd_min = 0.0;  // the smallest distance found (NaN when undecided early)
  Composition trial;     // the trial phase where it was found
  int evaluations = 0;   // evaluations of the model in this call
  unsigned domain = 0;   // the bits above
  Fault fault;           // the first failure of the model, if one ended the test
};

enum class FlashStatus : unsigned char {
  kOnePhase,         // stable: one phase
  kBrineAndCO2Rich,  // a brine and a CO2-rich fluid
  kSaltSplit,        // two phases of nearly equal x_CO2 and different salinities: the
                     // model's g is concave along salinity there; a property of the
                     // model, not a known behaviour of nature
  kUndecided,        // no answer that passed every check
  kThreePhases,      // a brine, a saline CO2-bearing phase and a CO2-rich fluid
};
// "one phase", "brine + CO2-rich", "salt split", "undecided", "three phases"
const char* FlashStatusName(FlashStatus status) noexcept;

// Why a flash is undecided.
enum class Undecided : unsigned char {
  kNo,
  kInvalidFeed,        // mole fractions negative, not finite, or all zero
  kModelFailed,        // an elementary function failed (see `fault`)
  kFeedBeyondCap,      // the feed's salinity is above the cap
  kPhaseBeyondLimit,   // an equilibrium phase would lie beyond the phase salinity limit
  kNotConverged,       // the solver did not reach equal fugacities
  kNotGlobal,          // a trial phase stays below every tangent plane found
  kInvalidConditions,  // T or P not a positive, finite number
};
const char* UndecidedName(Undecided reason) noexcept;

struct Phase {
  Composition x;
  double wt_NaCl = 0.0;  // salinity of its solvent
  Result result;         // the report-exact method's numbers for it
};

// Why to trust an answer of two or three phases.
struct FlashCertificate {
  // The largest |ln f_i(one phase) - ln f_i(another)| over the pairs of
  // phases, with the report-exact method (about 1e-7: its single-precision
  // steps), and with the unrounded one the solver uses (rounding level).
  double max_delta_ln_f = 0.0;
  double max_delta_ln_f_unrounded = 0.0;
  // The largest |sum over the phases of share times x_i - z_i| over the species.
  double mass_balance = 0.0;
  // The Gibbs energy of the phases less that of the feed as one phase, per
  // mole of feed, in units of RT: negative.
  double delta_G_RT = 0.0;
  // The smallest tangent-plane distance from the equilibrium's tangent plane
  // over the trial grid up to the domain's salinity limit and the local
  // minimisations from its lowest points: not below -1e-9 for an answer that
  // passed.
  double min_tpd = 0.0;
  int trial_phases = 0;  // trial compositions that went into min_tpd
};

struct FlashResult {
  FlashStatus status = FlashStatus::kUndecided;
  Undecided undecided = Undecided::kNo;
  int phases = 0;     // 1, 2 or 3; 0 when undecided
  double beta = 0.0;  // share of the moles in the CO2-rich phase; NaN for one phase
  // Share of the moles in the saline CO2-bearing phase: NaN unless three
  // phases. The brine has the rest.
  double beta_saline = 0.0;
  // Of two phases, the brine is the one of the higher salinity (of a salt
  // split) or the lower x_CO2. Of three, the CO2-rich fluid is the freshest,
  // the brine the poorer in CO2 of the other two, and the saline CO2-bearing
  // phase the third. For one phase each is the bulk fluid; for two the saline
  // phase is the brine.
  Phase brine, co2_rich, saline_co2_bearing;
  FlashCertificate certificate;  // for two and three phases
  double tpd_min = 0.0;          // of the stability test (one phase: its smallest distance)
  int iterations = 0;            // Newton iterations of the flash
  int evaluations = 0;           // evaluations of the model in this call
  unsigned domain = 0;
  Fault fault;
};

enum class LimitStatus : unsigned char {
  kFound,      // the fluid unmixes from x_CO2 upwards
  kNoLimit,    // one phase along the whole section (x_CO2 up to 0.999)
  kUndecided,  // a stability test was undecided, or the salinity is beyond the cap
};
const char* LimitStatusName(LimitStatus status) noexcept;  // "found", "no limit", "undecided"

// The one-phase limit of a section of constant solvent salinity: the lowest
// bulk x_CO2 at which the fluid unmixes, to within `x_CO2_tolerance`, and the
// phase that appears there.
struct OnePhaseLimit {
  LimitStatus status = LimitStatus::kUndecided;
  double x_CO2 = 0.0;  // NaN unless found
  double x_CO2_tolerance = 0.0;
  Composition incipient;  // the incipient phase (the stability test's trial just above)
  double incipient_wt_NaCl = 0.0;
  int evaluations = 0;
  unsigned domain = 0;
  Fault fault;
};

namespace internal {
struct TrialGrids;
}

// The phase equilibria of one temperature and pressure. Making it evaluates
// the model on the trial grids (some 2,500 evaluations, under a millisecond), which
// every call then shares; copies share them too.
class EquilibriumConditions {
 public:
  EquilibriumConditions(double T_K, double P_atm, const EquilibriumOptions& options = {}) noexcept;

  StabilityResult TestStability(const Composition& feed) const noexcept;
  // The cold flash: the stability test, then the split from its trial phase,
  // then the global check of the split's tangent plane.
  FlashResult Flash(const Composition& feed) const noexcept;
  // The warm flash: the split started from the phases of `near` (an answer of
  // two or three phases of a nearby feed, temperature or pressure; three phases
  // by the lever rule inside their triangle), then the same global check.
  // Falls back to the cold flash when `near` has one phase or none, or the
  // start fails.
  FlashResult Flash(const Composition& feed, const FlashResult& near) const noexcept;
  OnePhaseLimit OnePhaseLimitAt(double wt_NaCl) const noexcept;

  // Evaluations the trial grids took when these conditions were made.
  int grid_evaluations() const noexcept;
  // The largest salinity of a trial or equilibrium phase here: the phase
  // salinity limit, or less where the model's ln phi runs away first.
  double domain_limit_wt() const noexcept { return domain_limit_wt_; }
  // False when the grids could not be made (a cap outside (0, 100), T or P not
  // a positive finite number, no memory, or the model failed on every trial
  // composition of a kind); every call then answers undecided.
  bool valid() const noexcept { return grids_ != nullptr; }
  // Whether T and P are positive finite numbers: the model's own numbers for
  // others (a negative volume at a negative pressure) decide nothing.
  bool ConditionsUsable() const noexcept {
    return T_K_ > 0.0 && P_atm_ > 0.0 && std::isfinite(T_K_) && std::isfinite(P_atm_);
  }

 private:
  double T_K_, P_atm_;
  Conditions conditions_;  // the equation of state's terms of T, worked out once
  EquilibriumOptions options_;
  double domain_limit_wt_ = 0.0;
  std::shared_ptr<const internal::TrialGrids> grids_;
};

// Batch forms over columns, on `threads` threads (0: every hardware thread).
// Each input column holds one value for all points or one per point, the
// outputs one per point. The points are taken in order of their T and P, so
// that all the points of one T and P share their conditions (trial grids
// included) wherever they stand: the order of the points, like the thread
// count, changes neither the answers nor, beyond a few remade conditions where
// threads' shares meet, the cost. Returns false, and computes nothing, when
// the lengths do not fit.
[[nodiscard]] bool FlashBatch(std::span<const double> T_K, std::span<const double> P_atm,
                              std::span<const double> x_CO2, std::span<const double> x_H2O,
                              std::span<const double> x_NaCl, std::span<FlashResult> results,
                              const EquilibriumOptions& options = {},
                              unsigned threads = 0) noexcept;
[[nodiscard]] bool StabilityBatch(std::span<const double> T_K, std::span<const double> P_atm,
                                  std::span<const double> x_CO2, std::span<const double> x_H2O,
                                  std::span<const double> x_NaCl,
                                  std::span<StabilityResult> results,
                                  const EquilibriumOptions& options = {},
                                  unsigned threads = 0) noexcept;
[[nodiscard]] bool OnePhaseLimitBatch(std::span<const double> T_K, std::span<const double> P_atm,
                                      std::span<const double> wt_NaCl,
                                      std::span<OnePhaseLimit> results,
                                      const EquilibriumOptions& options = {},
                                      unsigned threads = 0) noexcept;

}  // namespace quarn
