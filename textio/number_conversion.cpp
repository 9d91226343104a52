#include "textio/number_conversion.hpp"

#include <charconv>
#include <cstdint>

#include "textio/characters.hpp"

namespace quarn {
namespace {

// The token taken apart: the mantissa text without its sign, and the exponent.
struct ScannedNumber {
  bool negative = false;
  std::string_view mantissa;  // digits with at most one point
  bool has_nonzero_digit = false;
  // Decimal position of the first non-zero digit: the value's magnitude lies in
  // [10^(leading_position - 1), 10^leading_position) before the exponent.
  std::int64_t leading_position = 0;
  std::int64_t exponent = 0;  // saturated far outside any finite range
};

constexpr std::int64_t kExponentSaturation = 1'000'000'000'000;

bool Scan(std::string_view token, ScannedNumber& number) {
  std::size_t i = 0;
  const std::size_t n = token.size();
  if (i < n && (token[i] == '+' || token[i] == '-')) {
    number.negative = token[i] == '-';
    ++i;
  }
  const std::size_t mantissa_start = i;
  bool seen_point = false;
  std::int64_t integer_digits = 0;
  std::int64_t fraction_zeros = 0;  // zeros after the point before the first non-zero digit
  for (; i < n; ++i) {
    const char c = token[i];
    if (IsDigit(c)) {
      if (!number.has_nonzero_digit) {
        if (c != '0') {
          number.has_nonzero_digit = true;
        } else if (seen_point) {
          ++fraction_zeros;
        }
      }
      if (!seen_point && number.has_nonzero_digit) ++integer_digits;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  number.mantissa = token.substr(mantissa_start, i - mantissa_start);
  number.leading_position = integer_digits > 0 ? integer_digits : -fraction_zeros;

  if (i < n) {
    bool exponent_negative = false;
    if (IsExponentLetter(token[i])) {
      ++i;
      if (i < n && (token[i] == '+' || token[i] == '-')) exponent_negative = token[i++] == '-';
    } else if (token[i] == '+' || token[i] == '-') {
      exponent_negative = token[i++] == '-';
    } else {
      return false;
    }
    std::int64_t exponent = 0;
    for (; i < n && IsDigit(token[i]); ++i) {
      if (exponent < kExponentSaturation) exponent = exponent * 10 + (token[i] - '0');
    }
    if (i != n) return false;
    number.exponent = exponent_negative ? -exponent : exponent;
  }
  return true;
}

template <typename Float>
Conversion Convert(std::string_view token, Float& value) {
  ScannedNumber number;
  if (!Scan(token, number)) return Conversion::kSyntaxError;
  const Float zero = number.negative ? -Float(0) : Float(0);
  if (!number.has_nonzero_digit) {
    value = zero;
    return Conversion::kOk;
  }
  // Far outside the range of any target the answer is known without converting.
  const std::int64_t magnitude = number.leading_position + number.exponent;
  if (magnitude > 400) return Conversion::kOutOfRange;
  if (magnitude < -400) {
    value = zero;
    return Conversion::kOk;
  }

  // The standard conversion reads 0.d1 d2 ... e(exponent) from a bounded copy:
  // the first kKeptDigits significant digits, and one non-zero digit standing
  // for all the digits after them when any is non-zero. A double's rounding
  // halves have at most 767 significant digits, so that sticky digit decides
  // exactly what the full token would, however long it is.
  constexpr std::size_t kKeptDigits = 800;
  char text[kKeptDigits + 40];
  char* out = text;
  if (number.negative) *out++ = '-';
  *out++ = '0';
  *out++ = '.';
  std::size_t kept = 0;
  bool sticky = false;
  bool leading = true;
  for (char c : number.mantissa) {
    if (c == '.' || (leading && c == '0')) continue;
    leading = false;
    if (kept < kKeptDigits) {
      *out++ = c;
      ++kept;
    } else if (c != '0') {
      sticky = true;
    }
  }
  if (sticky) *out++ = '1';
  *out++ = 'e';
  out = std::to_chars(out, text + sizeof text, magnitude).ptr;

  Float result;
  const auto [end, error] = std::from_chars(text, out, result);
  if (error == std::errc::result_out_of_range) {
    // Either beyond the largest finite value or below half the smallest subnormal.
    if (magnitude > 0) return Conversion::kOutOfRange;
    value = zero;
    return Conversion::kOk;
  }
  if (error != std::errc() || end != out) return Conversion::kSyntaxError;
  value = result;
  return Conversion::kOk;
}

}  // namespace

Conversion ConvertNumber(std::string_view token, float& value) {
  return Convert(token, value);
}
Conversion ConvertNumber(std::string_view token, double& value) {
  return Convert(token, value);
}

}  // namespace quarn
