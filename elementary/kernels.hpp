// The fast paths of exp, log and pow as templates on the arithmetic (plain or
// fused): for the entry points of each build, and for code that is itself
// built once per arithmetic and wants them inline. Each falls back on its slow
// path, or on the out-of-line handling of special arguments.
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
  const ScaledDoubleDouble e = ExpCoreT<A, false>({x, 0.0});
  double rounded;
  if (!RoundsAlike(e.value.hi, e.value.lo, kExpErrorBound * e.value.hi, rounded)) [[unlikely]]
    return SlowExp(x);
  return rounded * PowerOfTwo(e.exponent);  // exact
}

// The double nearest to ln x from the core's y, or the slow path's.
inline double FinishLog(DoubleDouble y, double x) {
  double rounded;
  if (!RoundsAlike(y.hi, y.lo, kLogErrorBound * std::fabs(y.hi), rounded)) [[unlikely]]
    return SlowLog(x);
  return rounded;  // 0 for x = 1, the core giving (0, 0)
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
  double rounded;
  if (e.exponent <= -1022 || !RoundsAlike(e.value.hi, e.value.lo, bound, rounded)) [[unlikely]]
    return SlowPow(x, y);
  if (e.exponent > 1023) return rounded * PowerOfTwo(e.exponent - 1) * 2.0;
  return rounded * PowerOfTwo(e.exponent);
}

// The method's cube root: x^y for the double y nearest 1/3, which is
// 1/3 - 1/(3 2^54). x^y = x^(1/3) x^-d with d = 1/(3 2^54): the cube root as a
// double-double, from the inverse cube root (a quartic start good to 2^-13.6
// and one division-free step of third order), then one correction from the
// exact residual, relative error below 2^-95; and
// x^-d = 1 - d ln x with |d ln x| < 2^-46, for which a rough ln x (error below
// 2^-20) is enough. Its only exact case is x = 1; the rest of the error stays
// below 2^-76.

template <class A>
[[gnu::always_inline]] inline double OneThirdPowerT(double x) {
  const std::uint64_t bits = Bits(x);  // x is positive and normal
  const int e = static_cast<int>(bits >> 52) - 1023;
  const std::uint64_t significand_bits = (bits & 0xfffffffffffffu) | 0x3ff0000000000000u;
  const double m = FromBits(significand_bits);
  // x = 2^(3q + r) m, a = 2^r m in [1, 8), x^(1/3) = 2^q a^(1/3); e + 1200 > 0.
  const unsigned shifted = static_cast<unsigned>(e + 1200);
  const int q = static_cast<int>(shifted / 3) - 400;
  const int r = static_cast<int>(shifted % 3);
  const double a = m * PowerOfTwo(r);
  // y about a^(-1/3) (the quartic by Estrin's scheme), then one step of third
  // order: with h = 1 - a y^3, a^(-1/3) = y (1 - h)^(-1/3)
  // = y (1 + h/3 + 2h^2/9 + 14h^3/81 + ...), |h| < 2^-12, the rest below 2^-50.
  const double m2 = m * m;
  constexpr const double* start = kInverseCubeRootStart;
  double y = A::MulAdd(m2, A::MulAdd(m2, start[4], A::MulAdd(m, start[3], start[2])),
                       A::MulAdd(m, start[1], start[0])) *
             kInverseCubeRootOfTwoPowers[r];
  const double h = A::MulAdd(-a, (y * y) * y, 1.0);
  y = A::MulAdd(y * h, A::MulAdd(h, A::MulAdd(h, 14.0 / 81.0, 2.0 / 9.0), 1.0 / 3.0), y);
  const double y2 = y * y;
  const double c = a * y2;
  // a - c^3 from exact products, then c + (a - c^3) / (3 c^2), 1/c^2 being y^2.
  const DoubleDouble square = A::Product(c, c);
  const DoubleDouble cube = A::Product(square.hi, c);
  const double residual = (a - cube.hi) - A::MulAdd(square.lo, c, cube.lo);
  const double correction = residual * (y2 * (1.0 / 3.0));
  // ln x roughly, from the log table: (e + w) ln 2 - ln c' + log1p(m c - 1).
  const LogReduction reduced = ReduceForLog<A>(bits, e);
  const double u = reduced.r;
  const double ln_x =
      A::MulAdd(reduced.n, tables::kLn2Hi, reduced.row[2]) + A::MulAdd(-0.5 * u, u, u);
  const double lo = A::MulAdd(-c * kOneThirdShortfall, ln_x, correction);
  double rounded;
  if (!RoundsAlike(c, lo, kCubeRootErrorBound * c, rounded)) [[unlikely]]
    return SlowPow(x, kStoredOneThird);
  return rounded * PowerOfTwo(q);
}

// x^(n + 1/2) for n = 1 or 2 (the method's T^1.5 and T^2.5), 2^-300 < x <
// 2^300: x^n sqrt(x) with the root as a double-double (the rounded root and one
// Newton correction, relative error below 2^-104) and exact products; the error
// stays below 2^-101. Exact results and midpoints (x a square) fall to the slow
// path, which settles them.
template <class A>
[[gnu::always_inline]] inline double SquareRootPowerT(double x, double y) {
  const double root = std::sqrt(x);  // IEEE: correctly rounded
  const DoubleDouble root_squared = A::Product(root, root);
  const double root_lo = ((x - root_squared.hi) - root_squared.lo) / (2.0 * root);
  const DoubleDouble power = y == 1.5 ? DoubleDouble{x, 0.0} : A::Product(x, x);
  const DoubleDouble p = A::Product(power.hi, root);
  const double lo = p.lo + A::MulAdd(power.hi, root_lo, power.lo * root);
  double rounded;
  if (!RoundsAlike(p.hi, lo, kSquareRootPowerErrorBound * p.hi, rounded)) [[unlikely]]
    return SlowPow(x, y);
  return rounded;
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
