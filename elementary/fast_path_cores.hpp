// The fast paths' arithmetic, written once over the value type: templates on
// an arithmetic A (arithmetic.hpp) whose values A::V are one double or the
// doubles of several SIMD lanes. The scalar functions (kernels.hpp) and the
// lanes (lane_kernels.hpp) wrap these cores in their own handling of special
// arguments and in their own form of the rounding test (a branch to the slow
// path for one double, a declined lane for the lanes); every rounding the
// result depends on is made here, in one order, so that a lane that passes
// its test holds the scalar function's bits.
#pragma once

#include "elementary/arithmetic.hpp"
#include "elementary/fast_path_constants.hpp"
#include "elementary/tables.inc"

namespace quarn::elementary {

// A fast path's answer with its certificate: the exact value lies within
// `bound` of hi + lo. Each core below returns its answer so, with the bound of
// its own error budget (fast_path_constants.hpp), and the scalar functions and
// the lanes apply the one rounding test to it.
template <class V>
struct Enclosure {
  V hi;
  V lo;
  V bound;
};

// The rounding test: true (a lane's all-ones mask) where hi + lo + bound and
// hi + lo - bound round apart and the rounding is not proven; elsewhere the
// rounding of hi + lo is the double nearest to every value in the enclosure.
// bound must exceed the error by the rounding of lo +- bound (2^-53 of it; the
// bounds carry far more room), so that the two sums enclose every value within
// the error, and rounding to nearest, being monotonic, maps all of them to one
// double when it maps both ends to it.
template <class V>
[[gnu::always_inline]] inline auto RoundsApart(const Enclosure<V>& answer) {
  return answer.hi + (answer.lo + answer.bound) != answer.hi + (answer.lo - answer.bound);
}

// exp(x.hi + x.lo) = 2^(k >> 10) * (value.hi + value.lo) (value.lo about an ulp
// of value.hi), |x.hi| <= 746 and |x.lo| <= 2^-40, value in [0.99, 2.01), with
// a relative error below 2^-71: x = k ln2/1024 + r with |r| <= ln2/2048 <
// 2^-11.5, e^x = 2^(k/1024) e^r, the 1024 values 2^(j/1024) from a table and
// e^r - 1 from its Taylor polynomial of degree 5 (truncation 2^-78.5, the
// reduction's constant 2^-75, the reduced argument's low part 2^-74 with fused
// multiply-adds, the roundings of r^2, of the polynomial and of the products of
// the table's value about 2^-76 each). k is in the low bits of `shifted`, the
// sum 1.5 2^52 + k.
template <class V>
struct ExpCoreValue {
  PairOf<V> value;
  V shifted;
};

// With kDoubleDoubleArgument false, x.lo is 0 and left out, and so is rl's
// product with rh (|rl| < 2^-63 then, the product below 2^-74).
template <class A, bool kDoubleDoubleArgument = true>
[[gnu::always_inline]] inline ExpCoreValue<typename A::V> ExpCore(PairOf<typename A::V> x) {
  using V = typename A::V;
  // k = x 1024/ln 2 rounded to an integer (either way at a tie: any k near it
  // keeps |r| within ln 2/2048 and a hair), read from the low bits of the sum.
  constexpr double kShifter = 0x1.8p52;
  const V shifted = A::MulAdd(x.hi, tables::k1024OverLn2, kShifter);
  const V kd = shifted - kShifter;
  // x.hi - k ln2/1024: the first product and the difference are exact.
  const V r1 = A::MulAdd(-kd, tables::kLn2Over1024Hi, x.hi);
  const PairOf<V> reduced = A::SubtractProduct(r1, kd, tables::kLn2Over1024Lo);
  const V rh = reduced.hi;
  V rl = reduced.lo;
  if constexpr (kDoubleDoubleArgument) rl += x.lo;
  // e^r - 1 = rh + (rh^2 (1/2 + rh/6 + rh^2/24 + rh^3/120) + rl (1 + rh + rh^2/2));
  // rl is up to 2^-40 for a double-double argument. The polynomial in two
  // halves (Estrin's scheme), for a shorter chain of dependent operations.
  const V rh2 = rh * rh;
  const V poly =
      A::MulAdd(rh2, A::MulAdd(rh, 1.0 / 120.0, 1.0 / 24.0), A::MulAdd(rh, 1.0 / 6.0, 0.5));
  V rl_term = rl;
  if constexpr (kDoubleDoubleArgument) rl_term = A::MulAdd(rl, rh * A::MulAdd(0.5, rh, 1.0), rl);
  // 2^(j/1024) (1 + e^r - 1) = t0 + t0 rh + t1 + t1 rh + t0 rl_term + t0 rh^2 poly.
  const typename A::Index row = A::ExpRow(shifted);
  const auto t = A::template Row<2>(&tables::kExp2[0][0], row);
  const PairOf<V> sum = A::ScaleOnePlus(t[0], row, rh);
  const V rest = A::MulAdd(t[0] * rh2, poly, A::MulAdd(t[0], rl_term, A::MulAdd(t[1], rh, t[1])));
  const V lo = sum.lo + rest;  // the sum's error, the last ready, joins once
  return {{sum.hi, lo}, shifted};
}

// e^x for |x| < 708 (one double or a lane's): 2^(k >> 10) times the enclosure.
template <class V>
struct ExpAnswer {
  Enclosure<V> value;
  V shifted;
};

template <class A>
[[gnu::always_inline]] inline ExpAnswer<typename A::V> ExpOfValue(typename A::V x) {
  const ExpCoreValue<typename A::V> e = ExpCore<A, false>({x, typename A::V{}});
  return {{e.value.hi, e.value.lo, kExpErrorBound * e.value.hi}, e.shifted};
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
// -ln c' as a double-double from the table's row of m, (e + w) as a double,
// and r.
template <class V>
struct LogReduction {
  V minus_ln_c_hi;
  V minus_ln_c_lo;
  V n;
  V r;
};

// For m in [1, 2) and the integer e (an int, or exact doubles in the lanes).
template <class A, class E>
[[gnu::always_inline]] inline LogReduction<typename A::V> ReduceForLog(typename A::V m, E e) {
  // c, w, and -ln c' as a double-double
  const auto row = A::template Row<4>(&tables::kLogTable[0][0], A::LogRow(m));
  return {row[2], row[3], e + row[1], A::ExactMulSubOne(m, row[0])};
}

template <class A, class E>
[[gnu::always_inline]] inline PairOf<typename A::V> LogCore(typename A::V m, E e) {
  using V = typename A::V;
  const LogReduction<V> reduced = ReduceForLog<A>(m, e);
  const V n = reduced.n, r = reduced.r;
  // n ln 2 - ln c', the first product exact; |n ln 2| >= 0.69 > |ln c'| unless n
  // is 0.
  const PairOf<V> big = FastTwoSum(n * tables::kLn2Hi, reduced.minus_ln_c_hi);
  const V big_lo = big.lo + A::MulAdd(n, tables::kLn2Lo, reduced.minus_ln_c_lo);
  // log1p(r) = (r - r^2/2) + r^3 P(r), P by Estrin's scheme.
  const PairOf<V> head = A::MinusHalfSquare(r);
  const V r2 = r * r;
  const V poly =
      A::MulAdd(r2 * r2, A::MulAdd(r, -0.125, 1.0 / 7.0),
                A::MulAdd(r2, A::MulAdd(r, -1.0 / 6.0, 0.2), A::MulAdd(r, -0.25, 1.0 / 3.0)));
  const V small = (r2 * r) * poly;
  // Exact as a fast sum: |big| is 0 or at least 2^-11 (the table holds no
  // smaller nonzero -ln c'), so its exponent is at least that of head.hi
  // (|head.hi| <= |r| <= 2^-10).
  const PairOf<V> sum = FastTwoSum(big.hi, head.hi);
  const V lo = (sum.lo + (big_lo + head.lo)) + small;  // in the order they are ready
  return {sum.hi, lo};
}

// The log core's answer with its bound.
template <class A>
[[gnu::always_inline]] inline Enclosure<typename A::V> LogAnswer(PairOf<typename A::V> y) {
  return {y.hi, y.lo, kLogErrorBound * A::Abs(y.hi)};
}

// The method's cube root: x^y for the double y nearest 1/3, which is
// 1/3 - 1/(3 2^54). x^y = x^(1/3) x^-d with d = 1/(3 2^54): the cube root as a
// double-double, from the inverse cube root (a quartic start good to 2^-13.6
// and one division-free step of third order), then one correction from the
// exact residual, relative error below 2^-95; and
// x^-d = 1 - d ln x with |d ln x| < 2^-46, for which a rough ln x (error below
// 2^-20) is enough. Its only exact case is x = 1; the rest of the error stays
// below 2^-76.
//
// For x = 2^e m, m in [1, 2), e = 3 q + r with r in {0, 1, 2}: given m, e,
// a = 2^r m and 2^(-r/3), x^y / 2^q.
template <class A, class E>
[[gnu::always_inline]] inline Enclosure<typename A::V> OneThirdPowerCore(
    typename A::V m, E e, typename A::V a, typename A::V inverse_root_of_two_power) {
  using V = typename A::V;
  // y about a^(-1/3) (the quartic by Estrin's scheme), then one step of third
  // order: with h = 1 - a y^3, a^(-1/3) = y (1 - h)^(-1/3)
  // = y (1 + h/3 + 2h^2/9 + 14h^3/81 + ...), |h| < 2^-12, the rest below 2^-50.
  const V m2 = m * m;
  constexpr const double* start = kInverseCubeRootStart;
  V y = A::MulAdd(m2, A::MulAdd(m2, start[4], A::MulAdd(m, start[3], start[2])),
                  A::MulAdd(m, start[1], start[0])) *
        inverse_root_of_two_power;
  const V h = A::MulAdd(-a, (y * y) * y, 1.0);
  y = A::MulAdd(y * h, A::MulAdd(h, A::MulAdd(h, 14.0 / 81.0, 2.0 / 9.0), 1.0 / 3.0), y);
  const V y2 = y * y;
  const V c = a * y2;
  // a - c^3 from exact products, then c + (a - c^3) / (3 c^2), 1/c^2 being y^2.
  const PairOf<V> square = A::Product(c, c);
  const PairOf<V> cube = A::Product(square.hi, c);
  const V residual = (a - cube.hi) - A::MulAdd(square.lo, c, cube.lo);
  const V correction = residual * (y2 * (1.0 / 3.0));
  // ln x roughly, from the log table: (e + w) ln 2 - ln c' + log1p(m c - 1).
  const LogReduction<V> reduced = ReduceForLog<A>(m, e);
  const V u = reduced.r;
  const V ln_x =
      A::MulAdd(reduced.n, tables::kLn2Hi, reduced.minus_ln_c_hi) + A::MulAdd(-0.5 * u, u, u);
  const V lo = A::MulAdd(-c * kOneThirdShortfall, ln_x, correction);
  return {c, lo, kCubeRootErrorBound * c};
}

// x^(n + 1/2) for n = 1 or 2 (the method's T^1.5 and T^2.5), 2^-300 < x <
// 2^300: x^n sqrt(x) with the root as a double-double (the rounded root and one
// Newton correction, relative error below 2^-104) and exact products; the error
// stays below 2^-101. Exact results and midpoints (x a square) fail the
// rounding test.
//
// The root's low part, for the correctly rounded root of x.
template <class A>
[[gnu::always_inline]] inline typename A::V RootCorrection(typename A::V x, typename A::V root) {
  const PairOf<typename A::V> root_squared = A::Product(root, root);
  return ((x - root_squared.hi) - root_squared.lo) / (2.0 * root);
}

// power root, for power = x^n as a pair (x^2 exact, or x and 0).
template <class A>
[[gnu::always_inline]] inline Enclosure<typename A::V> TimesRoot(PairOf<typename A::V> power,
                                                                 typename A::V root,
                                                                 typename A::V root_lo) {
  const PairOf<typename A::V> p = A::Product(power.hi, root);
  return {p.hi, p.lo + A::MulAdd(power.hi, root_lo, power.lo * root),
          kSquareRootPowerErrorBound * p.hi};
}

}  // namespace quarn::elementary
