// The fast paths of exp, log and the method's powers on several arguments at
// once (SIMD lanes), for code compiled once per instruction set. Each lane runs
// the cores of the scalar functions (fast_path_cores.hpp) in their fused
// arithmetic and applies the same rounding test, so a lane that passes holds
// the correctly rounded value, the scalar functions' bits. A lane whose
// argument the fast path does not take, or whose rounding test fails, is
// marked in `declined`: its value is then meaningless and the caller computes
// it with the scalar functions.
//
// A lane set S supplies the vector types (S::D of doubles, S::I of 64-bit
// integers used as masks, -1 for true) and the operations that need the
// instruction set: Fma, Sqrt, Mask (one bit per lane), and Gather or LoadRows
// (see below) for the tables. LaneTypes gives the types; GenericLanes the
// operations in portable C++.
#pragma once

#include <cmath>
#include <cstdint>

#include "elementary/arithmetic.hpp"
#include "elementary/fast_path_constants.hpp"
#include "elementary/fast_path_cores.hpp"
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

// A core's answer rounded, its lanes declined where the rounding is not
// proven.
template <class S>
[[gnu::always_inline]] inline typename S::D Rounded(const Enclosure<typename S::D>& answer,
                                                    typename S::I& declined) {
  declined |= RoundsApart(answer);
  return answer.hi + answer.lo;
}

// The lanes as a value set of the fast path cores (arithmetic.hpp), and their
// arithmetic: the fused one, as in the scalar functions' fused build.
template <class S>
struct LaneValues {
  using V = typename S::D;
  using Index = typename S::I;
  using U = typename S::U;
  [[gnu::always_inline]] static V Splat(double c) { return lanes::Splat<S>(c); }
  [[gnu::always_inline]] static V Fma(V a, V b, V c) { return S::Fma(a, b, c); }
  [[gnu::always_inline]] static V Sqrt(V x) { return S::Sqrt(x); }
  [[gnu::always_inline]] static V Abs(V x) { return lanes::Abs<S>(x); }
  template <int kColumns>
  struct Columns {
    V column[kColumns];
    [[gnu::always_inline]] V operator[](int c) const { return column[c]; }
  };
  template <int kColumns>
  [[gnu::always_inline]] static Columns<kColumns> Row(const double* table, Index row) {
    Columns<kColumns> columns;
    LoadRows<S>(table, row * kColumns, columns.column);
    return columns;
  }
  // k mod 1024 from the low bits of 1.5 2^52 + k; the leading 10 bits of m's
  // significand.
  [[gnu::always_inline]] static Index ExpRow(V shifted) { return (Index)((U)shifted & 1023u); }
  [[gnu::always_inline]] static Index LogRow(V m) { return (Index)(((U)m >> 42) & 1023u); }
};

template <class S>
using LaneArithmetic = Fused<LaneValues<S>>;

// The significand of each lane as a double in [1, 2).
template <class S>
[[gnu::always_inline]] inline typename S::D SignificandOf(typename S::D x) {
  return (typename S::D)(((typename S::U)x & 0xfffffffffffffu) | 0x3ff0000000000000u);
}

// e^x for |x| < 708.
template <class S>
[[gnu::always_inline]] inline typename S::D Exp(typename S::D x, typename S::I& declined) {
  using D = typename S::D;
  using U = typename S::U;
  declined |= ~(Abs<S>(x) < 708.0);
  const ExpAnswer<D> e = ExpOfValue<LaneArithmetic<S>>(x);
  // The low bits of the shifted sum hold 2^51 + k, k = 1024 e + j: 2^e.
  const U biased = (U)e.shifted & 0xfffffffffffffu;
  const D scale = (D)((((biased >> 10) - (std::uint64_t{1} << 41)) + 1023u) << 52);
  return Rounded<S>(e.value, declined) * scale;
}

// ln x for positive normal x.
template <class S>
[[gnu::always_inline]] inline typename S::D Log(typename S::D x, typename S::I& declined) {
  using A = LaneArithmetic<S>;
  declined |= ~IsPositiveNormal<S>(x);
  return Rounded<S>(LogAnswer<A>(LogCore<A>(SignificandOf<S>(x), ExponentOf<S>(x))), declined);
}

// x^y for positive normal x and y the double nearest 1/3.
template <class S>
[[gnu::always_inline]] inline typename S::D OneThirdPower(typename S::D x,
                                                          typename S::I& declined) {
  using D = typename S::D;
  using I = typename S::I;
  declined |= ~IsPositiveNormal<S>(x);
  const D m = SignificandOf<S>(x);
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
  return Rounded<S>(OneThirdPowerCore<LaneArithmetic<S>>(m, e, a, inverse_root_of_two_power),
                    declined) *
         PowerOfTwo<S>(q_prime - 400.0);
}

// x^1.5 and x^2.5 for 2^-300 < x < 2^300, from the correctly rounded root and
// its Newton correction.
template <class S>
[[gnu::always_inline]] inline void SquareRootPowers(typename S::D x, typename S::D& power_1_5,
                                                    typename S::D& power_2_5,
                                                    typename S::I& declined) {
  using D = typename S::D;
  using A = LaneArithmetic<S>;
  declined |= ~(IsPositiveNormal<S>(x) & (x > 0x1p-300) & (x < 0x1p300));
  const D root = S::Sqrt(x);
  const D root_lo = RootCorrection<A>(x, root);
  power_1_5 = Rounded<S>(TimesRoot<A>({x, D{}}, root, root_lo), declined);
  power_2_5 = Rounded<S>(TimesRoot<A>(A::Product(x, x), root, root_lo), declined);
}

}  // namespace quarn::elementary::lanes
