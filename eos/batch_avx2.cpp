// The evaluation loop in four lanes, for processors with AVX2 and FMA. This
// file alone is built for them; the loop is chosen at run time.
#include <immintrin.h>

#include "eos/method_lanes.hpp"

namespace quarn::batch {
namespace {

struct Avx2Lanes : elementary::lanes::LaneTypes<4> {
  static D Fma(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
  static D Sqrt(D a) { return _mm256_sqrt_pd(a); }
  // Rows of 2 or 4 doubles (all the tables have), one load per lane,
  // transposed into columns: faster here than gathers.
  template <int kColumns>
  static void LoadRows(const double* table, I row_start, D (&columns)[kColumns]) {
    if constexpr (kColumns == 4) {
      const __m256d r0 = _mm256_loadu_pd(table + row_start[0]);
      const __m256d r1 = _mm256_loadu_pd(table + row_start[1]);
      const __m256d r2 = _mm256_loadu_pd(table + row_start[2]);
      const __m256d r3 = _mm256_loadu_pd(table + row_start[3]);
      const __m256d low01 = _mm256_unpacklo_pd(r0, r1), high01 = _mm256_unpackhi_pd(r0, r1);
      const __m256d low23 = _mm256_unpacklo_pd(r2, r3), high23 = _mm256_unpackhi_pd(r2, r3);
      columns[0] = _mm256_permute2f128_pd(low01, low23, 0x20);
      columns[1] = _mm256_permute2f128_pd(high01, high23, 0x20);
      columns[2] = _mm256_permute2f128_pd(low01, low23, 0x31);
      columns[3] = _mm256_permute2f128_pd(high01, high23, 0x31);
    } else {
      static_assert(kColumns == 2);
      const __m256d r02 =
          _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(table + row_start[0])),
                               _mm_loadu_pd(table + row_start[2]), 1);
      const __m256d r13 =
          _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(table + row_start[1])),
                               _mm_loadu_pd(table + row_start[3]), 1);
      columns[0] = _mm256_unpacklo_pd(r02, r13);
      columns[1] = _mm256_unpackhi_pd(r02, r13);
    }
  }
  static unsigned Mask(I m) { return static_cast<unsigned>(_mm256_movemask_pd((__m256d)m)); }
};

}  // namespace

void EvaluateAvx2(const Slice& slice, std::size_t begin, std::size_t end) {
  LaneKernel<Avx2Lanes>::Evaluate(slice, begin, end);
}

}  // namespace quarn::batch
