// pow: x^y = e^(y ln x), ln x as a double-double from the log core, its
// product with y as a double-double, and e^z from the exp core. The slow path
// does the same in fixed point, and settles exact results and midpoints (which
// no approximation can) with integer arithmetic.
#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/cores.hpp"

namespace quarn::elementary {
namespace {

__extension__ using U128 = unsigned __int128;

// The exp core's 2^-71 and the error of y ln x, |y| 2^-79 from the log core
// plus the product's roundings, with room.
constexpr double kExpErrorBound = 0x1p-70;
constexpr double kLogAbsoluteErrorBound = 0x1p-77;

enum class IntegerKind { kNotInteger, kOdd, kEven };

IntegerKind KindOf(double y) {
  const std::uint64_t magnitude = MagnitudeBits(y);
  if (magnitude >= 0x4340000000000000u) return IntegerKind::kEven;  // 2^53 and above
  if (magnitude < 0x3ff0000000000000u)
    return y == 0.0 ? IntegerKind::kEven : IntegerKind::kNotInteger;
  const int exponent = static_cast<int>(magnitude >> 52) - 1023;  // 0 .. 52
  const std::uint64_t fraction_mask = (std::uint64_t{1} << (52 - exponent)) - 1;
  const std::uint64_t significand = (magnitude & 0xfffffffffffffu) | (std::uint64_t{1} << 52);
  if (significand & fraction_mask) return IntegerKind::kNotInteger;
  return ((significand >> (52 - exponent)) & 1u) ? IntegerKind::kOdd : IntegerKind::kEven;
}

// x^y exactly, for positive finite x, where it is a double or a midpoint
// between two (then x^y = s^a, s the 2^b-th root of x, a double, and y = a/2^b);
// false where it is neither.
bool ExactPower(double x, double y, double& result) {
  // y = a / 2^b, a an integer.
  int b = 0;
  double a = y;
  while (KindOf(a) == IntegerKind::kNotInteger) {
    a *= 2.0;
    ++b;
  }
  for (; b > 0; --b) {
    const double s = std::sqrt(x);  // IEEE: correctly rounded
    const DoubleDouble square = TwoProduct(s, s);
    if (square.hi != x || square.lo != 0.0) return false;
    x = s;
  }
  // x = u 2^f with u odd.
  std::uint64_t bits = Bits(x);
  int f = static_cast<int>(bits >> 52) - 1075;
  std::uint64_t u = bits & 0xfffffffffffffu;
  if ((bits >> 52) == 0)
    f = -1074;
  else
    u |= std::uint64_t{1} << 52;
  while ((u & 1u) == 0) {
    u >>= 1;
    ++f;
  }
  if (std::fabs(a) > 0x1p62) return false;
  const std::int64_t n = static_cast<std::int64_t>(a);
  Fixed value;
  if (u == 1) {
    value.words[0] = 1;
  } else {
    if (n < 0) return false;  // 1/u^n is no dyadic rational
    U128 power = 1;
    for (std::int64_t i = 0; i < n; ++i) {
      power *= u;
      if (power >> 64) return false;  // more than 64 bits: neither a double nor a midpoint
    }
    value.words[0] = static_cast<std::uint64_t>(power);
  }
  const double scale = static_cast<double>(f) * a;
  const int exponent = scale > 4000.0 ? 4000 : scale < -4000.0 ? -4000 : static_cast<int>(scale);
  return RoundFixed(value, Fixed{}, exponent, result);
}

}  // namespace

double SlowPow(double x, double y) {
  NoteSlowPath(Function::kPow, x, y);
  const Fixed z = Multiply(LogFixed(x), FixedFromDouble(y));
  int exponent = 0;
  const Fixed e = ExpFixed(z, exponent);
  // The error of e: |y| 2^-295 from ln x, 2^-298 from exp, relative; e < 1.5.
  int y_bits = static_cast<int>((MagnitudeBits(y) >> 52)) - 1023 + 1;
  if (y_bits < 0) y_bits = 0;
  double result = 0.0;
  if (RoundFixed(e, FixedUnit(294 - y_bits), exponent, result)) return result;
  if (ExactPower(x, y, result)) return result;
  // Not reached for any double x and y whose power is neither exact nor a
  // midpoint: keep the nearest to the approximation.
  RoundFixed(e, Fixed{}, exponent, result);
  return result;
}

namespace {

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
  const double bound = (kExpErrorBound + std::fabs(y) * kLogAbsoluteErrorBound) * e.value.hi;
  double rounded;
  if (e.exponent <= -1022 || !RoundsAlike(e.value.hi, e.value.lo, bound, rounded)) [[unlikely]]
    return SlowPow(x, y);
  if (e.exponent > 1023) return rounded * PowerOfTwo(e.exponent - 1) * 2.0;
  return rounded * PowerOfTwo(e.exponent);
}

// The cases other than a positive normal x and a finite y: zeros, subnormal
// and negative x, infinities and NaN, as C's pow.
double SpecialPow(double x, double y) {
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  if (y == 0.0 || x == 1.0) return 1.0;
  if (x != x || y != y) return x + y;
  const double ax = std::fabs(x), ay = std::fabs(y);
  const IntegerKind kind = KindOf(y);
  const bool negative_result = x < 0.0 || (x == 0.0 && std::signbit(x));
  const double sign = negative_result && kind == IntegerKind::kOdd ? -1.0 : 1.0;
  if (ay == kInfinity) {
    if (ax == 1.0) return 1.0;
    return (ax < 1.0) == (y < 0.0) ? kInfinity : 0.0;
  }
  if (ax == 0.0) return sign * (y < 0.0 ? kInfinity : 0.0);
  if (ax == kInfinity) return sign * (y < 0.0 ? 0.0 : kInfinity);
  if (x < 0.0 && kind == IntegerKind::kNotInteger) return std::numeric_limits<double>::quiet_NaN();
  return sign * PositivePowT<PlainArithmetic>(ax, y);
}

// The method's cube root: x^y for the double y nearest 1/3, which is
// 1/3 - 1/(3 2^54). x^y = x^(1/3) x^-d with d = 1/(3 2^54): the cube root as a
// double-double, from the inverse cube root (a quartic start good to 2^-13.6
// and one division-free step of third order), then one correction from the
// exact residual, relative error below 2^-95; and
// x^-d = 1 - d ln x with |d ln x| < 2^-46, for which a rough ln x (error below
// 2^-20) is enough. Its only exact case is x = 1; the rest of the error stays
// below 2^-76.
constexpr double kStoredOneThird = 1.0 / 3.0;
constexpr double kOneThirdShortfall = 0x1p-54 / 3.0;  // d, to within 2^-108
constexpr double kCubeRootErrorBound = 0x1p-72;
// 2^(-r/3) for r = 0, 1, 2.
constexpr double kInverseCubeRootOfTwoPowers[3] = {1.0, 0x1.965fea53d6e3dp-1, 0x1.428a2f98d728bp-1};

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
  double y = A::MulAdd(m2,
                       A::MulAdd(m2, 0.02807549885053822,
                                 A::MulAdd(m, -0.21755464405496214, 0.6859783277546792)),
                       A::MulAdd(m, -1.16234847963525, 1.6657700244729006)) *
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
constexpr double kSquareRootPowerErrorBound = 0x1p-96;

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
  // The common cases first: x positive, normal and finite, and y the method's
  // 1/3 or another finite y.
  if (IsPositiveNormal(x)) [[likely]] {
    if (y == kStoredOneThird) return OneThirdPowerT<A>(x);
    if ((y == 1.5 || y == 2.5) && x > 0x1p-300 && x < 0x1p300) return SquareRootPowerT<A>(x, y);
    if (MagnitudeBits(y) < 0x7ff0000000000000u) return PositivePowT<A>(x, y);
  }
  return SpecialPow(x, y);
}

}  // namespace

double PowPlain(double x, double y) {
  return PowT<PlainArithmetic>(x, y);
}
#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA double PowFused(double x, double y) {
  return PowT<FusedArithmetic>(x, y);
}
#endif

}  // namespace quarn::elementary
