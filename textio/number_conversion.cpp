#include "textio/number_conversion.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <type_traits>

#include "textio/characters.hpp"
#include "textio/powers_of_ten.hpp"

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
  // The mantissa as an integer, when it has at most kFastDigits significant
  // digits: the value is significand x 10^(exponent - fraction_digits).
  std::uint64_t significand = 0;
  int significant_digits = 0;        // kFastDigits + 1 for any more
  std::int64_t fraction_digits = 0;  // digits after the point
};

constexpr int kFastDigits = 19;  // 10^19 < 2^64

constexpr std::int64_t kExponentSaturation = 1'000'000'000'000;

// Digits from p up to the first other character, appended to `significand`
// (which wraps when there are more than kFastDigits: they are counted).
const char* ScanDigits(const char* p, const char* end, std::uint64_t& significand) {
  for (; p < end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (digit > 9) break;
    significand = significand * 10 + digit;
  }
  return p;
}

const char* SkipZeros(const char* p, const char* end) {
  while (p < end && *p == '0') ++p;
  return p;
}

bool Scan(std::string_view token, ScannedNumber& number) {
  const char* const begin = token.data();
  const char* const end = begin + token.size();
  const char* p = begin;
  if (p < end && (*p == '+' || *p == '-')) number.negative = *p++ == '-';
  const char* const mantissa_start = p;
  // Leading zeros, then the integer digits from the first non-zero one.
  p = SkipZeros(p, end);
  const char* const integer_start = p;
  p = ScanDigits(p, end, number.significand);
  const std::int64_t integer_digits = p - integer_start;
  std::int64_t significant = integer_digits;
  std::int64_t fraction_zeros = 0;  // zeros after the point before the first non-zero digit
  if (p < end && *p == '.') {
    const char* const fraction_start = ++p;
    if (integer_digits == 0) {
      p = SkipZeros(p, end);
      fraction_zeros = p - fraction_start;
    }
    const char* const digits_start = p;
    p = ScanDigits(p, end, number.significand);
    significant += p - digits_start;
    number.fraction_digits = p - fraction_start;
  }
  number.has_nonzero_digit = significant > 0;
  number.significant_digits =
      significant <= kFastDigits ? static_cast<int>(significant) : kFastDigits + 1;
  number.mantissa = std::string_view(mantissa_start, static_cast<std::size_t>(p - mantissa_start));
  number.leading_position = integer_digits > 0 ? integer_digits : -fraction_zeros;

  std::size_t i = static_cast<std::size_t>(p - begin);
  const std::size_t n = token.size();
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

// 10^0 to 10^22, every one exact in a double.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The fast routes for a double. A significand of at most 53 bits and a power
// of ten up to 10^22 are both exact doubles, and one correctly rounded
// multiplication or division of them is the nearest double to the decimal.
// Else the significand, shifted to fill 64 bits, times the 64-bit significand
// of the power of ten: the product is off only by the power's error, at most
// 2^-64 relative, so unless it lies within that of a rounding half between
// two doubles, its rounding is the exact value's. The range of powers keeps
// every result a normal double.
bool ConvertFast(std::uint64_t significand, std::int64_t power, double& value) {
  if (significand <= std::uint64_t{1} << 53 && power >= -22 && power <= 22) {
    const auto exact = static_cast<double>(significand);
    value = power < 0 ? exact / kExactPowersOfTen[-power] : exact * kExactPowersOfTen[power];
    return true;
  }
#ifdef QUARN_HAS_UINT128
  if (power < -280 || power > 280) return false;
  const PowerOfTen64& ten = PowerOfTen(static_cast<int>(power));
  const int leading_zeros = std::countl_zero(significand);
  const Uint128 product = Uint128{significand << leading_zeros} * ten.significand;
  // The product lies in [2^126, 2^128): 53 bits from its top, the rest below.
  const std::uint64_t high = static_cast<std::uint64_t>(product >> 64);
  const int top = static_cast<int>(high >> 63);
  const int low_bits = 10 + top;  // bits of `high` below the 53 kept
  std::uint64_t mantissa = high >> low_bits;
  const Uint128 rest = (Uint128{high & ((std::uint64_t{1} << low_bits) - 1)} << 64) |
                       static_cast<std::uint64_t>(product);
  const Uint128 half = Uint128{std::uint64_t{1} << (low_bits - 1)} << 64;
  const Uint128 error_band = (product >> 62) + 2;
  const Uint128 distance = rest > half ? rest - half : half - rest;
  if (distance <= error_band) return false;  // a tie or too near one: the exact route decides
  int binary_exponent = 64 + low_bits + ten.exponent - leading_zeros;  // of mantissa's last bit
  if (rest > half && ++mantissa == std::uint64_t{1} << 53) {
    mantissa >>= 1;
    ++binary_exponent;
  }
  const std::uint64_t biased = static_cast<std::uint64_t>(binary_exponent + 1075);
  value = std::bit_cast<double>((biased << 52) | (mantissa & ((std::uint64_t{1} << 52) - 1)));
  return true;
#else
  return false;
#endif
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
  if constexpr (std::is_same_v<Float, double>) {
    if (number.significant_digits <= kFastDigits &&
        ConvertFast(number.significand, number.exponent - number.fraction_digits, value)) {
      if (number.negative) value = -value;
      return Conversion::kOk;
    }
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

const char* ConvertPlainDecimal(const char* p, const char* end, double& value) {
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* const start = p;
  std::uint64_t significand = 0;
  p = ScanDigits(p, end, significand);
  std::int64_t digits = p - start;
  std::int64_t fraction_digits = 0;
  if (p < end && *p == '.') {
    const char* const fraction_start = ++p;
    p = ScanDigits(p, end, significand);
    fraction_digits = p - fraction_start;
    digits += fraction_digits;
  }
  if (digits == 0 || digits > kFastDigits) return nullptr;
  if (significand == 0) {
    value = negative ? -0.0 : 0.0;
  } else if (!ConvertFast(significand, -fraction_digits, value)) {
    return nullptr;
  } else if (negative) {
    value = -value;
  }
  return p;
}

Conversion ConvertNumber(std::string_view token, float& value) {
  return Convert(token, value);
}
Conversion ConvertNumber(std::string_view token, double& value) {
  return Convert(token, value);
}

}  // namespace quarn
