// The Newton solution of a two-phase split and of three phases.
#include <algorithm>
#include <cmath>
#include <limits>

#include "equilibrium/solvers.hpp"

namespace quarn::equilibrium {
namespace {

struct PhasePair {
  Vector v{}, l{}, y{}, x{};
  Vector ln_f_v{}, ln_f_l{}, ln_phi_v{}, ln_phi_l{};
  double G = 0.0;
  double max_gradient = 0.0;
};

// Whether a Newton step of the Gibbs energy from G to G_new (along a descent
// of `descent`, negative) is taken: where it descends, or close to the
// solution where it halves the largest difference of ln f. G changes there by
// less than the model's departure from an exact Gibbs energy (its ln phi_i are
// the derivatives of n g to some 1e-7), which can make an exact Newton step
// look uphill. `stalled` counts the steps taken that did not halve it.
bool AcceptStep(double G, double G_new, double descent, double gradient, double gradient_new,
                int& stalled) {
  const bool descends = G_new <= G + 1e-4 * descent;
  const bool closer = gradient < 1e-3 && gradient_new < 0.5 * gradient;
  if (!descends && !closer) return false;
  stalled = gradient_new < 0.5 * gradient ? 0 : stalled + 1;
  return true;
}

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
  // sum_i z_i (K_i - 1) / (1 + b (K_i - 1)), the parts that do not change
  // with b worked out once.
  double excess[3] = {}, weight[3] = {};
  for (int a = 0; a < s.count; ++a) {
    excess[a] = K[s.index[a]] - 1.0;
    weight[a] = feed.z[s.index[a]] * excess[a];
  }
  auto f = [&](double b) {
    double sum = 0.0;
    for (int a = 0; a < s.count; ++a) sum += weight[a] / (1.0 + b * excess[a]);
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

Vector StartFromTrial(const Feed& feed, const Vector& trial, double limit_wt, double tpd) {
  // A trial on the salinity limit starts a little inside it, so that the first
  // steps of the split may go either way.
  Vector y = trial;
  if (feed.species.present[2] && Salinity(y) > 0.95 * limit_wt) {
    const double s = SaltFractionOfSolvent(0.95 * limit_wt);
    y = {y[0], (1.0 - y[0]) * (1.0 - s), (1.0 - y[0]) * s};
  }
  double room = std::numeric_limits<double>::infinity();
  for (int a = 0; a < feed.species.count; ++a) {
    const int i = feed.species.index[a];
    room = std::min(room, feed.z[i] / y[i]);
  }
  // Half the largest share of the trial phase the feed can give, less while
  // the remainder's salinity is beyond the limit. A trial barely below the
  // feed's plane is an incipient phase: just past a phase boundary its share
  // is a trace, of the order of the distance, and the split starts there.
  double beta = std::min(0.5, 30.0 * std::fabs(tpd)) * std::min(room, 1.0);
  Vector v{}, l{};
  for (int halving = 0; halving < 40; ++halving, beta *= 0.5) {
    for (int a = 0; a < feed.species.count; ++a) {
      const int i = feed.species.index[a];
      v[i] = beta * y[i];
      l[i] = feed.z[i] - v[i];
    }
    if (InDomain(Normalised(l, feed.species), feed.species, limit_wt)) break;
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
    K[s.index[a]] =
        elementary::CorrectlyRoundedExp(p.ln_phi_l[s.index[a]] - p.ln_phi_v[s.index[a]]);
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
      K[s.index[a]] = elementary::CorrectlyRoundedExp(ln_phi_x[s.index[a]] - ln_phi_y[s.index[a]]);
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
    if (!model.LnPhiDerivatives(p.y, s, dv) || !model.LnPhiDerivatives(p.x, s, dl)) {
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
      if (AcceptStep(p.G, q.G, scale * slope, p.max_gradient, q.max_gradient, stalled)) {
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

namespace quarn::equilibrium {
namespace {

// Three phases of amounts n[0], n[1] and n[2] = z - n[0] - n[1], evaluated.
struct PhaseTriple {
  std::array<Vector, 3> n{}, x{}, ln_f{}, ln_phi{};
  double G = 0.0;
  double max_gradient = 0.0;  // max over the species of |ln f_i(a) - ln f_i(2)|, a = 0, 1
};

bool EvaluateTriple(Model& model, const Feed& feed, const Vector& n0, const Vector& n1,
                    double limit_wt, PhaseTriple& t) {
  const Species& s = feed.species;
  t.n[0] = n0;
  t.n[1] = n1;
  for (int a = 0; a < s.count; ++a) {
    const int i = s.index[a];
    t.n[2][i] = feed.z[i] - n0[i] - n1[i];
    for (int p = 0; p < 3; ++p) {
      if (!(t.n[p][i] > 0.0)) return false;
    }
  }
  for (int p = 0; p < 3; ++p) {
    t.x[p] = Normalised(t.n[p], s);
    if (!InDomain(t.x[p], s, limit_wt) || !model.LnFugacity(t.x[p], s, t.ln_f[p], t.ln_phi[p])) {
      return false;
    }
  }
  t.G = 0.0;
  t.max_gradient = 0.0;
  for (int a = 0; a < s.count; ++a) {
    const int i = s.index[a];
    for (int p = 0; p < 3; ++p) t.G += t.n[p][i] * t.ln_f[p][i];
    for (int p = 0; p < 2; ++p) {
      t.max_gradient = std::max(t.max_gradient, std::fabs(t.ln_f[p][i] - t.ln_f[2][i]));
    }
  }
  return true;
}

// d ln f_i / d n_j of one phase of amounts n: delta_ij / n_i - 1/N + Phi_ij / n_j.
bool FugacityJacobian(Model& model, const Species& s, const Vector& n, const Vector& x, Matrix& J) {
  Matrix Phi;
  if (!model.LnPhiDerivatives(x, s, Phi)) return false;
  double N = 0.0;
  for (int a = 0; a < s.count; ++a) N += n[s.index[a]];
  J = {};
  for (int a = 0; a < s.count; ++a) {
    const int i = s.index[a];
    for (int b = 0; b < s.count; ++b) {
      const int j = s.index[b];
      J[i][j] = (a == b ? 1.0 / n[i] : 0.0) - 1.0 / N + Phi[i][j] / n[j];
    }
  }
  return true;
}

}  // namespace

ThreePhases SolveThreePhases(Model& model, const Feed& feed, const std::array<Vector, 3>& start,
                             double limit_wt) {
  constexpr int kIterations = 60;
  constexpr double kConverged = 1e-11;
  constexpr double kNoiseFloor = 1e-8;
  const Species& s = feed.species;
  const int m = s.count;
  ThreePhases result;
  PhaseTriple t;
  if (!EvaluateTriple(model, feed, start[0], start[1], limit_wt, t)) return result;
  int stalled = 0;
  auto done = [&] {
    return t.max_gradient < kConverged || (t.max_gradient < kNoiseFloor && stalled >= 2);
  };
  for (int iteration = 0; iteration < kIterations && !done(); ++iteration) {
    std::array<Matrix, 3> J;
    for (int p = 0; p < 3; ++p) {
      if (!FugacityJacobian(model, s, t.n[p], t.x[p], J[p])) return result;
    }
    // Unknowns: the amounts of phases 0 and 1; phase 2 takes the rest. The
    // Hessian of G in them is [[J0 + J2, J2], [J2, J1 + J2]].
    std::array<std::array<double, 6>, 6> H{};
    std::array<double, 6> g{}, step{};
    for (int p = 0; p < 2; ++p) {
      for (int a = 0; a < m; ++a) {
        const int i = s.index[a];
        g[p * m + a] = t.ln_f[p][i] - t.ln_f[2][i];
        for (int q = 0; q < 2; ++q) {
          for (int b = 0; b < m; ++b) {
            const int j = s.index[b];
            H[p * m + a][q * m + b] = (p == q ? J[p][i][j] : 0.0) + J[2][i][j];
          }
        }
      }
    }
    if (!DescentStep(H, g, 2 * m, step)) break;
    // The longest step that keeps 5 % of every amount in every phase.
    double largest = 1.0, slope = 0.0;
    for (int a = 0; a < m; ++a) {
      const int i = s.index[a];
      const double change[3] = {step[a], step[m + a], -step[a] - step[m + a]};
      for (int p = 0; p < 3; ++p) {
        if (change[p] < 0.0) largest = std::min(largest, 0.95 * t.n[p][i] / -change[p]);
      }
    }
    for (int k = 0; k < 2 * m; ++k) slope += g[k] * step[k];
    bool accepted = false;
    for (double scale = largest; scale > 1e-9 * largest && !accepted; scale *= 0.5) {
      Vector n0{}, n1{};
      for (int a = 0; a < m; ++a) {
        const int i = s.index[a];
        n0[i] = t.n[0][i] + scale * step[a];
        n1[i] = t.n[1][i] + scale * step[m + a];
      }
      PhaseTriple u;
      if (!EvaluateTriple(model, feed, n0, n1, limit_wt, u)) continue;
      if (AcceptStep(t.G, u.G, scale * slope, t.max_gradient, u.max_gradient, stalled)) {
        t = u;
        accepted = true;
      }
    }
    ++result.iterations;
    if (!accepted) break;
  }
  result.converged = done();
  result.n = t.n;
  result.x = t.x;
  result.ln_f = t.ln_f;
  result.G = t.G;
  // The iteration watches phases 0 and 1 against phase 2; the answer states
  // every pair.
  result.max_gradient = t.max_gradient;
  for (int a = 0; a < m; ++a) {
    const int i = s.index[a];
    result.max_gradient = std::max(result.max_gradient, std::fabs(t.ln_f[0][i] - t.ln_f[1][i]));
  }
  return result;
}

}  // namespace quarn::equilibrium
