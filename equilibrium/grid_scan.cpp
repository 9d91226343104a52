#include "equilibrium/grid_scan.hpp"

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

void DistancesScalar(const Columns& c, std::size_t n, double* tpd) {
  for (std::size_t k = 0; k < n; ++k) {
    double t = 0.0;
    for (int a = 0; a < c.species; ++a) t += c.y[a][k] * (c.ln_f[a][k] - c.d[a]);
    tpd[k] = t;
  }
}

int RowMinimaAmong(const double* t, int n, int begin, int end, int* at, int count) {
  for (int i = begin; i < end; ++i) {
    const bool left_lower = i > 0 && t[i - 1] < t[i];
    const bool right_lower = i + 1 < n && t[i + 1] < t[i];
    if (t[i] < kInfinity && !left_lower && !right_lower) at[count++] = i;
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
