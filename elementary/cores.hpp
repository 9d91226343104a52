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
// of value.hi), |x.hi| <= 746 and |x.lo| <= 2^-40, value in [0.99, 2.01), with
// a relative error below 2^-71: x = k ln2/1024 + r with |r| <= ln2/2048 <
// 2^-11.5, e^x = 2^(k/1024) e^r, the 1024 values 2^(j/1024) from a table and
// e^r - 1 from its Taylor polynomial of degree 5 (truncation 2^-78.5, the
// reduction's constant 2^-75, the reduced argument's low part 2^-74 with fused
// multiply-adds, the roundings of r^2, of the polynomial and of the products of
// the table's value about 2^-76 each).
struct ScaledDoubleDouble {
  DoubleDouble value;
  int exponent;
};

// With kDoubleDoubleArgument false, x.lo is 0 and left out, and so is rl's
// product with rh (|rl| < 2^-63 then, the product below 2^-74).
template <class A, bool kDoubleDoubleArgument = true>
[[gnu::always_inline]] inline ScaledDoubleDouble ExpCoreT(DoubleDouble x) {
  // k = x 1024/ln 2 rounded to an integer (either way at a tie: any k near it
  // keeps |r| within ln 2/2048 and a hair), read from the low bits of the sum.
  constexpr double kShifter = 0x1.8p52;
  const double shifted = A::MulAdd(x.hi, tables::k1024OverLn2, kShifter);
  const double kd = shifted - kShifter;
  const std::int32_t k = static_cast<std::int32_t>(static_cast<std::uint32_t>(Bits(shifted)));
  // x.hi - k ln2/1024: the first product and the difference are exact.
  const double r1 = A::MulAdd(-kd, tables::kLn2Over1024Hi, x.hi);
  const DoubleDouble reduced = A::SubtractProduct(r1, kd, tables::kLn2Over1024Lo);
  const double rh = reduced.hi;
  double rl = reduced.lo;
  if constexpr (kDoubleDoubleArgument) rl += x.lo;
  // e^r - 1 = rh + (rh^2 (1/2 + rh/6 + rh^2/24 + rh^3/120) + rl (1 + rh + rh^2/2));
  // rl is up to 2^-40 for a double-double argument. The polynomial in two
  // halves (Estrin's scheme), for a shorter chain of dependent operations.
  const double rh2 = rh * rh;
  const double poly =
      A::MulAdd(rh2, A::MulAdd(rh, 1.0 / 120.0, 1.0 / 24.0), A::MulAdd(rh, 1.0 / 6.0, 0.5));
  double rl_term = rl;
  if constexpr (kDoubleDoubleArgument) rl_term = A::MulAdd(rl, rh * A::MulAdd(0.5, rh, 1.0), rl);
  // 2^(j/1024) (1 + e^r - 1) = t0 + t0 rh + t1 + t1 rh + t0 rl_term + t0 rh^2 poly.
  const double* t = tables::kExp2[k & 1023];
  const double* split = tables::kExp2Split[k & 1023];
  const DoubleDouble sum = A::ScaleOnePlus(t[0], {split[0], split[1]}, rh);
  const double rest =
      A::MulAdd(t[0] * rh2, poly, A::MulAdd(t[0], rl_term, A::MulAdd(t[1], rh, t[1])));
  const double lo = sum.lo + rest;  // the sum's error, the last ready, joins once
  return {{sum.hi, lo}, static_cast<int>(k >> 10)};
}

// ln x for a positive finite x, as hi + lo (lo about an ulp of hi): the error
// is below 2^-72 |ln x| and below 2^-80 in absolute terms. x = 2^e m, m in
// [1, 2); with c about 1/m from a table of 1024 (or 1/(2m) past sqrt 2),
// ln x = (e + w) ln 2 - ln c' + log1p(r), r = m c - 1 exact in a double and at
// most 2^-10, the last term from its Taylor series to degree 8 (truncation
// 2^-83 |r|; the roundings of the cubic and higher terms about 2^-52 |r|^3/3,
// which is 2^-72.6 of |ln x| where c is 1 and 2^-84.6 absolute elsewhere, where
// |ln x| > 2^-11, with the roundings of their sums; (e + w) ln 2 to 2^-87).
//
// The table's row of m, (e + w) as a double, and r.
struct LogReduction {
  const double* row;  // c, w, and -ln c' as a double-double
  double n;
  double r;
};

template <class A>
[[gnu::always_inline]] inline LogReduction ReduceForLog(std::uint64_t bits, int e) {
  const std::uint64_t significand_bits = (bits & 0xfffffffffffffu) | 0x3ff0000000000000u;
  const double* row = tables::kLogTable[(significand_bits >> 42) & 1023];
  const double m = FromBits(significand_bits);
  return {row, static_cast<double>(e) + row[1], A::ExactMulSubOne(m, row[0])};
}

// For a positive normal x: its bits, and e its exponent.
template <class A>
[[gnu::always_inline]] inline DoubleDouble LogCoreOfNormalT(std::uint64_t bits, int e) {
  const LogReduction reduced = ReduceForLog<A>(bits, e);
  const double* t = reduced.row + 2;
  const double n = reduced.n, r = reduced.r;
  // n ln 2 - ln c', the first product exact; |n ln 2| >= 0.69 > |ln c'| unless n
  // is 0.
  const DoubleDouble big = FastTwoSum(n * tables::kLn2Hi, t[0]);
  const double big_lo = big.lo + A::MulAdd(n, tables::kLn2Lo, t[1]);
  // log1p(r) = (r - r^2/2) + r^3 P(r), P by Estrin's scheme.
  const DoubleDouble head = A::MinusHalfSquare(r);
  const double r2 = r * r;
  const double poly =
      A::MulAdd(r2 * r2, A::MulAdd(r, -0.125, 1.0 / 7.0),
                A::MulAdd(r2, A::MulAdd(r, -1.0 / 6.0, 0.2), A::MulAdd(r, -0.25, 1.0 / 3.0)));
  const double small = (r2 * r) * poly;
  // Exact as a fast sum: |big| is 0 or at least 2^-11 (the table holds no
  // smaller nonzero -ln c'), so its exponent is at least that of head.hi
  // (|head.hi| <= |r| <= 2^-10).
  const DoubleDouble sum = FastTwoSum(big.hi, head.hi);
  const double lo = (sum.lo + (big_lo + head.lo)) + small;  // in the order they are ready
  return {sum.hi, lo};
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

inline DoubleDouble LogCore(double x) {
  return LogCoreT<PlainArithmetic>(x);
}

// ln 2 in fixed point.
const Fixed& Ln2Fixed();
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
