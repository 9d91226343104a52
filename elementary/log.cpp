// log: the log core, its rounding test, and the fixed-point slow path.
#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/kernels.hpp"

namespace quarn::elementary {

// Zero, negative, subnormal, infinite or NaN arguments.
double EdgeLog(double x) {
  if (x != x) return x;
  if (x == 0.0) return -std::numeric_limits<double>::infinity();
  if (x < 0.0) return std::numeric_limits<double>::quiet_NaN();
  if (x == std::numeric_limits<double>::infinity()) return x;
  return FinishLog(LogCore(x), x);  // subnormal
}

double LogPlain(double x) {
  return LogT<PlainArithmetic>(x);
}
#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA double LogFused(double x) {
  return LogT<FusedArithmetic>(x);
}
#endif

namespace {

// ln x for x within 2^-36 of 1, exactly, without the fixed-point path: sums
// of mole fractions that are 1 to a few ulps bring the log core such arguments
// again and again, and ln(1 + t) is within a hair of a rounding boundary there.
// With t = x - 1 (exact), t = k 2^-53 for an integer |k| < 2^17, and
// ln x = t - t^2/2 + R, R = t^3/3 - t^4/4 + ... of the sign of t, |R| <
// |t|^3/2 < 2^-109. t^2 = k^2 2^-106 is exact; s = t - t^2/2, its rounding h
// (|h| >= 2^-53, so that h's neighbours are multiples of 2^-106) and the error
// e = s - h are multiples of 2^-107, as is half the gap from h to its
// neighbour on e's side. So |e| is either exactly that half-gap, a tie that R
// breaks (to the neighbour where R has e's sign), or at least 2^-107 short of
// it, which R cannot make up: then h is the double nearest ln x.
double LogNearOne(double x) {
  const double t = x - 1.0;
  const double minus_half_square = -0.5 * (t * t);
  const double h = t + minus_half_square;
  const double e = minus_half_square - (h - t);  // exact: |t| > |t^2/2|
  if (e == 0.0) return h;
  const bool away_from_zero = (e > 0.0) == (h > 0.0);
  const double neighbour = FromBits(away_from_zero ? Bits(h) + 1 : Bits(h) - 1);
  const double half_gap = 0.5 * (neighbour - h);
  if (e != half_gap) return h;
  return (t > 0.0) == (e > 0.0) ? neighbour : h;
}

}  // namespace

double SlowLog(double x) {
  NoteSlowPath(Function::kLog, x, 0.0);
  if (std::fabs(x - 1.0) < 0x1p-36) return LogNearOne(x);
  double result = 0.0;
  // ln x of a double other than 1 is transcendental; its hardest cases lie about
  // 2^-120 from a rounding boundary, far outside the 2^-290 bound.
  RoundFixed(LogFixed(x), FixedUnit(290), 0, result);
  return result;
}

Fixed LogFixed(double x) {
  // One Newton step on e^y = x from the fast path's y0, whose error is below
  // 2^-72: u = x e^-y0 - 1, ln x = y0 + u - u^2/2 + u^3/3 - u^4/4.
  const DoubleDouble y0 = LogCore(x);
  const Fixed y = Add(FixedFromDouble(y0.hi), FixedFromDouble(y0.lo));
  int e = 0;
  const std::uint64_t bits = Decompose(x, e);
  const double m = FromBits((bits & 0xfffffffffffffu) | 0x3ff0000000000000u);
  // x e^-y0 = m e^(e ln2 - y0)
  const Fixed w = Subtract(Multiply(FixedFromDouble(static_cast<double>(e)), Ln2Fixed()), y);
  int exponent = 0;
  Fixed scaled = Multiply(FixedFromDouble(m), ExpFixed(w, exponent));
  scaled = exponent >= 0 ? ShiftLeft(scaled, exponent) : ShiftRight(scaled, -exponent);
  const Fixed u = Subtract(scaled, FixedFromDouble(1.0));
  const Fixed u2 = Multiply(u, u);
  const Fixed u3 = Multiply(u2, u);
  Fixed series = Subtract(u, ShiftRight(u2, 1));
  series = Add(series, DivideBySmall(u3, 3));
  series = Subtract(series, ShiftRight(Multiply(u2, u2), 2));
  return Add(y, series);
}

}  // namespace quarn::elementary
