#include "equilibrium/grid_scan.hpp"

#include <algorithm>
#include <limits>

namespace quarn::equilibrium::grid_scan {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
#if QUARN_GRID_SCAN_AVX2
namespace {

// The scan runs in lanes wherever the batch call does: every lane loop the
// processor may run has AVX2.
bool InLanes() {
  return batch::ActiveSimdPath() != batch::SimdPath::kScalar;
}

}  // namespace
#endif

namespace {

// The columns' pointers and the plane held in locals, so that the compiler
// keeps them in registers and runs the loop in the baseline's vector lanes.
template <int kSpecies>
void DistancesOf(const Columns& c, std::size_t n, double* tpd) {
  const double* y[kSpecies];
  const double* ln_f[kSpecies];
  double d[kSpecies];
  for (int a = 0; a < kSpecies; ++a) {
    y[a] = c.y[a];
    ln_f[a] = c.ln_f[a];
    d[a] = c.d[a];
  }
  for (std::size_t k = 0; k < n; ++k) {
    double t = 0.0;
    for (int a = 0; a < kSpecies; ++a) t += y[a][k] * (ln_f[a][k] - d[a]);
    tpd[k] = t;
  }
}

}  // namespace

void DistancesScalar(const Columns& c, std::size_t n, double* tpd) {
  if (c.species == 3) return DistancesOf<3>(c, n, tpd);
  if (c.species == 2) return DistancesOf<2>(c, n, tpd);
  for (std::size_t k = 0; k < n; ++k) {
    double t = 0.0;
    for (int a = 0; a < c.species; ++a) t += c.y[a][k] * (c.ln_f[a][k] - c.d[a]);
    tpd[k] = t;
  }
}

int RowMinimaAmong(const double* t, int n, int begin, int end, int* at, int count) {
  int i = begin;
  // The first point against its right neighbour alone (in a row of one, none).
  if (i == 0 && i < end) {
    if (t[0] < kInfinity && !(n > 1 && t[1] < t[0])) at[count++] = 0;
    ++i;
  }
  for (const int interior_end = std::min(end, n - 1); i < interior_end; ++i) {
    if (t[i] < kInfinity && !(t[i - 1] < t[i] || t[i + 1] < t[i])) at[count++] = i;
  }
  // The last point, where it is not the first, against its left neighbour alone.
  if (i < end && i == n - 1 && i > 0) {
    if (t[i] < kInfinity && !(t[i - 1] < t[i])) at[count++] = i;
  }
  return count;
}

int RowMinimaScalar(const double* t, int n, int* at) {
  return RowMinimaAmong(t, n, 0, n, at, 0);
}

void Distances(const Columns& columns, std::size_t n, double* tpd) {
#if QUARN_GRID_SCAN_AVX2
  if (InLanes()) return DistancesAvx2(columns, n, tpd);
#endif
  DistancesScalar(columns, n, tpd);
}

int RowMinima(const double* t, int n, int* at) {
#if QUARN_GRID_SCAN_AVX2
  if (InLanes()) return RowMinimaAvx2(t, n, at);
#endif
  return RowMinimaScalar(t, n, at);
}

}  // namespace quarn::equilibrium::grid_scan
