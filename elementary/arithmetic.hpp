// The arithmetic the fast paths are written in, and the values they run on.
//
// Two ways of computing: with separate multiplications and additions (any IEEE
// machine), and with fused multiply-adds (x86-64 with FMA, compiled for it and
// chosen at run time, and every SIMD lane set). The error bounds hold for both,
// and the functions are correctly rounded either way, so both give the same
// bits.
//
// A value set names what the fast paths run on: V, one double or the doubles of
// several SIMD lanes; Index, a table's row number for each of them; and the
// operations whose form depends on that: a constant as a value (Splat), the
// fused multiply-add, the square root and |x| (Fma, Sqrt, Abs), a table's row for each
// value (Row, indexed by column), and the row numbers read from a value's bits. ScalarValues
// is one double; the lane sets are in lane_kernels.hpp.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "elementary/double_double.hpp"
#include "elementary/tables.inc"

namespace quarn::elementary {

struct ScalarValues {
  using V = double;
  using Index = std::uint64_t;
  [[gnu::always_inline]] static double Splat(double c) { return c; }
  [[gnu::always_inline]] static double Fma(double a, double b, double c) {
    return __builtin_fma(a, b, c);
  }
  [[gnu::always_inline]] static double Sqrt(double x) { return std::sqrt(x); }
  [[gnu::always_inline]] static double Abs(double x) { return std::fabs(x); }
  // The row of a table with kColumns doubles a row.
  template <int kColumns>
  [[gnu::always_inline]] static const double* Row(const double* table, Index row) {
    return table + row * kColumns;
  }
  // The exp table's row: k mod 1024 from the low bits of the shifted sum
  // 1.5 2^52 + k.
  [[gnu::always_inline]] static Index ExpRow(double shifted) { return Bits(shifted) & 1023u; }
  // The log table's row: the leading 10 bits of m's significand.
  [[gnu::always_inline]] static Index LogRow(double m) { return (Bits(m) >> 42) & 1023u; }
};

// Separate multiplications and additions; one double at a time.
struct PlainArithmetic : ScalarValues {
  static DoubleDouble Product(double a, double b) { return TwoProduct(a, b); }
  static double MulAdd(double a, double b, double c) { return a * b + c; }
  // r1 - k l as hi + lo, exactly (k l exact as a pair, then an exact sum).
  static DoubleDouble SubtractProduct(double r1, double k, double l) {
    const DoubleDouble p = TwoProduct(k, l);
    const DoubleDouble s = TwoSum(r1, -p.hi);
    return {s.hi, s.lo - p.lo};
  }
  // r - r^2/2 as hi + lo for |r| <= 2^-10, to within 2^-106 |r|.
  static DoubleDouble MinusHalfSquare(double r) {
    const DoubleDouble square = TwoProduct(r, r);
    const DoubleDouble s = FastTwoSum(r, -0.5 * square.hi);
    return {s.hi, s.lo - 0.5 * square.lo};
  }
  // t + t r as hi + lo, for t = 2^(row/1024) from the exp table (in [1, 2),
  // its split from the table beside it) and |r| < 2^-8, to within 2^-104 of it.
  static DoubleDouble ScaleOnePlus(double t, Index row, double r) {
    const double* split = tables::kExp2Split[row];
    const DoubleDouble product = TwoProductSplit(t, {split[0], split[1]}, r);
    const DoubleDouble sum = FastTwoSum(t, product.hi);
    return {sum.hi, sum.lo + product.lo};
  }
  // m c - 1 for m in [1, 2) and c of 11 bits where the result is a double
  // (|m c - 1| <= 2^-10): m split into 26 and 27 bits, the two products and the
  // difference exact, and so their sum.
  static double ExactMulSubOne(double m, double c) {
    const double m_high = FromBits(Bits(m) & ~((std::uint64_t{1} << 27) - 1));
    return (m_high * c - 1.0) + (m - m_high) * c;
  }
};

// Fused multiply-adds, on any value set: written once for one double and for
// the lanes.
template <class L>
struct Fused : L {
  using V = typename L::V;
  using Index = typename L::Index;
  // A value, or a constant made one.
  template <class X>
  [[gnu::always_inline]] static V Value(X x) {
    if constexpr (std::is_same_v<X, V>)
      return x;
    else
      return L::Splat(x);
  }
  template <class X, class Y, class Z>
  [[gnu::always_inline]] static V MulAdd(X a, Y b, Z c) {
    return L::Fma(Value(a), Value(b), Value(c));
  }
  [[gnu::always_inline]] static PairOf<V> Product(V a, V b) {
    const V p = a * b;
    return {p, L::Fma(a, b, -p)};
  }
  [[gnu::always_inline]] static V ExactMulSubOne(V m, V c) { return L::Fma(m, c, L::Splat(-1.0)); }
  // r1 - k l rounded once, and the rest from a second fused operation: r1 - hi is
  // exact (Sterbenz) where |r1| >= 2 |k l|; elsewhere |r1 - hi| < 4 |k l| and its
  // rounding errs by less than 2^-53 of that. With |k l| <= 2^-21 (the exp
  // reduction) the pair is within 2^-74 of r1 - k l.
  [[gnu::always_inline]] static PairOf<V> SubtractProduct(V r1, V k, double l) {
    const V hi = L::Fma(-k, L::Splat(l), r1);
    return {hi, L::Fma(-k, L::Splat(l), r1 - hi)};
  }
  // r - r^2/2 rounded once, and the rest likewise (r - hi exact by Sterbenz).
  [[gnu::always_inline]] static PairOf<V> MinusHalfSquare(V r) {
    const V half = -0.5 * r;
    const V hi = L::Fma(half, r, r);
    return {hi, L::Fma(half, r, r - hi)};
  }
  // t + t r rounded once, and the rest from a second fused operation: t - hi is
  // exact (Sterbenz), and the rest is rounded once, to within 2^-106 of hi.
  [[gnu::always_inline]] static PairOf<V> ScaleOnePlus(V t, Index, V r) {
    const V hi = L::Fma(t, r, t);
    return {hi, L::Fma(t, r, t - hi)};
  }
};

using FusedArithmetic = Fused<ScalarValues>;

}  // namespace quarn::elementary
