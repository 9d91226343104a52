// Signed fixed-point numbers of 384 bits, one 64-bit word of integer part and
// 320 fraction bits: the arithmetic of the slow paths, which decide the few
// results whose rounding the double-double fast paths cannot prove. Products
// and quotients truncate toward zero, so each operation errs by less than
// 2^-320 in magnitude.
#pragma once

#include <array>
#include <cstdint>

namespace quarn::elementary {

struct Fixed {
  static constexpr int kWords = 6;
  static constexpr int kFractionBits = 320;
  bool negative = false;
  std::array<std::uint64_t, kWords> words{};  // most significant first

  bool IsZero() const;
};

// x exactly when |x| < 2^64 and x has no bit below 2^-320 (bits below are cut).
Fixed FixedFromDouble(double x);
Fixed FixedFromWords(const std::uint64_t (&words)[Fixed::kWords]);
// 2^-bits.
Fixed FixedUnit(int bits);

Fixed Add(const Fixed& a, const Fixed& b);
Fixed Subtract(const Fixed& a, const Fixed& b);
Fixed Multiply(const Fixed& a, const Fixed& b);
Fixed DivideBySmall(const Fixed& a, std::uint32_t n);
Fixed ShiftRight(const Fixed& a, int bits);
Fixed ShiftLeft(const Fixed& a, int bits);  // the integer part must not overflow
// a to within 2^-64 or so: for the first guesses of the slow paths.
double ApproximateDouble(const Fixed& a);

// The double nearest to v * 2^scale_exponent (ties to even, subnormals and
// overflow to infinity included), provided that every value within `error` of v
// rounds to that same double; otherwise false.
bool RoundFixed(const Fixed& v, const Fixed& error, int scale_exponent, double& result);

}  // namespace quarn::elementary
