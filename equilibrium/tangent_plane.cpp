#include "equilibrium/tangent_plane.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "equilibrium/grid_scan.hpp"

namespace quarn::internal {
namespace {

using equilibrium::Vector;

// x_CO2 = 1/(1 + exp(-t)) for t evenly from -9 to 9: from 1.2e-4 to 0.99988,
// some 0.08 apart at 0.5 and finer towards both ends, where brines and nearly
// pure CO2 lie.
constexpr int kNodesCO2 = 56;
constexpr double kLogitSpan = 9.0;
// Salinities: logarithmic from 0.01 to 2 wt% (the CO2-rich fluids), then at
// most 2.5 wt% apart up to the salinity limit (the brines).
constexpr int kLogNodes = 10;
constexpr double kLowestSalinity = 0.01;
constexpr double kLogTop = 2.0;
constexpr double kLinearSpacing = 2.5;

std::vector<double> NodesCO2() {
  std::vector<double> nodes(kNodesCO2);
  for (int k = 0; k < kNodesCO2; ++k) {
    const double t = -kLogitSpan + 2.0 * kLogitSpan * k / (kNodesCO2 - 1);
    nodes[k] = 1.0 / (1.0 + elementary::CorrectlyRoundedExp(-t));
  }
  return nodes;
}

std::vector<double> NodesSalinity(double limit_wt) {
  std::vector<double> nodes;
  const double top = std::min(kLogTop, limit_wt);
  for (int k = 0; k < kLogNodes; ++k) {
    const double W = kLowestSalinity * elementary::CorrectlyRoundedPow(top / kLowestSalinity,
                                                                       double(k) / (kLogNodes - 1));
    if (W <= limit_wt) nodes.push_back(W);
  }
  if (limit_wt > kLogTop) {
    const int steps = static_cast<int>(std::ceil((limit_wt - kLogTop) / kLinearSpacing));
    for (int k = 1; k <= steps; ++k) nodes.push_back(kLogTop + (limit_wt - kLogTop) * k / steps);
  }
  return nodes;
}

// A grid's compositions and the logarithms of their present fractions depend
// on the salinity limit alone, not on T and P: each thread keeps those of the
// last limit it met, so that a run of conditions (a scan along P, a section)
// evaluates only the model at each.
struct GridNodes {
  std::vector<double> x_CO2, salinity;
  std::array<std::vector<double>, 3> y, ln_y;
  std::vector<unsigned char> in_domain;
  std::vector<Composition> evaluated;  // the compositions in the domain, in order
};

GridNodes MakeNodes(const equilibrium::Species& species, std::vector<double> nodes_CO2,
                    std::vector<double> nodes_salinity, double limit_wt) {
  GridNodes nodes;
  nodes.x_CO2 = std::move(nodes_CO2);
  nodes.salinity = std::move(nodes_salinity);
  for (double W : nodes.salinity) {
    const double s = equilibrium::SaltFractionOfSolvent(W);
    for (double u : nodes.x_CO2) {
      const Vector y = {u, (1.0 - u) * (1.0 - s), (1.0 - u) * s};
      for (int i = 0; i < 3; ++i) {
        nodes.y[i].push_back(y[i]);
        nodes.ln_y[i].push_back(species.present[i] ? elementary::CorrectlyRoundedLog(y[i])
                                                   : -std::numeric_limits<double>::infinity());
      }
      const bool in_domain = equilibrium::InDomain(y, species, limit_wt);
      nodes.in_domain.push_back(in_domain);
      if (in_domain) nodes.evaluated.push_back(equilibrium::ToComposition(y));
    }
  }
  return nodes;
}

struct NodesOfLimit {
  double limit_wt = std::numeric_limits<double>::quiet_NaN();
  GridNodes ternary, salt_free, water_salt;
};

const NodesOfLimit& NodesFor(double limit_wt) {
  using equilibrium::PresentIn;
  thread_local NodesOfLimit nodes;
  if (!(nodes.limit_wt == limit_wt)) {
    nodes.ternary = MakeNodes(PresentIn({1, 1, 1}), NodesCO2(), NodesSalinity(limit_wt), limit_wt);
    nodes.salt_free = MakeNodes(PresentIn({1, 1, 0}), NodesCO2(), {0.0}, limit_wt);
    nodes.water_salt = MakeNodes(PresentIn({0, 1, 1}), {0.0}, NodesSalinity(limit_wt), limit_wt);
    nodes.limit_wt = limit_wt;
  }
  return nodes;
}

// ln f of every node in the domain at these conditions, in lanes; a node where
// the model fails or ln f is not finite is not valid.
bool MakeGrid(const Conditions& conditions, const equilibrium::Species& species,
              const GridNodes& nodes, int& evaluations, TrialGrid& grid) {
  grid.species = species;
  grid.x_CO2 = nodes.x_CO2;
  grid.salinity = nodes.salinity;
  grid.nodes_CO2 = static_cast<int>(grid.x_CO2.size());
  grid.nodes_salinity = static_cast<int>(grid.salinity.size());
  grid.y = nodes.y;
  const std::size_t points = nodes.in_domain.size();
  const std::size_t n = nodes.evaluated.size();
  std::vector<Result> results(n);
  std::vector<Fault> faults(n);
  if (!conditions.EvaluateBatch(nodes.evaluated, results, faults, Method::kUnrounded)) return false;
  evaluations += static_cast<int>(n);
  for (auto& column : grid.ln_f) column.resize(points);
  grid.valid.resize(points);
  grid.valid_count = 0;
  // Points left out lie infinitely far above any plane; absent species have
  // no ln f.
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  std::size_t next = 0;
  for (std::size_t k = 0; k < points; ++k) {
    Vector ln_f{};
    bool valid = false;
    if (nodes.in_domain[k]) {
      const std::size_t j = next++;
      valid = !faults[j];
      for (int i = 0; valid && i < 3; ++i) {
        if (!species.present[i]) continue;
        ln_f[i] = nodes.ln_y[i][k] + results[j].ln_phi[i];
        valid = std::isfinite(ln_f[i]);
      }
    }
    for (int i = 0; i < 3; ++i) {
      grid.ln_f[i][k] = !species.present[i] ? -kInfinity : valid ? ln_f[i] : kInfinity;
    }
    grid.valid[k] = valid;
    grid.valid_count += valid;
  }
  return grid.valid_count > 0;
}

}  // namespace

double TrialGrid::CoordinateCO2(double x) const {
  if (nodes_CO2 <= 1) return 0.0;
  const double t = elementary::CorrectlyRoundedLog(x / (1.0 - x));
  return (t + kLogitSpan) * (nodes_CO2 - 1) / (2.0 * kLogitSpan);
}

double TrialGrid::CoordinateSalinity(double W) const {
  if (nodes_salinity <= 1) return 0.0;
  if (W <= salinity.front()) return 0.0;
  for (int k = 1; k < nodes_salinity; ++k) {
    if (W <= salinity[k]) return k - 1 + (W - salinity[k - 1]) / (salinity[k] - salinity[k - 1]);
  }
  return nodes_salinity - 1;
}

const TrialGrid* TrialGrids::For(const equilibrium::Species& species) const {
  if (species.count == 3) return &ternary;
  if (species.count != 2) return nullptr;
  if (!species.present[2]) return &salt_free;
  if (!species.present[0]) return &water_salt;
  return nullptr;
}

double DomainLimit(const Conditions& conditions, double cap_wt, double limit_wt) {
  constexpr double kStep = 0.5;
  constexpr double kDiluteCO2 = 1e-6;
  auto ln_phi_CO2 = [&](double W) {
    const Evaluation e =
        conditions.Evaluate(CompositionFromSalinity(kDiluteCO2, W), Method::kUnrounded);
    return e.fault ? std::numeric_limits<double>::quiet_NaN() : e.result.ln_phi[0];
  };
  double previous = ln_phi_CO2(cap_wt);
  for (double W = cap_wt; W < limit_wt; W += kStep) {
    const double next = ln_phi_CO2(W + kStep);
    // A failing model ends the domain as well.
    if (!((next - previous) / kStep >= kRunawaySlope)) return W;
    previous = next;
  }
  return limit_wt;
}

bool MakeTrialGrids(const Conditions& conditions, double limit_wt, TrialGrids& grids) {
  using equilibrium::PresentIn;
  grids.limit_wt = limit_wt;
  const NodesOfLimit& nodes = NodesFor(limit_wt);
  const bool ternary =
      MakeGrid(conditions, PresentIn({1, 1, 1}), nodes.ternary, grids.evaluations, grids.ternary);
  const bool salt_free = MakeGrid(conditions, PresentIn({1, 1, 0}), nodes.salt_free,
                                  grids.evaluations, grids.salt_free);
  const bool water_salt = MakeGrid(conditions, PresentIn({0, 1, 1}), nodes.water_salt,
                                   grids.evaluations, grids.water_salt);
  return ternary && salt_free && water_salt;
}

}  // namespace quarn::internal

