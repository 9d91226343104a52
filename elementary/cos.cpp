// cos: x = k pi/2 + r with |r| <= pi/4, then cos or sin of r (by the quadrant)
// as a = j/64 + s from a table of cos and sin of j/64 and Taylor polynomials in
// |s| <= 1/128.
#include <cmath>
#include <cstdint>
#include <limits>

#include "elementary/cores.hpp"

namespace quarn::elementary {
namespace {

// Relative error bound of cos and sin of the reduced argument, with room over
// the analysis's 2^-68, and the absolute error of the reduction for |k| < 2^20.
constexpr double kTrigErrorBound = 0x1p-65;
constexpr double kReductionErrorBound = 0x1p-98;

const Fixed& PiOver2Fixed() {
  static const Fixed value = FixedFromWords(tables::kPiOver2Words);
  return value;
}

// The Taylor series sum of (-1)^i x^(2i + first) / (2i + first)!, first 0 or 1.
Fixed TrigSeries(const Fixed& x, int first) {
  const Fixed x2 = Multiply(x, x);
  Fixed term = first == 0 ? FixedFromDouble(1.0) : x;
  Fixed sum = term;
  for (std::uint32_t i = 1; !term.IsZero(); ++i) {
    const std::uint32_t n = 2 * i + first;  // term i is x^n/n!
    term = DivideBySmall(DivideBySmall(Multiply(term, x2), n - 1), n);
    sum = i % 2 == 1 ? Subtract(sum, term) : Add(sum, term);
  }
  return sum;
}

}  // namespace

double SlowCos(double x) {
  NoteSlowPath(Function::kCos, x, 0.0);
  const double ax = std::fabs(x);
  // k = ax 2/pi rounded, then once more from the remainder: above 2^51 the
  // product itself is an integer, but off by up to 2^10.
  const double q = ax * tables::kTwoOverPi;
  std::int64_t k = 0;
  if (q < 0x1p51)
    NearestInteger(q, k);
  else
    k = static_cast<std::int64_t>(q);
  Fixed r = Subtract(FixedFromDouble(ax),
                     Multiply(FixedFromDouble(static_cast<double>(k)), PiOver2Fixed()));
  std::int64_t k2 = 0;
  NearestInteger(ApproximateDouble(r) * tables::kTwoOverPi, k2);
  r = Subtract(r, Multiply(FixedFromDouble(static_cast<double>(k2)), PiOver2Fixed()));
  k += k2;
  Fixed value;
  switch (k & 3) {
    case 0:
      value = CosFixed(r);
      break;
    case 1:
      value = SinFixed(r);
      value.negative = !value.negative;
      break;
    case 2:
      value = CosFixed(r);
      value.negative = !value.negative;
      break;
    default:
      value = SinFixed(r);
      break;
  }
  double result = 0.0;
  // The reduction errs by k 2^-320 < 2^-257; cos of a double below 2^63 is
  // transcendental and at least about 2^-62 from zero.
  RoundFixed(value, FixedUnit(250), 0, result);
  return result;
}

Fixed CosFixed(const Fixed& x) {
  return TrigSeries(x, 0);
}
Fixed SinFixed(const Fixed& x) {
  return TrigSeries(x, 1);
}

namespace {

template <class A>
[[gnu::always_inline]] inline double CosT(double x) {
  detail::Count(static_cast<int>(Function::kCos));
  const std::uint64_t magnitude = MagnitudeBits(x);
  if (magnitude < 0x3e40000000000000u) return 1.0;  // |x| < 2^-27: within 2^-55 of 1
  if (magnitude >= 0x43e0000000000000u)             // 2^63 and above, inf, NaN
    return std::numeric_limits<double>::quiet_NaN();
  if (magnitude >= 0x4130000000000000u) return SlowCos(x);  // 2^20 and above
  const double ax = FromBits(magnitude);
  std::int64_t k = 0;
  const double kd = NearestInteger(ax * tables::kTwoOverPi, k);
  // r = ax - k pi/2: the first difference exact (Sterbenz), the second exact as a pair.
  const double a = ax - kd * tables::kPiOver2Part1;
  const DoubleDouble b = TwoSum(a, -(kd * tables::kPiOver2Part2));
  double rh = b.hi, rl = b.lo - kd * tables::kPiOver2Part3;
  const bool odd = (k & 1) != 0;
  // cos x = +-cos r (k even) or -+sin r (k odd); work on |r|, the sign of sin apart.
  bool negate = ((k + 1) & 2) != 0;
  if (rh < 0.0) {
    rh = -rh;
    rl = -rl;
    if (odd) negate = !negate;
  }
  std::int64_t j = 0;
  const double jd = NearestInteger(rh * 64.0, j);
  const DoubleDouble s = FastTwoSum(rh - jd * 0.015625, rl);  // the difference is exact
  const double* t = tables::kCosSin[j];
  const double sh = s.hi, sl = s.lo;
  // sin s = sh + (sh^3 P(sh^2) + sl); cos s = 1 - q/2 + (q^2 Q(q) - sh sl - qe/2), q + qe = sh^2.
  const DoubleDouble q = A::Product(sh, sh);
  const double sin_lo =
      sh * q.hi * (-1.0 / 6.0 + q.hi * (1.0 / 120.0 + q.hi * (-1.0 / 5040.0 + q.hi / 362880.0))) +
      sl;
  const double cos_hi = -0.5 * q.hi;
  const double cos_lo =
      q.hi * q.hi *
          (1.0 / 24.0 + q.hi * (-1.0 / 720.0 + q.hi * (1.0 / 40320.0 - q.hi / 3628800.0))) -
      (sh * sl + 0.5 * q.lo);
  // With C + S the table's cos and sin of j/64:
  //   cos(j/64 + s) = C cos s - S sin s, sin(j/64 + s) = S cos s + C sin s.
  const double ch = t[0], cl = t[1], snh = t[2], snl = t[3];
  const double first_h = odd ? snh : ch, first_l = odd ? snl : cl;
  const double second_h = odd ? ch : -snh, second_l = odd ? cl : -snl;
  // first (1 + cos_hi + cos_lo) + second (sh + sin_lo)
  const DoubleDouble p1 = A::Product(first_h, cos_hi);
  const DoubleDouble p2 = A::Product(second_h, sh);
  const DoubleDouble s1 = TwoSum(first_h, p2.hi);
  const DoubleDouble s2 = TwoSum(s1.hi, p1.hi);
  const double lo = (s1.lo + s2.lo) + ((first_l + p1.lo + p2.lo) + first_h * cos_lo +
                                       first_l * cos_hi + second_h * sin_lo + second_l * sh);
  const Enclosure<double> c{s2.hi, lo, kTrigErrorBound * std::fabs(s2.hi) + kReductionErrorBound};
  if (RoundsApart(c)) [[unlikely]]
    return SlowCos(x);
  const double rounded = c.hi + c.lo;
  return negate ? -rounded : rounded;
}

}  // namespace

double CosPlain(double x) {
  return CosT<PlainArithmetic>(x);
}
#if QUARN_ELEMENTARY_FUSED_PATH
QUARN_TARGET_FMA double CosFused(double x) {
  return CosT<FusedArithmetic>(x);
}
#endif

}  // namespace quarn::elementary
