// The fast paths of exp, log and the method's powers on several arguments at
// once (SIMD lanes), for code compiled once per instruction set. Each lane runs
// the fused build's operations in the fused build's order and applies the same
// rounding test, so a lane that passes holds the correctly rounded value, the
// scalar functions' bits. A lane whose argument the fast path does not take, or
// whose rounding test fails, is marked in `declined`: its value is then
// meaningless and the caller computes it with the scalar functions.
//
// A lane set S supplies the vector types (S::D of doubles, S::I of 64-bit
// integers used as masks, -1 for true) and the operations that need the
// instruction set: Fma, Sqrt, Mask (one bit per lane), and Gather or LoadRows
// (see below) for the tables. LaneTypes gives the types; GenericLanes the
// operations in portable C++.
#pragma once

#include <cmath>
#include <cstdint>

#include "elementary/fast_path_constants.hpp"
#include "elementary/tables.inc"

namespace quarn::elementary::lanes {

template <int N>
struct LaneTypes {
  static constexpr int kLanes = N;
  typedef double D __attribute__((vector_size(8 * N)));
  typedef std::int64_t I __attribute__((vector_size(8 * N)));
  typedef std::uint64_t U __attribute__((vector_size(8 * N)));
  typedef float F __attribute__((vector_size(4 * N)));
};

// The lane operations one lane at a time, in portable C++: for tests of the
// lane code at any width on any machine.
template <int N>
struct GenericLanes : LaneTypes<N> {
  using typename LaneTypes<N>::D;
  using typename LaneTypes<N>::I;
  static D Fma(D a, D b, D c) {
    D r;
    for (int i = 0; i < N; ++i) r[i] = std::fma(a[i], b[i], c[i]);
    return r;
  }
  static D Sqrt(D a) {
    D r;
    for (int i = 0; i < N; ++i) r[i] = std::sqrt(a[i]);
    return r;
  }
  static D Gather(const double* base, I index) {
    D r;
    for (int i = 0; i < N; ++i) r[i] = base[index[i]];
    return r;
  }
  static unsigned Mask(I m) {
    unsigned bits = 0;
    for (int i = 0; i < N; ++i) bits |= (m[i] != 0 ? 1u : 0u) << i;
    return bits;
  }
};

template <class S>
[[gnu::always_inline]] inline typename S::D Splat(double x) {
  typename S::D r;
  for (int i = 0; i < S::kLanes; ++i) r[i] = x;
  return r;
}

template <class S>
[[gnu::always_inline]] inline typename S::D Abs(typename S::D x) {
  return (typename S::D)((typename S::U)x & 0x7fffffffffffffffu);
}

// Each lane's row of a table with kColumns doubles a row (row_start in
// doubles): columns[c] holds column c. Through the lane set's row loads where
// it has them (a load per row and a transposition beat a gather per column on
// some processors), through gathers otherwise.
template <class S, int kColumns>
[[gnu::always_inline]] inline void LoadRows(const double* table, typename S::I row_start,
                                            typename S::D (&columns)[kColumns]) {
  if constexpr (requires { S::template LoadRows<kColumns>(table, row_start, columns); }) {
    S::template LoadRows<kColumns>(table, row_start, columns);
  } else {
    for (int c = 0; c < kColumns; ++c) columns[c] = S::Gather(table + c, row_start);
  }
}

// Rounds each lane to single precision and widens it back.
template <class S>
[[gnu::always_inline]] inline typename S::D RoundToSingle(typename S::D x) {
  return __builtin_convertvector(__builtin_convertvector(x, typename S::F), typename S::D);
}

// Lanes holding a positive, normal, finite double.
template <class S>
[[gnu::always_inline]] inline typename S::I IsPositiveNormal(typename S::D x) {
  return (typename S::I)(((typename S::U)x - 0x0010000000000000u) < 0x7fe0000000000000u);
}

// The unbiased exponent of a positive normal double, as an exact double.
template <class S>
[[gnu::always_inline]] inline typename S::D ExponentOf(typename S::D x) {
  const typename S::U biased = ((typename S::U)x >> 52) | 0x4330000000000000u;
  return (typename S::D)biased - 4503599627371519.0;  // 2^52 + 1023
}

// 2^n for integral doubles n in [-1022, 1023].
template <class S>
[[gnu::always_inline]] inline typename S::D PowerOfTwo(typename S::D n) {
  const typename S::U shifted = (typename S::U)(n + 0x1.8p52);  // 2^51 + n in the low bits
  return (typename S::D)(((shifted & 0xfffffffffffffu) - (std::uint64_t{1} << 51) + 1023) << 52);
}

// The rounding test: hi + lo where hi + lo +- bound round alike; lanes where
// they do not are declined.
template <class S>
[[gnu::always_inline]] inline typename S::D RoundIfAlike(typename S::D hi, typename S::D lo,
                                                         typename S::D bound,
                                                         typename S::I& declined) {
  declined |= (hi + (lo + bound)) != (hi + (lo - bound));
  return hi + lo;
}

// e^x for |x| < 708.
template <class S>
[[gnu::always_inline]] inline typename S::D Exp(typename S::D x, typename S::I& declined) {
  using D = typename S::D;
  using I = typename S::I;
  using U = typename S::U;
  declined |= ~(Abs<S>(x) < 708.0);
  const D shifted = S::Fma(x, Splat<S>(tables::k1024OverLn2), Splat<S>(0x1.8p52));
  const D kd = shifted - 0x1.8p52;
  // The low bits of the shifted sum hold 2^51 + k, k = 1024 e + j.
  const U biased = (U)shifted & 0xfffffffffffffu;
  const I j = (I)(biased & 1023u);
  const D scale = (D)((((biased >> 10) - (std::uint64_t{1} << 41)) + 1023u) << 52);
  const D r1 = S::Fma(-kd, Splat<S>(tables::kLn2Over1024Hi), x);
  const D rh = S::Fma(-kd, Splat<S>(tables::kLn2Over1024Lo), r1);
  const D rl = S::Fma(-kd, Splat<S>(tables::kLn2Over1024Lo), r1 - rh);
  const D rh2 = rh * rh;
  const D poly = S::Fma(rh2, S::Fma(rh, Splat<S>(1.0 / 120.0), Splat<S>(1.0 / 24.0)),
                        S::Fma(rh, Splat<S>(1.0 / 6.0), Splat<S>(0.5)));
  D t[2];
  LoadRows<S>(&tables::kExp2[0][0], j * 2, t);
  const D t0 = t[0], t1 = t[1];
  const D hi = S::Fma(t0, rh, t0);
  const D sum_lo = S::Fma(t0, rh, t0 - hi);
  const D rest = S::Fma(t0 * rh2, poly, S::Fma(t0, rl, S::Fma(t1, rh, t1)));
  const D lo = sum_lo + rest;
  return RoundIfAlike<S>(hi, lo, kExpErrorBound * hi, declined) * scale;
}

// ln x for positive normal x.
template <class S>
[[gnu::always_inline]] inline typename S::D Log(typename S::D x, typename S::I& declined) {
  using D = typename S::D;
  using I = typename S::I;
  using U = typename S::U;
  declined |= ~IsPositiveNormal<S>(x);
  const U significand_bits = ((U)x & 0xfffffffffffffu) | 0x3ff0000000000000u;
  D row[4];
  LoadRows<S>(&tables::kLogTable[0][0], (I)((significand_bits >> 42) & 1023u) * 4, row);
  const D c = row[0], w = row[1], t0 = row[2], t1 = row[3];
  const D n = ExponentOf<S>(x) + w;
  const D r = S::Fma((D)significand_bits, c, Splat<S>(-1.0));
  const D big_a = n * tables::kLn2Hi;
  const D big_hi = big_a + t0;
  const D big_lo = (t0 - (big_hi - big_a)) + S::Fma(n, Splat<S>(tables::kLn2Lo), t1);
  const D half = -0.5 * r;
  const D head_hi = S::Fma(half, r, r);
  const D head_lo = S::Fma(half, r, r - head_hi);
  const D r2 = r * r;
  const D poly = S::Fma(r2 * r2, S::Fma(r, Splat<S>(-0.125), Splat<S>(1.0 / 7.0)),
                        S::Fma(r2, S::Fma(r, Splat<S>(-1.0 / 6.0), Splat<S>(0.2)),
                               S::Fma(r, Splat<S>(-0.25), Splat<S>(1.0 / 3.0))));
  const D small = (r2 * r) * poly;
  const D hi = big_hi + head_hi;
  const D sum_lo = head_hi - (hi - big_hi);
  const D lo = (sum_lo + (big_lo + head_lo)) + small;
  return RoundIfAlike<S>(hi, lo, kLogErrorBound * Abs<S>(hi), declined);
}

// x^y for positive normal x and y the double nearest 1/3: the cube root as a
// double-double, and x^-d = 1 - d ln x for the shortfall d of that y.
template <class S>
[[gnu::always_inline]] inline typename S::D OneThirdPower(typename S::D x,
                                                          typename S::I& declined) {
  using D = typename S::D;
  using I = typename S::I;
  using U = typename S::U;
  declined |= ~IsPositiveNormal<S>(x);
  const U significand_bits = ((U)x & 0xfffffffffffffu) | 0x3ff0000000000000u;
  const D m = (D)significand_bits;
  const D e = ExponentOf<S>(x);
  // e + 1200 = 3 q' + r: q' the nearest integer to (e + 1200)/3 - 1/3, which
  // lies within a hair (2^-40) of q' - 1/3, q' or q' + 1/3.
  const D shifted = e + 1200.0;
  const D q_prime = (((shifted * (1.0 / 3.0)) - (1.0 / 3.0)) + 0x1.8p52) - 0x1.8p52;
  const D r = shifted - 3.0 * q_prime;
  const I r_is_0 = r == 0.0, r_is_1 = r == 1.0;
  const D a = m * (r_is_0 ? Splat<S>(1.0) : r_is_1 ? Splat<S>(2.0) : Splat<S>(4.0));
  const D inverse_root_of_two_power = r_is_0   ? Splat<S>(kInverseCubeRootOfTwoPowers[0])
                                      : r_is_1 ? Splat<S>(kInverseCubeRootOfTwoPowers[1])
                                               : Splat<S>(kInverseCubeRootOfTwoPowers[2]);
  const D m2 = m * m;
  constexpr const double* start = kInverseCubeRootStart;
  D y =
      S::Fma(m2, S::Fma(m2, Splat<S>(start[4]), S::Fma(m, Splat<S>(start[3]), Splat<S>(start[2]))),
             S::Fma(m, Splat<S>(start[1]), Splat<S>(start[0]))) *
      inverse_root_of_two_power;
  const D h = S::Fma(-a, (y * y) * y, Splat<S>(1.0));
  y = S::Fma(y * h,
             S::Fma(h, S::Fma(h, Splat<S>(14.0 / 81.0), Splat<S>(2.0 / 9.0)), Splat<S>(1.0 / 3.0)),
             y);
  const D y2 = y * y;
  const D c = a * y2;
  const D square_hi = c * c;
  const D square_lo = S::Fma(c, c, -square_hi);
  const D cube_hi = square_hi * c;
  const D cube_lo = S::Fma(square_hi, c, -cube_hi);
  const D residual = (a - cube_hi) - S::Fma(square_lo, c, cube_lo);
  const D correction = residual * (y2 * (1.0 / 3.0));
  // ln x roughly, from the log table.
  D row[4];
  LoadRows<S>(&tables::kLogTable[0][0], (I)((significand_bits >> 42) & 1023u) * 4, row);
  const D n = e + row[1];
  const D u = S::Fma(m, row[0], Splat<S>(-1.0));
  const D ln_x = S::Fma(n, Splat<S>(tables::kLn2Hi), row[2]) + S::Fma(-0.5 * u, u, u);
  const D lo = S::Fma(-c * kOneThirdShortfall, ln_x, correction);
  return RoundIfAlike<S>(c, lo, kCubeRootErrorBound * c, declined) * PowerOfTwo<S>(q_prime - 400.0);
}

// x^1.5 and x^2.5 for 2^-300 < x < 2^300, from the correctly rounded root and
// its Newton correction.
template <class S>
[[gnu::always_inline]] inline void SquareRootPowers(typename S::D x, typename S::D& power_1_5,
                                                    typename S::D& power_2_5,
                                                    typename S::I& declined) {
  using D = typename S::D;
  declined |= ~(IsPositiveNormal<S>(x) & (x > 0x1p-300) & (x < 0x1p300));
  const D root = S::Sqrt(x);
  const D root_squared_hi = root * root;
  const D root_squared_lo = S::Fma(root, root, -root_squared_hi);
  const D root_lo = ((x - root_squared_hi) - root_squared_lo) / (2.0 * root);
  const D bound = Splat<S>(kSquareRootPowerErrorBound);
  // x^1.5 = x root
  const D p15_hi = x * root;
  const D p15_lo = S::Fma(x, root, -p15_hi);
  const D lo15 = p15_lo + S::Fma(x, root_lo, 0.0 * root);
  power_1_5 = RoundIfAlike<S>(p15_hi, lo15, bound * p15_hi, declined);
  // x^2.5 = x^2 root, x^2 exact as a pair.
  const D square_hi = x * x;
  const D square_lo = S::Fma(x, x, -square_hi);
  const D p25_hi = square_hi * root;
  const D p25_lo = S::Fma(square_hi, root, -p25_hi);
  const D lo25 = p25_lo + S::Fma(square_hi, root_lo, square_lo * root);
  power_2_5 = RoundIfAlike<S>(p25_hi, lo25, bound * p25_hi, declined);
}

}  // namespace quarn::elementary::lanes