namespace quarn::equilibrium {
namespace {

// The modified distance tm(Y) = 1 + sum_i Y_i (ln Y_i + ln phi_i(y) - d_i - 1)
// of trial amounts Y (y = Y / sum Y); its stationary points are those of the
// distance, and tm < 0 exactly where the distance is.
struct TrialPoint {
  Vector Y{}, y{}, ln_f{}, ln_phi{};
  double tm = 0.0, tpd = 0.0, residual = 0.0;  // residual: max_i |ln Y_i + ln phi_i - d_i|
};

// A trial beyond the salinity limit goes back onto it at its x_CO2, so that a
// minimisation can slide along the limit.
Vector OntoLimit(const Vector& y, const Species& species, double limit_wt) {
  if (!species.present[2] || Salinity(y) <= limit_wt) return y;
  const double s = SaltFractionOfSolvent(limit_wt);
  const double solvent = 1.0 - y[0];
  return {y[0], solvent * (1.0 - s), solvent * s};
}

bool Evaluate(Model& model, const Species& species, const Vector& d, const Vector& Y,
              double limit_wt, TrialPoint& p) {
  p.y = OntoLimit(Normalised(Y, species), species, limit_wt);
  if (!InDomain(p.y, species, limit_wt)) return false;
  // The amounts keep their total; a trial put back onto the limit changes them.
  double total = 0.0;
  for (int k = 0; k < species.count; ++k) total += Y[species.index[k]];
  for (int i = 0; i < 3; ++i) p.Y[i] = p.y[i] * total;
  if (!model.LnFugacity(p.y, species, p.ln_f, p.ln_phi)) return false;
  double sum = 0.0;
  for (int k = 0; k < species.count; ++k) sum += p.Y[species.index[k]];
  const double ln_sum = elementary::CorrectlyRoundedLog(sum);
  p.tm = 1.0;
  p.tpd = 0.0;
  p.residual = 0.0;
  for (int k = 0; k < species.count; ++k) {
    const int i = species.index[k];
    const double r = p.ln_f[i] + ln_sum - d[i];
    p.tm += p.Y[i] * (r - 1.0);
    p.tpd += p.y[i] * (p.ln_f[i] - d[i]);
    p.residual = std::max(p.residual, std::fabs(r));
  }
  return true;
}

}  // namespace

TrialMinimum MinimiseTangentPlaneDistance(Model& model, const Species& species, const Vector& d,
                                          const Vector& y0, double limit_wt) {
  constexpr int kSubstitutions = 3;
  constexpr int kNewtonSteps = 25;
  constexpr double kConverged = 1e-10;
  const int m = species.count;
  TrialMinimum best{y0, std::numeric_limits<double>::infinity()};
  TrialPoint p;
  if (!Evaluate(model, species, d, y0, limit_wt, p)) return best;
  auto keep = [&](const TrialPoint& q) {
    if (q.tpd < best.tpd) best = {q.y, q.tpd};
  };
  keep(p);

  // Successive substitution: Y_i = exp(d_i - ln phi_i(y)) lowers tm at every step.
  for (int step = 0; step < kSubstitutions && p.residual > kConverged; ++step) {
    Vector Y{};
    for (int k = 0; k < m; ++k)
      Y[species.index[k]] =
          elementary::CorrectlyRoundedExp(d[species.index[k]] - p.ln_phi[species.index[k]]);
    TrialPoint q;
    if (!Evaluate(model, species, d, Y, limit_wt, q) || !(q.tm < p.tm)) break;
    p = q;
    keep(p);
  }

  for (int step = 0; step < kNewtonSteps && p.residual > kConverged; ++step) {
    Matrix derivatives;
    if (!model.LnPhiDerivatives(p.y, species, derivatives)) break;
    double sum = 0.0;
    for (int k = 0; k < m; ++k) sum += p.Y[species.index[k]];
    const double ln_sum = elementary::CorrectlyRoundedLog(sum);
    Matrix H{};
    Vector g{}, alpha{};
    for (int a = 0; a < m; ++a) {
      const int i = species.index[a];
      alpha[a] = 2.0 * std::sqrt(p.Y[i]);
      g[a] = std::sqrt(p.Y[i]) * (p.ln_f[i] + ln_sum - d[i]);
      for (int b = 0; b < m; ++b) {
        const int j = species.index[b];
        H[a][b] = (a == b ? 1.0 : 0.0) + std::sqrt(p.Y[i] / p.Y[j]) * derivatives[i][j];
      }
    }
    Vector s{};
    if (!DescentStep(H, g, m, s)) break;
    double slope = 0.0;
    for (int a = 0; a < m; ++a) slope += g[a] * s[a];
    bool accepted = false;
    for (double scale = 1.0; scale > 1e-6 && !accepted; scale *= 0.5) {
      Vector Y{};
      bool positive = true;
      for (int a = 0; a < m; ++a) {
        const double x = alpha[a] + scale * s[a];
        positive = positive && x > 0.0;
        Y[species.index[a]] = 0.25 * x * x;
      }
      TrialPoint q;
      if (!positive || !Evaluate(model, species, d, Y, limit_wt, q)) continue;
      keep(q);
      // Close to a stationary point the residual decides: tm changes there by
      // less than the model's departure from an exact Gibbs energy.
      const bool descends = q.tm <= p.tm + 1e-4 * scale * slope;
      const bool closer = p.residual < 1e-3 && q.residual < 0.5 * p.residual;
      if (descends || closer) {
        p = q;
        accepted = true;
      }
    }
    if (!accepted) break;
  }
  return best;
}

namespace {

// The distance sum_i y_i (ln f_i - d_i) of every grid point over its present
// species, in their order. A point that is not valid has ln f = +infinity, and
// so an infinite distance.
void Distances(const internal::TrialGrid& grid, const Vector& d, std::vector<double>& tpd) {
  grid_scan::Columns columns;
  columns.species = grid.species.count;
  for (int a = 0; a < grid.species.count; ++a) {
    const int i = grid.species.index[a];
    columns.y[a] = grid.y[i].data();
    columns.ln_f[a] = grid.ln_f[i].data();
    columns.d[a] = d[i];
  }
  grid_scan::Distances(columns, grid.size(), tpd.data());
}

}  // namespace

bool SearchBelowTangentPlane(Model& model, const internal::TrialGrid& grid, const Vector& d,
                             std::span<const Vector> known, int seeds, double limit_wt,
                             TangentPlaneSearch& search) {
  const Species& species = grid.species;
  const std::size_t n = grid.size();
  thread_local std::vector<double> tpd;
  tpd.resize(n);
  Distances(grid, d, tpd);
  search = {};
  search.trial_phases = grid.valid_count;
  if (grid.valid_count == 0) return false;

  const int nu = grid.nodes_CO2, nw = grid.nodes_salinity;
  std::array<std::array<double, 2>, 4> known_at{};
  const std::size_t known_count = std::min<std::size_t>(known.size(), known_at.size());
  for (std::size_t k = 0; k < known_count; ++k) {
    const Vector& x = known[k];
    known_at[k] = {grid.CoordinateCO2(x[0] > 0 ? x[0] : grid.x_CO2.front()),
                   grid.CoordinateSalinity(Salinity(x))};
  }
  // The grid's discrete local minima (no neighbour lower), away from the known
  // points, and its lowest point, the first of equals: it is a local minimum
  // too. A point must first be as low as its neighbours along its row, which
  // few are; only those meet the rows beside it.
  double lowest = std::numeric_limits<double>::infinity();
  std::size_t lowest_at = n;
  thread_local std::vector<std::size_t> minima;
  minima.clear();
  auto consider = [&](int iw, int iu) {
    const std::size_t k = static_cast<std::size_t>(iw) * nu + iu;
    const double v = tpd[k];
    for (int dw = -1; dw <= 1; dw += 2) {
      const int jw = iw + dw;
      if (jw < 0 || jw >= nw) continue;
      for (int ju = std::max(0, iu - 1); ju <= std::min(nu - 1, iu + 1); ++ju) {
        if (tpd[static_cast<std::size_t>(jw) * nu + ju] < v) return;
      }
    }
    if (v < lowest) {
      lowest = v;
      lowest_at = k;
    }
    // A point on the salinity limit is no start: the distance there mostly
    // slopes on beyond the domain, and minimising slides along the edge.
    if (!std::isfinite(v) || (nw > 1 && iw == nw - 1)) return;
    bool near_known = false;
    for (std::size_t j = 0; j < known_count; ++j) {
      near_known = near_known ||
                   (std::fabs(known_at[j][0] - iu) <= 1.5 && std::fabs(known_at[j][1] - iw) <= 1.5);
    }
    if (!near_known) minima.push_back(k);
  };
  thread_local std::vector<int> in_row;
  in_row.resize(static_cast<std::size_t>(nu));
  for (int iw = 0; iw < nw; ++iw) {
    const int count =
        grid_scan::RowMinima(tpd.data() + static_cast<std::size_t>(iw) * nu, nu, in_row.data());
    for (int j = 0; j < count; ++j) consider(iw, in_row[j]);
  }
  search.lowest.tpd = std::numeric_limits<double>::infinity();
  if (lowest_at < n) search.lowest = {grid.Point(lowest_at), lowest};

  std::sort(minima.begin(), minima.end(),
            [&](std::size_t a, std::size_t b) { return tpd[a] < tpd[b]; });
  if (minima.size() > std::min<std::size_t>(seeds, kMaxSeeds)) {
    minima.resize(std::min<std::size_t>(seeds, kMaxSeeds));
  }
  for (std::size_t k : minima) {
    const TrialMinimum local =
        MinimiseTangentPlaneDistance(model, species, d, grid.Point(k), limit_wt);
    ++search.trial_phases;
    if (local.tpd < search.lowest.tpd) search.lowest = local;
    if (std::isfinite(local.tpd)) search.minima[search.minima_count++] = local;
  }
  std::sort(search.minima.begin(), search.minima.begin() + search.minima_count,
            [](const TrialMinimum& a, const TrialMinimum& b) { return a.tpd < b.tpd; });
  return true;
}

}  // namespace quarn::equilibrium
