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

// A value as an unevaluated sum hi + lo, |lo| about an ulp of hi at most: of
// one double, or of the doubles of several SIMD lanes.
template <class V>
struct PairOf {
  V hi;
  V lo;
};
using DoubleDouble = PairOf<double>;

// a + b exactly as hi + lo, for |a| >= |b| (or a == 0).
template <class V>
[[gnu::always_inline]] inline PairOf<V> FastTwoSum(V a, V b) {
  const V s = a + b;
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

// 2^e for e in [-1022, 1023].
inline double PowerOfTwo(int e) {
  return FromBits(static_cast<std::uint64_t>(e + 1023) << 52);
}

}  // namespace quarn::elementary
