// Error-free transformations of IEEE double arithmetic (round to nearest): a sum
// or product as the rounded result and its exact error. They hold without a
// fused multiply-add and give the same pair with one.
#pragma once

#include <bit>
#include <cstdint>

namespace quarn::elementary {

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

inline std::uint64_t Bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}
inline double FromBits(std::uint64_t b) {
  return std::bit_cast<double>(b);
}

// 2^e for e in [-1022, 1023].
inline double PowerOfTwo(int e) {
  return FromBits(static_cast<std::uint64_t>(e + 1023) << 52);
}

// Whether a value known to lie within `bound` of hi + lo (|lo| at most half an
// ulp of hi, hi normal and nonzero) rounds to hi: whether the interval stays
// strictly inside the midpoints on either side of hi. Near a midpoint the
// differences are exact (Sterbenz); far from one they pass whenever the bound
// is below a quarter of the gap, so the test never accepts wrongly.
inline bool RoundsToHi(double hi, double lo, double bound) {
  const std::uint64_t bits = Bits(hi) & 0x7fffffffffffffffu;
  const double magnitude = FromBits(bits);
  // Below a power of two the next double down is half as far; above the largest
  // double the gap is that of its binade.
  const double half_gap_toward = (magnitude - FromBits(bits - 1)) * 0.5;
  const double next = FromBits(bits + 1);
  const double half_gap_away =
      bits + 1 == 0x7ff0000000000000u ? half_gap_toward : (next - magnitude) * 0.5;
  const double away = hi > 0.0 ? lo : -lo;  // lo measured away from zero
  return half_gap_away - away > bound && away + half_gap_toward > bound;
}

}  // namespace quarn::elementary
