// What the correctly rounded functions share: the double-double cores of exp
// and log for one double (templates on the arithmetic, plain or fused), and
// the fixed-point functions of the slow paths.
#pragma once

#include <cstdint>

#include "elementary/arithmetic.hpp"
#include "elementary/correctly_rounded.hpp"
#include "elementary/double_double.hpp"
#include "elementary/fast_path_cores.hpp"
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

// The exp core for one double: exp(x) = 2^exponent * value (fast_path_cores.hpp).
struct ScaledDoubleDouble {
  DoubleDouble value;
  int exponent;
};

// k >> 10 for the shifted sum 1.5 2^52 + k of the exp core: k from its low 32
// bits, as a signed integer.
inline int ExponentOfShifted(double shifted) {
  const std::int32_t k = static_cast<std::int32_t>(static_cast<std::uint32_t>(Bits(shifted)));
  return static_cast<int>(k >> 10);
}

template <class A, bool kDoubleDoubleArgument = true>
[[gnu::always_inline]] inline ScaledDoubleDouble ExpCoreT(DoubleDouble x) {
  const ExpCoreValue<double> e = ExpCore<A, kDoubleDoubleArgument>(x);
  return {e.value, ExponentOfShifted(e.shifted)};
}

// The significand of a double's bits, as the double m in [1, 2).
inline double SignificandOf(std::uint64_t bits) {
  return FromBits((bits & 0xfffffffffffffu) | 0x3ff0000000000000u);
}

// ln x as hi + lo (fast_path_cores.hpp) for a positive normal x: its bits, and
// e its exponent.
template <class A>
[[gnu::always_inline]] inline DoubleDouble LogCoreOfNormalT(std::uint64_t bits, int e) {
  return LogCore<A>(SignificandOf(bits), e);
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
