// log: x = 2^e m, m in [1, 2); with c about 1/m from a table (or 1/(2m) past
// sqrt 2), ln x = (e + w) ln 2 - ln c' + log1p(m c - 1), the last from its
// Taylor series on |m c - 1| < 2^-7.4.
#include <cstdint>
#include <limits>

#include "elementary/cores.hpp"
#include "elementary/tables.inc"

namespace quarn::elementary {
namespace {

// Relative error bound of the fast path, with room over the analysis's 2^-67.
constexpr double kLogErrorBound = 0x1p-65;

double SlowLog(double x) {
  NoteSlowPath(Function::kLog, x, 0.0);
  double result = 0.0;
  // ln x of a double other than 1 is transcendental; its hardest cases lie about
  // 2^-120 from a rounding boundary, far outside the 2^-290 bound.
  RoundFixed(LogFixed(x), FixedUnit(290), 0, result);
  return result;
}

}  // namespace

DoubleDouble LogCore(double x) {
  std::uint64_t bits = Bits(x);
  int e = static_cast<int>(bits >> 52) - 1023;
  if ((bits >> 52) == 0) {  // subnormal: scale into the normal range
    bits = Bits(x * 0x1p54);
    e = static_cast<int>(bits >> 52) - 1023 - 54;
  }
  const std::uint64_t significand_bits = (bits & 0xfffffffffffffu) | 0x3ff0000000000000u;
  const double m = FromBits(significand_bits);
  const double* t = tables::kLogTable[(significand_bits >> 45) & 127];
  const double c = t[0];
  // m c - 1 exactly as rh + rl: m split into 26 and 27 bits, c of 10 bits.
  const double m_high = FromBits(significand_bits & ~((std::uint64_t{1} << 27) - 1));
  const double m_low = m - m_high;
  const DoubleDouble r = TwoSum(m_high * c - 1.0, m_low * c);
  const double rh = r.hi, rl = r.lo;
  // (e + w) ln 2 - ln c', the first product exact.
  const double n = static_cast<double>(e) + t[1];
  const DoubleDouble big = TwoSum(n * tables::kLn2Hi, t[2]);
  const double big_lo = big.lo + (n * tables::kLn2Lo + t[3]);
  // log1p(r) = rh - rh^2/2 + rh^3 P(rh) + rl (1 - rh).
  const DoubleDouble square = TwoProduct(rh, rh);
  const double poly =
      1.0 / 3.0 +
      rh *
          (-0.25 +
           rh * (0.2 +
                 rh * (-1.0 / 6.0 +
                       rh * (1.0 / 7.0 +
                             rh * (-0.125 + rh * (1.0 / 9.0 + rh * (-0.1 + rh * (1.0 / 11.0))))))));
  const double small = ((rl - rh * rl) - 0.5 * square.lo) + (square.hi * rh) * poly;
  const DoubleDouble s1 = TwoSum(big.hi, rh);
  const DoubleDouble s2 = TwoSum(s1.hi, -0.5 * square.hi);
  const double lo = ((s1.lo + s2.lo) + big_lo) + small;
  return FastTwoSum(s2.hi, lo);
}

Fixed LogFixed(double x) {
  // One Newton step on e^y = x from the fast path's y0, whose error is below
  // 2^-67: u = x e^-y0 - 1, ln x = y0 + u - u^2/2 + u^3/3 - u^4/4.
  const DoubleDouble y0 = LogCore(x);
  const Fixed y = Add(FixedFromDouble(y0.hi), FixedFromDouble(y0.lo));
  std::uint64_t bits = Bits(x);
  int e = static_cast<int>(bits >> 52) - 1023;
  if ((bits >> 52) == 0) {
    bits = Bits(x * 0x1p54);
    e = static_cast<int>(bits >> 52) - 1023 - 54;
  }
  const double m = FromBits((bits & 0xfffffffffffffu) | 0x3ff0000000000000u);
  // x e^-y0 = m e^(e ln2 - y0)
  static const Fixed ln2 = FixedFromWords(tables::kLn2Words);
  const Fixed w = Subtract(Multiply(FixedFromDouble(static_cast<double>(e)), ln2), y);
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

double Log(double x) {
  const std::uint64_t bits = Bits(x);
  if (bits - 1 >= 0x7fefffffffffffffu) [[unlikely]] {  // 0, negative, inf or NaN
    if (x != x) return x;
    if (x == 0.0) return -std::numeric_limits<double>::infinity();
    if (x < 0.0) return std::numeric_limits<double>::quiet_NaN();
    return x;  // +inf
  }
  if (x == 1.0) return 0.0;
  const DoubleDouble y = LogCore(x);
  if (!RoundsToHi(y.hi, y.lo, kLogErrorBound * (y.hi < 0.0 ? -y.hi : y.hi))) [[unlikely]]
    return SlowLog(x);
  return y.hi;
}

}  // namespace quarn::elementary
