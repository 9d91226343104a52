// Error-free transformations of IEEE double arithmetic (round to nearest): a sum
// or product as the rounded result and its exact error. They hold without a
// fused multiply-add and give the same pair with one.
#pragma once

#include <bit>
#include <cstdint>

namespace quarn::elementary {

inline std::uint64_t Bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
inline double FromBits(std::uint64_t b) {
  return std::bit_cast<double>(b);
}

struct DoubleDouble {
  double hi;
  double lo;
};

// a + b exactly as hi + lo, for |a| >= |b| (or a == 0).
inline DoubleDouble FastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a + b exactly as hi + lo, whatever their magnitudes.
inline DoubleDouble TwoSum(double a, double b) {
  const double s = a + b;
  const double b_virtual = s - a;
  const double a_virtual = s - b_virtual;
  return {s, (a - a_virtual) + (b - b_virtual)};
}

// Veltkamp's split of a into a high part of 26 bits and a low part of 26 bits
// with its sign; |a| < 2^995 so that the scaling cannot overflow.
inline DoubleDouble Split(double a) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double c = kSplitter * a;
  const double high = c - (c - a);
  return {high, a - high};
}

// a * b exactly as hi + lo (Dekker), given a's split; no product may under- or
// overflow.
inline DoubleDouble TwoProductSplit(double a, DoubleDouble a_split, double b) {
  const double p = a * b;
  const DoubleDouble bs = Split(b);
  const double error =
      ((a_split.hi * bs.hi - p) + a_split.hi * bs.lo + a_split.lo * bs.hi) + a_split.lo * bs.lo;
  return {p, error};
}

inline DoubleDouble TwoProduct(double a, double b) {
  return TwoProductSplit(a, Split(a), b);
}

// The two ways of computing the fast paths: with separate multiplications and
// additions (any IEEE machine), and with fused multiply-adds (x86-64 with FMA,
// compiled for it and chosen at run time). The error bounds hold for both, and
// the functions are correctly rounded either way, so both give the same bits.
struct PlainArithmetic {
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
  // t + t r as hi + lo, for t in [1, 2) with its split and |r| < 2^-8, to within
  // 2^-104 of it.
  static DoubleDouble ScaleOnePlus(double t, DoubleDouble t_split, double r) {
    const DoubleDouble product = TwoProductSplit(t, t_split, r);
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

struct FusedArithmetic {
  [[gnu::always_inline]] static DoubleDouble Product(double a, double b) {
    const double p = a * b;
    return {p, __builtin_fma(a, b, -p)};
  }
  [[gnu::always_inline]] static double MulAdd(double a, double b, double c) {
    return __builtin_fma(a, b, c);
  }
  [[gnu::always_inline]] static double ExactMulSubOne(double m, double c) {
    return __builtin_fma(m, c, -1.0);
  }
  // r1 - k l rounded once, and the rest from a second fused operation: r1 - hi is
  // exact (Sterbenz) where |r1| >= 2 |k l|; elsewhere |r1 - hi| < 4 |k l| and its
  // rounding errs by less than 2^-53 of that. With |k l| <= 2^-21 (the exp
  // reduction) the pair is within 2^-74 of r1 - k l.
  [[gnu::always_inline]] static DoubleDouble SubtractProduct(double r1, double k, double l) {
    const double hi = __builtin_fma(-k, l, r1);
    return {hi, __builtin_fma(-k, l, r1 - hi)};
  }
  // r - r^2/2 rounded once, and the rest likewise (r - hi exact by Sterbenz).
  [[gnu::always_inline]] static DoubleDouble MinusHalfSquare(double r) {
    const double half = -0.5 * r;
    const double hi = __builtin_fma(half, r, r);
    return {hi, __builtin_fma(half, r, r - hi)};
  }
  // The sum rounded once, and the rest from a second fused operation: t - hi is
  // exact (Sterbenz), and the rest is rounded once, to within 2^-106 of hi.
  [[gnu::always_inline]] static DoubleDouble ScaleOnePlus(double t, DoubleDouble, double r) {
    const double hi = __builtin_fma(t, r, t);
    return {hi, __builtin_fma(t, r, t - hi)};
  }
};

// 2^e for e in [-1022, 1023].
inline double PowerOfTwo(int e) {
  return FromBits(static_cast<std::uint64_t>(e + 1023) << 52);
}

// The double nearest to every value within `bound` of hi + lo, where they all
// round alike; otherwise false. bound must exceed the error by the rounding of
// lo +- bound (2^-53 of it; the error bounds here carry far more room), so that
// the two sums enclose every such value, and rounding to nearest, being
// monotonic, maps all of them to one double when it maps both ends to it; that
// double is then also the rounding of hi + lo, which is computed beside the
// test rather than after it.
inline bool RoundsAlike(double hi, double lo, double bound, double& result) {
  result = hi + lo;
  return hi + (lo + bound) == hi + (lo - bound);
}

}  // namespace quarn::elementary
