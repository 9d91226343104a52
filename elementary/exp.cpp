// exp: the exp core, its rounding test, and the fixed-point slow path.
#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/kernels.hpp"

namespace quarn::elementary {

// Arguments of magnitude 708 and above: NaN, overflow to +inf, subnormal
// results and underflow to 0.
double EdgeExp(double x) {
  if (!(x <= tables::kExpLargestFinite))  // NaN, or overflow to +inf
    return x != x ? x : std::numeric_limits<double>::infinity();
  if (x < tables::kExpSmallestNonzero) return 0.0;
  return SlowExp(x);  // up to 2^-1022, and the top of the range
}

double ExpPlain(double x) {
  return ExpT<PlainArithmetic>(x);
}
#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA double ExpFused(double x) {
  return ExpT<FusedArithmetic>(x);
}
#endif

double SlowExp(double x) {
  NoteSlowPath(Function::kExp, x, 0.0);
  int exponent = 0;
  const Fixed e = ExpFixed(FixedFromDouble(x), exponent);
  double result = 0.0;
  // e^x of a nonzero double is transcendental and the hardest cases lie about
  // 2^-113 from a rounding boundary, far outside the 2^-290 bound: this decides.
  RoundFixed(e, FixedUnit(290), exponent, result);
  return result;
}

const Fixed& Ln2Fixed() {
  static const Fixed value = FixedFromWords(tables::kLn2Words);
  return value;
}

Fixed ExpFixed(const Fixed& x, int& exponent) {
  // x = k ln 2 + r, |r| < 0.36; e^r from the Taylor series of r/2^12, squared 12 times.
  std::int64_t k = 0;
  NearestInteger(ApproximateDouble(x) * 1.4426950408889634, k);
  const Fixed r = Subtract(x, Multiply(FixedFromDouble(static_cast<double>(k)), Ln2Fixed()));
  constexpr int kHalvings = 12;
  const Fixed small = ShiftRight(r, kHalvings);
  Fixed sum = FixedFromDouble(1.0);
  Fixed term = sum;
  for (std::uint32_t n = 1; !term.IsZero(); ++n) {
    term = DivideBySmall(Multiply(term, small), n);
    sum = Add(sum, term);
  }
  for (int i = 0; i < kHalvings; ++i) sum = Multiply(sum, sum);
  exponent = static_cast<int>(k);
  return sum;
}

}  // namespace quarn::elementary
