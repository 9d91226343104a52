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

int RowMinimaScalar(const double* t, int n, int* at) {
  if (n <= 0) return 0;
  int count = 0;
  if (n == 1) {
    if (t[0] < kInfinity) at[count++] = 0;
    return count;
  }
  if (t[0] < kInfinity && !(t[1] < t[0])) at[count++] = 0;
  for (int i = 1; i + 1 < n; ++i) {
    if (t[i] < kInfinity && !(t[i - 1] < t[i] || t[i + 1] < t[i])) at[count++] = i;
  }
  if (t[n - 1] < kInfinity && !(t[n - 2] < t[n - 1])) at[count++] = n - 1;
  return count;
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
