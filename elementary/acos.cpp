// acos: with y = acos t in [j/64, (j+1)/64) (j by bisection of the table of
// cos j/64), y = j/64 + asin(w), w = sin(y - j/64) = sqrt(1 - t^2) cos(j/64) -
// t sin(j/64), and asin from its Taylor series on |w| < 1/64. The slow path
// refines y by Newton steps on cos y = t in fixed point.
#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/cores.hpp"

namespace quarn::elementary {
namespace {

// Relative error bound of the fast path, with room over the analysis's 2^-67.
constexpr double kAcosErrorBound = 0x1p-65;
constexpr int kTableLast = 201;

// 1/s for s in (2^-40, 1], by Newton steps from the double reciprocal.
Fixed Reciprocal(const Fixed& s) {
  Fixed inverse = FixedFromDouble(1.0 / ApproximateDouble(s));
  const Fixed two = FixedFromDouble(2.0);
  for (int i = 0; i < 4; ++i) inverse = Multiply(inverse, Subtract(two, Multiply(s, inverse)));
  return inverse;
}

}  // namespace

double SlowAcos(double t, DoubleDouble y0) {
  NoteSlowPath(Function::kAcos, t, 0.0);
  // Newton on cos y - t: y += (cos y - t) / sin y. From the fast path's 2^-60
  // the error squares at each step (times cot y/2 < 2^26), past 2^-280 in four.
  Fixed y = Add(FixedFromDouble(y0.hi), FixedFromDouble(y0.lo));
  const Fixed target = FixedFromDouble(t);
  for (int i = 0; i < 4; ++i) {
    const Fixed difference = Subtract(CosFixed(y), target);
    y = Add(y, Multiply(difference, Reciprocal(SinFixed(y))));
  }
  double result = 0.0;
  // The arithmetic's 2^-310 in cos y divided by sin y > 2^-27 leaves below 2^-280.
  RoundFixed(y, FixedUnit(270), 0, result);
  return result;
}

namespace {

template <class A>
[[gnu::always_inline]] inline double AcosT(double t) {
  detail::Count(static_cast<int>(Function::kAcos));
  const std::uint64_t magnitude = MagnitudeBits(t);
  if (magnitude >= 0x3ff0000000000000u) {  // |t| >= 1, inf, NaN
    if (t == 1.0) return 0.0;
    if (t == -1.0) return tables::kPiHi;
    return t != t ? t : std::numeric_limits<double>::quiet_NaN();
  }
  // s = sqrt(1 - t^2) as a double-double: 1 - t^2 exactly as d + dl, then one
  // Newton correction of the rounded root.
  const DoubleDouble t2 = A::Product(t, t);
  // Near |t| = 1, t^2's low part is a large share of 1 - t^2: the pair is
  // renormalised before the root, so that the correction is first-order small.
  const DoubleDouble d0 = TwoSum(1.0, -t2.hi);
  const DoubleDouble d = TwoSum(d0.hi, d0.lo - t2.lo);
  const double sh = std::sqrt(d.hi);  // IEEE: correctly rounded
  const DoubleDouble sh2 = A::Product(sh, sh);
  const double sl = (((d.hi - sh2.hi) - sh2.lo) + d.lo) / (2.0 * sh);
  // The j with cos(j/64) >= t > cos((j+1)/64).
  int low = 0, high = kTableLast;  // cos(low/64) >= t; high: t > cos(high/64) or the end
  if (t < tables::kCosSin[kTableLast][0]) {
    low = kTableLast;
  } else {
    while (high - low > 1) {
      const int middle = (low + high) / 2;
      if (tables::kCosSin[middle][0] >= t)
        low = middle;
      else
        high = middle;
    }
  }
  const double* c = tables::kCosSin[low];
  // w = s C - t S.
  const DoubleDouble a = A::Product(sh, c[0]);
  const DoubleDouble b = A::Product(t, c[2]);
  const DoubleDouble w0 = TwoSum(a.hi, -b.hi);
  const double w_lo_sum = w0.lo + ((a.lo - b.lo) + (sl * c[0] + sh * c[1]) - t * c[3]);
  const DoubleDouble w = FastTwoSum(w0.hi, w_lo_sum);
  const double wh = w.hi, w2 = wh * wh;
  // asin w = w + w^3 (1/6 + 3 w^2/40 + ...), to w^13.
  const double tail =
      wh * w2 *
      (1.0 / 6.0 +
       w2 * (3.0 / 40.0 +
             w2 * (15.0 / 336.0 +
                   w2 * (105.0 / 3456.0 + w2 * (945.0 / 42240.0 + w2 * (10395.0 / 599040.0))))));
  const double jd = static_cast<double>(low) * 0.015625;
  const DoubleDouble y1 = TwoSum(jd, wh);
  const DoubleDouble y = FastTwoSum(y1.hi, y1.lo + (w.lo + tail));
  if (RoundsApart(Enclosure<double>{y.hi, y.lo, kAcosErrorBound * y.hi})) [[unlikely]]
    return SlowAcos(t, y);
  return y.hi + y.lo;
}

}  // namespace

double AcosPlain(double x) {
  return AcosT<PlainArithmetic>(x);
}
#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA double AcosFused(double x) {
  return AcosT<FusedArithmetic>(x);
}
#endif

}  // namespace quarn::elementary
