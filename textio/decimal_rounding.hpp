// Decimal digits of a binary double, rounded half away from zero from its
// exact value.
#pragma once

namespace quarn {

// A non-negative decimal 0.d1 d2 ... dn x 10^exponent. With `count` = 0 the
// value is zero. Digits are characters '0'..'9'.
struct DecimalDigits {
  static constexpr int kCapacity = 128;
  char digits[kCapacity];
  int count;
  int exponent;
};

// |value| rounded to `significant` digits (1 to kCapacity) from its exact
// value. The value must be finite. Zero gives `significant` zeros and
// exponent 0.
DecimalDigits RoundToSignificantDigits(double value, int significant);

// |value| rounded to `fraction` digits after the point: the F field's digits.
// The value must be finite. Returns false, leaving `out` undefined, when more
// than `max_integer_digits` digits would precede the point, or more than
// kCapacity - 1 digits lead up to the rounding position (no field of the
// program's formats comes near that).
bool RoundToFractionDigits(double value, int fraction, int max_integer_digits, DecimalDigits& out);

}  // namespace quarn
