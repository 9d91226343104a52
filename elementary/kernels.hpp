// The fast paths of exp, log and pow for one double, as templates on the
// arithmetic (plain or fused): for the entry points of each build, and for code
// that is itself built once per arithmetic and wants them inline. Their
// arithmetic is the cores' (fast_path_cores.hpp); here each takes its
// arguments, and falls back on its slow path or on the out-of-line handling of
// special arguments.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/cores.hpp"
#include "elementary/fast_path_constants.hpp"

namespace quarn::elementary {

// Special arguments, out of line.
double EdgeExp(double x);
double EdgeLog(double x);
double SpecialPow(double x, double y);

template <class A>
[[gnu::always_inline]] inline double ExpT(double x) {
  detail::Count(static_cast<int>(Function::kExp));
  // |x| < 708: a normal result, 2^-1021.4 < e^x < 2^1021.4 (and 1 where x is
  // so small that e^x lies within a quarter ulp of it).
  if (!(std::fabs(x) < 708.0)) [[unlikely]]
    return EdgeExp(x);
  const ExpAnswer<double> e = ExpOfValue<A>(x);
  if (RoundsApart(e.value)) [[unlikely]]
    return SlowExp(x);
  return (e.value.hi + e.value.lo) * PowerOfTwo(ExponentOfShifted(e.shifted));  // exact
}

// The double nearest to ln x from the core's y, or the slow path's.
inline double FinishLog(DoubleDouble y, double x) {
  if (RoundsApart(LogAnswer<ScalarValues>(y))) [[unlikely]]
    return SlowLog(x);
  return y.hi + y.lo;  // 0 for x = 1, the core giving (0, 0)
}

template <class A>
[[gnu::always_inline]] inline double LogT(double x) {
  detail::Count(static_cast<int>(Function::kLog));
  if (!IsPositiveNormal(x)) [[unlikely]]
    return EdgeLog(x);
  const std::uint64_t bits = Bits(x);
  return FinishLog(LogCoreOfNormalT<A>(bits, static_cast<int>(bits >> 52) - 1023), x);
}

// |x|^y for positive finite nonzero |x| and finite nonzero y.
template <class A>
[[gnu::always_inline]] inline double PositivePowT(double x, double y) {
  const DoubleDouble l = LogCoreT<A>(x);
  const double z_estimate = y * l.hi;
  if (!(z_estimate <= 710.0)) return std::numeric_limits<double>::infinity();  // overflows
  if (z_estimate < -746.0) return 0.0;
  if (z_estimate < 0x1p-60 && z_estimate > -0x1p-60) return 1.0;  // within 2^-60 of 1
  const DoubleDouble product = A::Product(y, l.hi);
  const DoubleDouble z = FastTwoSum(product.hi, A::MulAdd(y, l.lo, product.lo));
  if (z.hi > tables::kExpLargestFinite || z.hi < tables::kExpSmallestNonzero + 1.0)
    return SlowPow(x, y);  // at the edges of the range
  const ScaledDoubleDouble e = ExpCoreT<A>(z);
  const double bound = (kPowExpErrorBound + std::fabs(y) * kLogAbsoluteErrorBound) * e.value.hi;
  if (e.exponent <= -1022 || RoundsApart(Enclosure<double>{e.value.hi, e.value.lo, bound}))
      [[unlikely]]
    return SlowPow(x, y);
  const double rounded = e.value.hi + e.value.lo;
  if (e.exponent > 1023) return rounded * PowerOfTwo(e.exponent - 1) * 2.0;
  return rounded * PowerOfTwo(e.exponent);
}

// The method's cube root (x^y for the double y nearest 1/3) for positive
// normal x.
template <class A>
[[gnu::always_inline]] inline double OneThirdPowerT(double x) {
  const std::uint64_t bits = Bits(x);
  const int e = static_cast<int>(bits >> 52) - 1023;
  const double m = SignificandOf(bits);
  // x = 2^(3q + r) m, a = 2^r m in [1, 8), x^(1/3) = 2^q a^(1/3); e + 1200 > 0.
  const unsigned shifted = static_cast<unsigned>(e + 1200);
  const int q = static_cast<int>(shifted / 3) - 400;
  const int r = static_cast<int>(shifted % 3);
  const Enclosure<double> p =
      OneThirdPowerCore<A>(m, e, m * PowerOfTwo(r), kInverseCubeRootOfTwoPowers[r]);
  if (RoundsApart(p)) [[unlikely]]
    return SlowPow(x, kStoredOneThird);
  return (p.hi + p.lo) * PowerOfTwo(q);
}

// x^1.5 or x^2.5 for 2^-300 < x < 2^300; exact results and midpoints fall to
// the slow path, which settles them.
template <class A>
[[gnu::always_inline]] inline double SquareRootPowerT(double x, double y) {
  const double root = std::sqrt(x);  // IEEE: correctly rounded
  const double root_lo = RootCorrection<A>(x, root);
  const DoubleDouble power = y == 1.5 ? DoubleDouble{x, 0.0} : A::Product(x, x);
  const Enclosure<double> p = TimesRoot<A>(power, root, root_lo);
  if (RoundsApart(p)) [[unlikely]]
    return SlowPow(x, y);
  return p.hi + p.lo;
}

template <class A>
[[gnu::always_inline]] inline double PowT(double x, double y) {
  detail::Count(static_cast<int>(Function::kPow));
  // The common cases first: x positive, normal and finite, and y the method's
  // 1/3 or another finite y.
  if (IsPositiveNormal(x)) [[likely]] {
    if (y == kStoredOneThird) return OneThirdPowerT<A>(x);
    if ((y == 1.5 || y == 2.5) && x > 0x1p-300 && x < 0x1p300) return SquareRootPowerT<A>(x, y);
    if (MagnitudeBits(y) < 0x7ff0000000000000u) return PositivePowT<A>(x, y);
  }
  return SpecialPow(x, y);
}

}  // namespace quarn::elementary
