// exp: x = k ln2/128 + r with |r| <= ln2/256, e^x = 2^(k/128) e^r, the 128
// values 2^(j/128) from a table and e^r - 1 from its Taylor polynomial.
#include <atomic>
#include <cstdint>

#include "elementary/cores.hpp"
#include "elementary/tables.inc"

namespace quarn::elementary {
namespace {

std::atomic<SlowPathObserver> slow_path_observer{nullptr};

// The relative error bound of the fast path, with room over the analysis's
// 2^-67.5: truncation 2^-71.8, the reduction's constant 2^-78, the polynomial's
// and the products' roundings about 2^-69 each.
constexpr double kExpErrorBound = 0x1p-65;

// Fixed-point constants.
const Fixed& Ln2Fixed() {
  static const Fixed value = FixedFromWords(tables::kLn2Words);
  return value;
}

double SlowExp(double x) {
  NoteSlowPath(Function::kExp, x, 0.0);
  int exponent = 0;
  const Fixed e = ExpFixed(FixedFromDouble(x), exponent);
  double result = 0.0;
  // e^x of a nonzero double is transcendental and the hardest cases lie about
  // 2^-113 from a rounding boundary, far outside the 2^-290 bound: this decides.
  RoundFixed(e, FixedUnit(290), exponent, result);
  return result;
}

}  // namespace

void SetSlowPathObserver(SlowPathObserver observer) {
  slow_path_observer.store(observer, std::memory_order_relaxed);
}

void NoteSlowPath(Function function, double x, double y) {
  if (SlowPathObserver observer = slow_path_observer.load(std::memory_order_relaxed))
    observer(function, x, y);
}

ScaledDoubleDouble ExpCore(DoubleDouble x) {
  std::int64_t k = 0;
  const double kd = NearestInteger(x.hi * tables::k128OverLn2, k);
  // x.hi - k ln2/128: the first product and the difference are exact.
  const double r1 = x.hi - kd * tables::kLn2Over128Hi;
  const DoubleDouble p = TwoProduct(kd, tables::kLn2Over128Lo);
  const DoubleDouble s = TwoSum(r1, -p.hi);
  const double rh = s.hi;
  const double rl = (s.lo - p.lo) + x.lo;
  // e^r - 1 = rh + (rh^2 (1/2 + rh/6 + ...) + rl (1 + rh + rh^2/2)), to degree 6
  // in rh; rl is up to 2^-40 for a double-double argument.
  const double tail =
      (rh * rh) *
          (0.5 + rh * (1.0 / 6.0 + rh * (1.0 / 24.0 + rh * (1.0 / 120.0 + rh * (1.0 / 720.0))))) +
      (rl + rl * (rh * (1.0 + 0.5 * rh)));
  const double* t = tables::kExp2[k & 127];
  const DoubleDouble product = TwoProductSplit(t[0], {t[2], t[3]}, rh);
  const DoubleDouble sum = FastTwoSum(t[0], product.hi);
  const double lo = sum.lo + (((product.lo + t[1]) + t[0] * tail) + t[1] * rh);
  return {FastTwoSum(sum.hi, lo), static_cast<int>(k >> 7)};
}

Fixed ExpFixed(const Fixed& x, int& exponent) {
  // x = k ln 2 + r, |r| < 0.36; e^r from the Taylor series of r/2^12, squared 12 times.
  const double approximate =
      static_cast<double>(x.words[0]) + static_cast<double>(x.words[1]) * 0x1p-64;
  std::int64_t k = 0;
  NearestInteger((x.negative ? -approximate : approximate) * 1.4426950408889634, k);
  const Fixed r = Subtract(x, Multiply(FixedFromDouble(static_cast<double>(k)), Ln2Fixed()));
  constexpr int kHalvings = 12;
  const Fixed small = ShiftRight(r, kHalvings);
  Fixed sum = FixedFromDouble(1.0);
  Fixed term = sum;
  for (std::uint32_t n = 1; !term.IsZero(); ++n) {
    term = DivideBySmall(Multiply(term, small), n);
    sum = Add(sum, term);
  }
  for (int i = 0; i < kHalvings; ++i) sum = Multiply(sum, sum);
  exponent = static_cast<int>(k);
  return sum;
}

double Exp(double x) {
  if (!(x <= tables::kExpLargestFinite)) return x + x;  // NaN, or overflow to +inf
  if (x < tables::kExpSmallestNonzero) return 0.0;
  // Below 2^-54 in magnitude e^x lies within a quarter ulp of 1.
  if (MagnitudeBits(x) < 0x3c90000000000000u) return 1.0;
  const ScaledDoubleDouble e = ExpCore({x, 0.0});
  // Results below 2^-1022 (subnormal) round at a coarser place: the slow path.
  if (e.exponent <= -1022 || !RoundsToHi(e.value.hi, e.value.lo, kExpErrorBound * e.value.hi))
      [[unlikely]]
    return SlowExp(x);
  // 2^exponent * hi is exact; at the top of the range in two steps.
  if (e.exponent > 1023) return e.value.hi * PowerOfTwo(e.exponent - 1) * 2.0;
  return e.value.hi * PowerOfTwo(e.exponent);
}

}  // namespace quarn::elementary
