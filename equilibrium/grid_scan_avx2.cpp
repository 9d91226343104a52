// The grid scan in four AVX2 lanes. This file alone is built for AVX2; it
// defines nothing others may share but its two entry points, so that no code
// built for AVX2 can stand in for another object's.
#include <immintrin.h>

#include <limits>

#include "equilibrium/grid_scan.hpp"

namespace quarn::equilibrium::grid_scan {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

namespace {

template <int kSpecies>
void DistancesInLanes(const Columns& c, std::size_t n, double* tpd) {
  const double* y[kSpecies];
  const double* ln_f[kSpecies];
  __m256d d[kSpecies];
  for (int a = 0; a < kSpecies; ++a) {
    y[a] = c.y[a];
    ln_f[a] = c.ln_f[a];
    d[a] = _mm256_set1_pd(c.d[a]);
  }
  std::size_t k = 0;
  for (; k + 4 <= n; k += 4) {
    __m256d t = _mm256_setzero_pd();
    for (int a = 0; a < kSpecies; ++a) {
      const __m256d excess = _mm256_sub_pd(_mm256_loadu_pd(ln_f[a] + k), d[a]);
      t = _mm256_add_pd(t, _mm256_mul_pd(_mm256_loadu_pd(y[a] + k), excess));
    }
    _mm256_storeu_pd(tpd + k, t);
  }
  for (; k < n; ++k) {
    double t = 0.0;
    for (int a = 0; a < kSpecies; ++a) t += y[a][k] * (ln_f[a][k] - c.d[a]);
    tpd[k] = t;
  }
}

}  // namespace

void DistancesAvx2(const Columns& c, std::size_t n, double* tpd) {
  if (c.species == 3) return DistancesInLanes<3>(c, n, tpd);
  if (c.species == 2) return DistancesInLanes<2>(c, n, tpd);
  DistancesScalar(c, n, tpd);
}

int RowMinimaAvx2(const double* t, int n, int* at) {
  int count = RowMinimaAmong(t, n, 0, n < 1 ? 0 : 1, at, 0);
  int i = 1;
  // Four interior points at a time: a lane is kept where it is below +infinity
  // and neither neighbour is lower (ordered comparisons, false with a NaN, as
  // alone).
  const __m256d infinity = _mm256_set1_pd(kInfinity);
  for (; i + 4 < n; i += 4) {
    const __m256d left = _mm256_loadu_pd(t + i - 1), here = _mm256_loadu_pd(t + i);
    const __m256d right = _mm256_loadu_pd(t + i + 1);
    const __m256d lower =
        _mm256_or_pd(_mm256_cmp_pd(left, here, _CMP_LT_OQ), _mm256_cmp_pd(right, here, _CMP_LT_OQ));
    const __m256d finite_or_below = _mm256_cmp_pd(here, infinity, _CMP_LT_OQ);
    unsigned kept =
        static_cast<unsigned>(_mm256_movemask_pd(_mm256_andnot_pd(lower, finite_or_below)));
    while (kept != 0) {
      at[count++] = i + __builtin_ctz(kept);
      kept &= kept - 1;
    }
  }
  return RowMinimaAmong(t, n, i, n, at, count);
}

}  // namespace quarn::equilibrium::grid_scan
