// Where a bulk fluid changes between one and two phases along a path of
// states: the stability test's verdict scanned step by step, each change
// bisected to the tolerance.
#include <algorithm>
#include <cmath>

#include "quarn/fluid.hpp"

namespace quarn {
namespace {

constexpr double kAtmPerBar = 1.0 / 1.01325;
// More scanned points than this is a step too small for its range: nothing is
// scanned.
constexpr double kMostSteps = 100000.0;

// The verdict at the point s of a path (a pressure or a temperature), with the
// state it stands for.
struct PathPoint {
  double s = 0.0, T_K = 0.0, P_atm = 0.0;
  Stability verdict = Stability::kUndecided;
  Composition trial;
};

PathPoint VerdictAt(double s, double T_K, double P_atm, const Composition& x,
                    const EquilibriumOptions& options) {
  PathPoint point{s, T_K, P_atm, Stability::kUndecided, {}};
  const EquilibriumConditions conditions(T_K, P_atm, options);
  if (!conditions.valid()) return point;
  const StabilityResult r = conditions.TestStability(x);
  point.verdict = r.verdict;
  point.trial = r.trial;
  return point;
}

bool Decided(const PathPoint& p) {
  return p.verdict != Stability::kUndecided;
}

// The boundary between a and b (a before b along the path, verdicts
// different and decided), bisected until the bracket is within `tolerance`
// or a verdict in it is undecided.
template <class At>
PhaseBoundary Bisect(PathPoint a, PathPoint b, double tolerance, const Composition& x, const At& at,
                     PhaseBoundaries& result) {
  while (b.s - a.s > tolerance) {
    const PathPoint middle = at(0.5 * (a.s + b.s));
    ++result.stability_tests;
    if (!Decided(middle)) break;
    (middle.verdict == a.verdict ? a : b) = middle;
  }
  PhaseBoundary boundary;
  const PathPoint centre = at.State(0.5 * (a.s + b.s));
  boundary.T_K = centre.T_K;
  boundary.P_atm = centre.P_atm;
  boundary.bracket = b.s - a.s;
  boundary.one_phase_above = b.verdict == Stability::kStable;
  const PathPoint& one_phase = boundary.one_phase_above ? b : a;
  const PathPoint& two_phase = boundary.one_phase_above ? a : b;
  const Evaluation e = Evaluate(one_phase.T_K, one_phase.P_atm, x);
  boundary.V_cm3_per_mol = e.result.V_cm3_per_mol;
  boundary.rho_g_per_cm3 = MassDensity(x, e.result.V_cm3_per_mol);
  boundary.incipient = two_phase.trial;
  boundary.incipient_wt_NaCl = SalinityWt(two_phase.trial);
  return boundary;
}

template <class At>
PhaseBoundaries Scan(double low, double high, double step, double tolerance, const Composition& x,
                     const At& at) {
  PhaseBoundaries result;
  if (!(low <= high) || !std::isfinite(low) || !std::isfinite(high) || !(step > 0.0) ||
      !(tolerance > 0.0) || (high - low) / step > kMostSteps) {
    return result;
  }
  // A range that is a whole number of steps but for rounding takes that many.
  const int steps = std::max(1, static_cast<int>(std::ceil((high - low) / step - 1e-9)));
  PathPoint previous = at(low);
  result.stability_tests = 1;
  result.first = previous.verdict;
  if (!Decided(previous)) ++result.undecided_steps;
  for (int k = 1; k <= steps; ++k) {
    const double s = k == steps ? high : low + (high - low) * k / steps;
    const PathPoint point = at(s);
    ++result.stability_tests;
    if (!Decided(point)) ++result.undecided_steps;
    if (Decided(previous) && Decided(point) && point.verdict != previous.verdict) {
      if (result.count < kMostBoundaries) {
        result.boundaries[result.count++] = Bisect(previous, point, tolerance, x, at, result);
      } else {
        result.more = true;
      }
    }
    previous = point;
  }
  result.last = previous.verdict;
  return result;
}

// The points of a path: the state of s, and its verdict.
struct AlongPressure {
  double T_K;
  const Composition& x;
  const EquilibriumOptions& options;
  PathPoint State(double P_atm) const { return {P_atm, T_K, P_atm, Stability::kUndecided, {}}; }
  PathPoint operator()(double P_atm) const { return VerdictAt(P_atm, T_K, P_atm, x, options); }
};

struct AlongIsochore {
  double V;
  const Composition& x;
  const EquilibriumOptions& options;
  PathPoint State(double T_K) const {
    return {T_K, T_K, IsochorePressure(T_K, x, V).P_atm, Stability::kUndecided, {}};
  }
  // A point the method does not give at the isochore's pressure has no verdict.
  PathPoint operator()(double T_K) const {
    const IsochorePoint p = IsochorePressure(T_K, x, V);
    if (p.fault || p.flags != 0) return {T_K, T_K, p.P_atm, Stability::kUndecided, {}};
    return VerdictAt(T_K, T_K, p.P_atm, x, options);
  }
};

}  // namespace

PhaseBoundaries BoundariesAlongPressure(double T_K, const Composition& x, double P_low_atm,
                                        double P_high_atm, const BoundaryScan& scan) noexcept {
  const double step = scan.step > 0.0 ? scan.step : 50.0 * kAtmPerBar;
  const double tolerance = scan.tolerance > 0.0 ? scan.tolerance : 0.01 * kAtmPerBar;
  return Scan(P_low_atm, P_high_atm, step, tolerance, x, AlongPressure{T_K, x, scan.equilibrium});
}

PhaseBoundaries BoundariesAlongIsochore(const Composition& x, double V_cm3_per_mol, double T_low_K,
                                        double T_high_K, const BoundaryScan& scan) noexcept {
  const double step = scan.step > 0.0 ? scan.step : 5.0;
  const double tolerance = scan.tolerance > 0.0 ? scan.tolerance : 0.01;
  return Scan(T_low_K, T_high_K, step, tolerance, x,
              AlongIsochore{V_cm3_per_mol, x, scan.equilibrium});
}

}  // namespace quarn
