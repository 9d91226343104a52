// What the correctly rounded functions share: the double-double cores of exp
// and log, and their fixed-point counterparts for the slow paths.
#pragma once

#include "elementary/correctly_rounded.hpp"
#include "elementary/double_double.hpp"
#include "elementary/fixed_point.hpp"

namespace quarn::elementary {

// exp(x.hi + x.lo) = 2^exponent * (value.hi + value.lo), |x.hi| <= 746 and
// |x.lo| <= 2^-40, value in [0.99, 2.01), with a relative error below 2^-67.
struct ScaledDoubleDouble {
  DoubleDouble value;
  int exponent;
};
ScaledDoubleDouble ExpCore(DoubleDouble x);

// ln x for a positive finite x, as hi + lo: the error is below 2^-67 |ln x| and
// below 2^-73 in absolute terms.
DoubleDouble LogCore(double x);

// e^x = 2^exponent * result, result in [0.7, 1.5), |x| < 2^20, with a relative
// error below 2^-298.
Fixed ExpFixed(const Fixed& x, int& exponent);
// ln x for a positive finite x, with an absolute error below 2^-295.
Fixed LogFixed(double x);
// cos x and sin x for |x| <= 4, with absolute errors below 2^-312.
Fixed CosFixed(const Fixed& x);
Fixed SinFixed(const Fixed& x);

void NoteSlowPath(Function function, double x, double y);

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

}  // namespace quarn::elementary
