// The stability test of a feed and the Newton solution of a two-phase split.
#include <algorithm>
#include <cmath>
#include <limits>

#include "equilibrium/solvers.hpp"

namespace quarn::equilibrium {
namespace {

// Discrete local minima of the trial grid from which the distance is minimised.
constexpr int kStabilitySeeds = 4;

struct PhasePair {
  Vector v{}, l{}, y{}, x{};
  Vector ln_f_v{}, ln_f_l{}, ln_phi_v{}, ln_phi_l{};
  double G = 0.0;
  double max_gradient = 0.0;
};

bool EvaluatePair(Model& model, const Feed& feed, const Vector& v, double limit_wt, PhasePair& p) {
  const Species& s = feed.species;
  p.v = v;
  for (int a = 0; a < s.count; ++a) {
    const int i = s.index[a];
    p.l[i] = feed.z[i] - v[i];
    if (!(v[i] > 0.0) || !(p.l[i] > 0.0)) return false;
  }
  p.y = Normalised(p.v, s);
  p.x = Normalised(p.l, s);
  if (!InDomain(p.y, s, limit_wt) || !InDomain(p.x, s, limit_wt)) return false;
  if (!model.LnFugacity(p.y, s, p.ln_f_v, p.ln_phi_v)) return false;
  if (!model.LnFugacity(p.x, s, p.ln_f_l, p.ln_phi_l)) return false;
  p.G = 0.0;
  p.max_gradient = 0.0;
  for (int a = 0; a < s.count; ++a) {
    const int i = s.index[a];
    p.G += p.v[i] * p.ln_f_v[i] + p.l[i] * p.ln_f_l[i];
    p.max_gradient = std::max(p.max_gradient, std::fabs(p.ln_f_v[i] - p.ln_f_l[i]));
  }
  return true;
}

// The share beta of the phase y = K x solving the Rachford-Rice equation
// sum_i z_i (K_i - 1) / (1 + beta (K_i - 1)) = 0, by bisection between its
// asymptotes (a root outside (0, 1), a "negative flash", still gives phases to
// take the next K from); false when the K_i do not straddle 1.
bool RachfordRice(const Feed& feed, const Vector& K, double& beta) {
  const Species& s = feed.species;
  double K_min = INFINITY, K_max = 0.0;
  for (int a = 0; a < s.count; ++a) {
    K_min = std::min(K_min, K[s.index[a]]);
    K_max = std::max(K_max, K[s.index[a]]);
  }
  if (!(K_max > 1.0 && K_min < 1.0) || !std::isfinite(K_max)) return false;
  auto f = [&](double b) {
    double sum = 0.0;
    for (int a = 0; a < s.count; ++a) {
      const int i = s.index[a];
      sum += feed.z[i] * (K[i] - 1.0) / (1.0 + b * (K[i] - 1.0));
    }
    return sum;
  };
  const double lowest = 1.0 / (1.0 - K_max), highest = 1.0 / (1.0 - K_min);
  double low = lowest + 1e-12 * (highest - lowest), high = highest - 1e-12 * (highest - lowest);
  for (int k = 0; k < 100 && high - low > 1e-15 * std::max(1.0, std::fabs(low)); ++k) {
    const double middle = 0.5 * (low + high);
    (f(middle) > 0.0 ? low : high) = middle;
  }
  beta = 0.5 * (low + high);
  return std::isfinite(beta);
}

}  // namespace

FeedStability TestFeed(Model& model, const Feed& feed, const internal::TrialGrid& grid,
                       double cap_wt) {
  FeedStability result;
  Vector ln_phi;
  if (!model.LnFugacity(feed.z, feed.species, result.ln_f, ln_phi)) return result;
  TangentPlaneSearch search;
  const Vector known[] = {feed.z};
  if (!SearchBelowTangentPlane(model, grid, result.ln_f, known, kStabilitySeeds, cap_wt, search)) {
    return result;
  }
  result.lowest = search.lowest;
  result.minima = search.minima;
  result.minima_count = search.minima_count;
  result.verdict = search.lowest.tpd < -kTpdTolerance ? Stability::kUnstable : Stability::kStable;
  return result;
}

Vector StartFromTrial(const Feed& feed, const Vector& trial, double cap_wt) {
  // A trial on the cap starts a little inside it, so that the first steps of
  // the split may go either way.
  Vector y = trial;
  if (feed.species.present[2] && Salinity(y) > 0.95 * cap_wt) {
    const double s = SaltFractionOfSolvent(0.95 * cap_wt);
    y = {y[0], (1.0 - y[0]) * (1.0 - s), (1.0 - y[0]) * s};
  }
  double room = std::numeric_limits<double>::infinity();
  for (int a = 0; a < feed.species.count; ++a) {
    const int i = feed.species.index[a];
    room = std::min(room, feed.z[i] / y[i]);
  }
  // Half the largest share of the trial phase the feed can give, less while
  // the remainder's salinity is beyond the cap.
  double beta = 0.5 * std::min(room, 1.0);
  Vector v{}, l{};
  for (int halving = 0; halving < 40; ++halving, beta *= 0.5) {
    for (int a = 0; a < feed.species.count; ++a) {
      const int i = feed.species.index[a];
      v[i] = beta * y[i];
      l[i] = feed.z[i] - v[i];
    }
    if (InDomain(Normalised(l, feed.species), feed.species, cap_wt)) break;
  }
  return v;
}

Split SolveSplit(Model& model, const Feed& feed, const Vector& v0, double limit_wt) {
  constexpr int kIterations = 60;
  constexpr double kConverged = 1e-11;
  constexpr double kNoiseFloor = 1e-8;
  constexpr int kSubstitutions = 8;
  // Closer than this Newton steps converge: a warm start goes to them at once.
  constexpr double kSubstituteAbove = 0.02;
  const Species& s = feed.species;
  const int m = s.count;
  Split split;
  PhasePair p;
  if (!EvaluatePair(model, feed, v0, limit_wt, p)) return split;
  auto store = [&] {
    split.v = p.v;
    split.l = p.l;
    split.ln_f_v = p.ln_f_v;
    split.ln_f_l = p.ln_f_l;
    split.ln_phi_v = p.ln_phi_v;
    split.ln_phi_l = p.ln_phi_l;
    split.G = p.G;
    split.max_gradient = p.max_gradient;
  };
  // Successive substitution first, K_i = phi_i(x) / phi_i(y) with the
  // Rachford-Rice share, over the phases' compositions alone (the share may
  // leave (0, 1) on the way): robust far from the solution, where a Newton
  // step from a poor start may run to a trivial split.
  Vector K{};
  for (int a = 0; a < m; ++a)
    K[s.index[a]] = std::exp(p.ln_phi_l[s.index[a]] - p.ln_phi_v[s.index[a]]);
  for (int step = 0; step < kSubstitutions && p.max_gradient > kSubstituteAbove; ++step) {
    double beta = 0.0;
    if (!RachfordRice(feed, K, beta)) break;
    Vector x{}, y{}, ln_f_x, ln_f_y, ln_phi_x, ln_phi_y;
    for (int a = 0; a < m; ++a) {
      const int i = s.index[a];
      x[i] = feed.z[i] / (1.0 + beta * (K[i] - 1.0));
      y[i] = K[i] * x[i];
    }
    x = Normalised(x, s);
    y = Normalised(y, s);
    if (!InDomain(x, s, limit_wt) || !InDomain(y, s, limit_wt) ||
        !model.LnFugacity(x, s, ln_f_x, ln_phi_x) || !model.LnFugacity(y, s, ln_f_y, ln_phi_y)) {
      break;
    }
    for (int a = 0; a < m; ++a)
      K[s.index[a]] = std::exp(ln_phi_x[s.index[a]] - ln_phi_y[s.index[a]]);
    if (beta > 0.0 && beta < 1.0) {
      Vector v{};
      for (int a = 0; a < m; ++a) v[s.index[a]] = beta * y[s.index[a]];
      PhasePair q;
      if (EvaluatePair(model, feed, v, limit_wt, q) && q.G < p.G) p = q;
    }
  }
  store();
  int stalled = 0;
  for (int iteration = 0; iteration < kIterations; ++iteration) {
    if (p.max_gradient < kConverged) {
      split.converged = true;
      break;
    }
    // The model's ln phi carry some 1e-10 of rounding noise in places (the
    // cubic's closed-form root): below kNoiseFloor steps that no longer gain
    // end the iteration as converged.
    if (p.max_gradient < kNoiseFloor && stalled >= 2) {
      split.converged = true;
      break;
    }
    Matrix dv, dl;
    if (!model.LnPhiDerivatives(p.y, s, dv) ||
        !model.LnPhiDerivatives(p.x, s, dl)) {
      break;
    }
    double V = 0.0, L = 0.0;
    for (int a = 0; a < m; ++a) {
      V += p.v[s.index[a]];
      L += p.l[s.index[a]];
    }
    // d ln f_i / d n_j = delta_ij / n_i - 1/N + Phi_ij / n_j in each phase.
    Matrix H{};
    Vector g{};
    for (int a = 0; a < m; ++a) {
      const int i = s.index[a];
      g[a] = p.ln_f_v[i] - p.ln_f_l[i];
      for (int b = 0; b < m; ++b) {
        const int j = s.index[b];
        const double diagonal = a == b ? 1.0 / p.v[i] + 1.0 / p.l[i] : 0.0;
        H[a][b] = diagonal - 1.0 / V - 1.0 / L + dv[i][j] / p.v[j] + dl[i][j] / p.l[j];
      }
    }
    Vector step{};
    if (!DescentStep(H, g, m, step)) break;
    double largest = 1.0, slope = 0.0;
    for (int a = 0; a < m; ++a) {
      const int i = s.index[a];
      if (step[a] < 0.0) largest = std::min(largest, 0.95 * p.v[i] / -step[a]);
      if (step[a] > 0.0) largest = std::min(largest, 0.95 * p.l[i] / step[a]);
      slope += g[a] * step[a];
    }
    bool accepted = false;
    for (double scale = largest; scale > 1e-9 * largest && !accepted; scale *= 0.5) {
      Vector v{};
      for (int a = 0; a < m; ++a) v[s.index[a]] = p.v[s.index[a]] + scale * step[a];
      PhasePair q;
      if (!EvaluatePair(model, feed, v, limit_wt, q)) continue;
      // Close to the solution the gradient decides: G changes there by less
      // than the model's departure from an exact Gibbs energy (its ln phi_i
      // are the derivatives of n g to some 1e-7), which can make an exact
      // Newton step look uphill.
      const bool descends = q.G <= p.G + 1e-4 * scale * slope;
      const bool closer = p.max_gradient < 1e-3 && q.max_gradient < 0.5 * p.max_gradient;
      if (descends || closer) {
        stalled = q.max_gradient < 0.5 * p.max_gradient ? 0 : stalled + 1;
        p = q;
        accepted = true;
      }
    }
    ++split.iterations;
    if (!accepted) break;
    store();
  }
  if (p.max_gradient < kConverged || (p.max_gradient < kNoiseFloor && stalled >= 2)) {
    split.converged = true;
  }
  return split;
}

}  // namespace quarn::equilibrium
