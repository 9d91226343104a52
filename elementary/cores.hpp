// What the correctly rounded functions share: the double-double cores of exp
// and log (templates on the arithmetic, plain or fused), and the fixed-point
// functions of the slow paths.
#pragma once

#include <cstdint>

#include "elementary/correctly_rounded.hpp"
#include "elementary/double_double.hpp"
#include "elementary/fixed_point.hpp"
#include "elementary/tables.inc"

namespace quarn::elementary {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUARN_ELEMENTARY_FUSED_PATH 1
#define QUARN_TARGET_FMA [[gnu::target("fma")]]
#else
#define QUARN_ELEMENTARY_FUSED_PATH 0
#endif

// |x| with the sign bit cleared, as bits.
inline std::uint64_t MagnitudeBits(double x) {
  return Bits(x) & 0x7fffffffffffffffu;
}

// The nearest integer to x as a double and as an integer, |x| < 2^51.
inline double NearestInteger(double x, std::int64_t& n) {
  constexpr double kShifter = 0x1.8p52;
  const double shifted = x + kShifter;
  n = static_cast<std::int64_t>(Bits(shifted) & 0xfffffffffffffu) - (std::int64_t{1} << 51);
  return shifted - kShifter;
}

// exp(x.hi + x.lo) = 2^exponent * (value.hi + value.lo) (value.lo about an ulp
// of value.hi), |x.hi| <= 746 and
// |x.lo| <= 2^-40, value in [0.99, 2.01), with a relative error below 2^-71:
// x = k ln2/256 + r with |r| <= ln2/512 < 2^-9.5, e^x = 2^(k/256) e^r, the 256
// values 2^(j/256) from a table and e^r - 1 from its Taylor polynomial of
// degree 6 (truncation 2^-78.8, the reduction's constant 2^-78, the roundings of
// r^2, of the polynomial and of the products of the table's value about 2^-74
// each).
struct ScaledDoubleDouble {
  DoubleDouble value;
  int exponent;
};

// With kDoubleDoubleArgument false, x.lo is 0 and left out, and so is rl's
// product with rh (|rl| < 2^-63 then, the product below 2^-74).
template <class A, bool kDoubleDoubleArgument = true>
[[gnu::always_inline]] inline ScaledDoubleDouble ExpCoreT(DoubleDouble x) {
  // k = x 256/ln 2 rounded to an integer (either way at a tie: any k near it
  // keeps |r| within ln 2/512 and a hair), read from the low bits of the sum.
  constexpr double kShifter = 0x1.8p52;
  const double shifted = A::MulAdd(x.hi, tables::k256OverLn2, kShifter);
  const double kd = shifted - kShifter;
  const std::int32_t k = static_cast<std::int32_t>(static_cast<std::uint32_t>(Bits(shifted)));
  // x.hi - k ln2/256: the first product and the difference are exact.
  const double r1 = x.hi - kd * tables::kLn2Over256Hi;
  const DoubleDouble p = A::Product(kd, tables::kLn2Over256Lo);
  const DoubleDouble s = TwoSum(r1, -p.hi);
  const double rh = s.hi;
  double rl = s.lo - p.lo;
  if constexpr (kDoubleDoubleArgument) rl += x.lo;
  // e^r - 1 = rh + (rh^2 (1/2 + rh/6 + ...) + rl (1 + rh + rh^2/2)); rl is up to
  // 2^-40 for a double-double argument.
  const double poly = A::MulAdd(
      rh,
      A::MulAdd(rh, A::MulAdd(rh, A::MulAdd(rh, 1.0 / 720.0, 1.0 / 120.0), 1.0 / 24.0), 1.0 / 6.0),
      0.5);
  double tail;
  if constexpr (kDoubleDoubleArgument)
    tail = A::MulAdd(rh * rh, poly, A::MulAdd(rl, rh * A::MulAdd(0.5, rh, 1.0), rl));
  else
    tail = A::MulAdd(rh * rh, poly, rl);
  const double* t = tables::kExp2[k & 255];
  const DoubleDouble product = A::ProductSplit(t[0], {t[2], t[3]}, rh);
  const DoubleDouble sum = FastTwoSum(t[0], product.hi);
  const double lo = sum.lo + A::MulAdd(t[1], rh, A::MulAdd(t[0], tail, product.lo + t[1]));
  return {{sum.hi, lo}, static_cast<int>(k >> 8)};
}

// ln x for a positive finite x, as hi + lo (lo about an ulp of hi): the error
// is below 2^-72 |ln x| and below 2^-82 in absolute terms. x = 2^e m, m in
// [1, 2); with c about 1/m from a table of 1024 (or 1/(2m) past sqrt 2),
// ln x = (e + w) ln 2 - ln c' + log1p(r), r = m c - 1 exact in a double and
// below 2^-10, the last term from its Taylor series to degree 8 (truncation
// 2^-83 |r|; the roundings of the cubic and higher terms about 2^-52 |r|^3/3,
// which is 2^-73.6 of |ln x| where c is 1 and 2^-84 absolute elsewhere, where
// |ln x| > 2^-11; (e + w) ln 2 to 2^-87).
//
// For a positive normal x: its bits, and e its exponent.
template <class A>
[[gnu::always_inline]] inline DoubleDouble LogCoreOfNormalT(std::uint64_t bits, int e) {
  const std::uint64_t significand_bits = (bits & 0xfffffffffffffu) | 0x3ff0000000000000u;
  const double m = FromBits(significand_bits);
  const double* t = tables::kLogTable[(significand_bits >> 42) & 1023];
  const double r = A::ExactMulSubOne(m, t[0]);
  // (e + w) ln 2 - ln c', the first product exact; |n ln 2| >= 0.69 > |ln c'|
  // unless n is 0.
  const double n = static_cast<double>(e) + t[1];
  const DoubleDouble big = FastTwoSum(n * tables::kLn2Hi, t[2]);
  const double big_lo = big.lo + A::MulAdd(n, tables::kLn2Lo, t[3]);
  // log1p(r) = r - r^2/2 + r^3 P(r).
  const DoubleDouble square = A::Product(r, r);
  double poly = A::MulAdd(r, -0.125, 1.0 / 7.0);
  poly = A::MulAdd(r, poly, -1.0 / 6.0);
  poly = A::MulAdd(r, poly, 0.2);
  poly = A::MulAdd(r, poly, -0.25);
  poly = A::MulAdd(r, poly, 1.0 / 3.0);
  const double small = A::MulAdd(square.hi * r, poly, -0.5 * square.lo);
  // |big + r| > 2^-11 > r^2/2 unless big is 0, when it is r.
  const DoubleDouble s1 = TwoSum(big.hi, r);
  const DoubleDouble s2 = FastTwoSum(s1.hi, -0.5 * square.hi);
  const double lo = ((s1.lo + s2.lo) + big_lo) + small;
  return {s2.hi, lo};
}

// x = 2^e m with m in [1, 2), for a positive finite x (a subnormal scaled by
// 2^54 first): the bits of a double with m's significand, and e.
inline std::uint64_t Decompose(double x, int& e) {
  std::uint64_t bits = Bits(x);
  e = static_cast<int>(bits >> 52) - 1023;
  if ((bits >> 52) == 0) [[unlikely]] {
    bits = Bits(x * 0x1p54);
    e = static_cast<int>(bits >> 52) - 1023 - 54;
  }
  return bits;
}

template <class A>
[[gnu::always_inline]] inline DoubleDouble LogCoreT(double x) {
  int e = 0;
  const std::uint64_t bits = Decompose(x, e);
  return LogCoreOfNormalT<A>(bits, e);
}

// Whether x is positive, normal and finite, in one comparison.
inline bool IsPositiveNormal(double x) {
  return Bits(x) - 0x0010000000000000u < 0x7fe0000000000000u;
}

inline ScaledDoubleDouble ExpCore(DoubleDouble x) {
  return ExpCoreT<PlainArithmetic>(x);
}
inline DoubleDouble LogCore(double x) {
  return LogCoreT<PlainArithmetic>(x);
}

// e^x = 2^exponent * result, result in [0.7, 1.5), |x| < 2^20, with a relative
// error below 2^-298.
Fixed ExpFixed(const Fixed& x, int& exponent);
// ln x for a positive finite x, with an absolute error below 2^-295.
Fixed LogFixed(double x);
// cos x and sin x for |x| <= 4, with absolute errors below 2^-312.
Fixed CosFixed(const Fixed& x);
Fixed SinFixed(const Fixed& x);

void NoteSlowPath(Function function, double x, double y);

// The slow paths, for the arguments whose fast path declined.
double SlowExp(double x);
double SlowLog(double x);
double SlowPow(double x, double y);
double SlowCos(double x);
double SlowAcos(double t, DoubleDouble y0);

// Each function's two paths, chosen between by the public entry points.
double ExpPlain(double x);
double LogPlain(double x);
double PowPlain(double x, double y);
double CosPlain(double x);
double AcosPlain(double x);
#if QUARN_ELEMENTARY_FUSED_PATH
double ExpFused(double x);
double LogFused(double x);
double PowFused(double x, double y);
double CosFused(double x);
double AcosFused(double x);
#endif

}  // namespace quarn::elementary
