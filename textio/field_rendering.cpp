#include "textio/field_rendering.hpp"

#include <cmath>
#include <cstring>

#include "textio/decimal_rounding.hpp"

namespace quarn {
namespace {

void FillAsterisks(int width, char* out) {
  std::memset(out, '*', static_cast<std::size_t>(width));
}

// Right-justifies `length` characters from `text` in the field.
void RightJustify(const char* text, int length, int width, char* out) {
  const int blanks = width - length;
  std::memset(out, ' ', static_cast<std::size_t>(blanks));
  std::memcpy(out + blanks, text, static_cast<std::size_t>(length));
}

// "Infinity", "-Infinity" or "NaN" from the field's second column.
void RenderNonFinite(double value, int width, char* out) {
  const std::string_view word = std::isnan(value) ? "NaN" : value < 0 ? "-Infinity" : "Infinity";
  const int length = static_cast<int>(word.size());
  if (length + 1 > width) {
    FillAsterisks(width, out);
    return;
  }
  std::memset(out, ' ', static_cast<std::size_t>(width));
  std::memcpy(out + 1, word.data(), word.size());
}

// The digit of 0.d1 d2 ... x 10^exponent at decimal position `k` counted from d1.
char DigitAt(const DecimalDigits& number, int k) {
  return k >= 0 && k < number.count ? number.digits[k] : '0';
}

}  // namespace

void RenderCharacterField(std::string_view text, int width, char* out) {
  const int length = static_cast<int>(text.size());
  if (length >= width) {
    std::memcpy(out, text.data(), static_cast<std::size_t>(width));
  } else {
    RightJustify(text.data(), length, width, out);
  }
}

void RenderFixedField(double value, int width, int fraction, char* out) {
  if (!std::isfinite(value)) {
    if (fraction == 0) {
      FillAsterisks(width, out);
    } else {
      RenderNonFinite(value, width, out);
    }
    return;
  }
  DecimalDigits number;
  if (!RoundToFractionDigits(value, fraction, width, number)) {
    FillAsterisks(width, out);
    return;
  }
  // A value that rounds to zero is written without a sign.
  const bool negative = std::signbit(value) && number.count > 0;
  const int integer_digits = number.exponent > 0 ? number.exponent : 0;

  // [-][0].f1...fd or [-]i1...in.f1...fd; the "0" only where a column is free.
  const int needed = (negative ? 1 : 0) + integer_digits + 1 + fraction;
  if (needed > width) {
    FillAsterisks(width, out);
    return;
  }
  const bool with_zero = integer_digits == 0 && needed < width;
  char* p = out + (width - needed - (with_zero ? 1 : 0));
  std::memset(out, ' ', static_cast<std::size_t>(p - out));
  if (negative) *p++ = '-';
  if (with_zero) *p++ = '0';
  for (int k = 0; k < integer_digits; ++k) *p++ = DigitAt(number, k);
  *p++ = '.';
  // Fraction digit j stands at decimal position exponent + j: below 0.1 the
  // positions before the first significant digit are zeros.
  for (int j = 0; j < fraction; ++j) *p++ = DigitAt(number, number.exponent + j);
}

void RenderExponentField(double value, int width, int digits, char* out) {
  if (!std::isfinite(value)) {
    RenderNonFinite(value, width, out);
    return;
  }
  const DecimalDigits number = RoundToSignificantDigits(value, digits);
  const bool negative = std::signbit(value) && value != 0.0;
  const int exponent = number.exponent;
  const int magnitude = exponent < 0 ? -exponent : exponent;

  // [-][0].d1...dd then E+xx, or +xxx for a three-digit exponent: the "0"
  // only where a column is free for it.
  const int needed = (negative ? 1 : 0) + 1 + digits + 4;
  if (needed > width) {
    FillAsterisks(width, out);
    return;
  }
  const bool with_zero = needed < width;
  char* p = out + (width - needed - (with_zero ? 1 : 0));
  std::memset(out, ' ', static_cast<std::size_t>(p - out));
  if (negative) *p++ = '-';
  if (with_zero) *p++ = '0';
  *p++ = '.';
  std::memcpy(p, number.digits, static_cast<std::size_t>(digits));
  p += digits;
  if (magnitude <= 99) {
    *p++ = 'E';
    *p++ = exponent < 0 ? '-' : '+';
  } else {
    *p++ = exponent < 0 ? '-' : '+';
    *p++ = static_cast<char>('0' + magnitude / 100);
  }
  *p++ = static_cast<char>('0' + magnitude / 10 % 10);
  *p = static_cast<char>('0' + magnitude % 10);
}

}  // namespace quarn
