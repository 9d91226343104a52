// The evaluation loop in eight lanes, for processors with AVX-512. This file
// alone is built for them; the loop is chosen at run time.
#include <immintrin.h>

#include "eos/method_lanes.hpp"

namespace quarn::batch {
namespace {

struct Avx512Lanes : elementary::lanes::LaneTypes<8> {
  static D Fma(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
  // The masked forms with every lane set: the plain ones start from an
  // undefined vector, which GCC 12 warns of.
  static D Sqrt(D a) { return _mm512_maskz_sqrt_pd(0xff, a); }
  static D Gather(const double* base, I index) {
    return _mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xff, (__m512i)index, base, 8);
  }
  static unsigned Mask(I m) {
    return static_cast<unsigned>(_mm512_cmpneq_epi64_mask((__m512i)m, _mm512_setzero_si512()));
  }
};

}  // namespace

void EvaluateAvx512(const Slice& slice, std::size_t begin, std::size_t end) {
  LaneKernel<Avx512Lanes>::Evaluate(slice, begin, end);
}

}  // namespace quarn::batch
