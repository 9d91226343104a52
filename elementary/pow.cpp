// pow: x^y = e^(y ln x), ln x as a double-double from the log core, its
// product with y as a double-double, and e^z from the exp core. The slow path
// does the same in fixed point, and settles exact results and midpoints (which
// no approximation can) with integer arithmetic.
#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/kernels.hpp"

namespace quarn::elementary {
namespace {

__extension__ using U128 = unsigned __int128;

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

double PowPlain(double x, double y) {
  return PowT<PlainArithmetic>(x, y);
}
#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA double PowFused(double x, double y) {
  return PowT<FusedArithmetic>(x, y);
}
#endif

}  // namespace quarn::elementary
