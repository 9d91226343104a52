#include "textio/field_rendering.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "textio/decimal_rounding.hpp"
#include "textio/powers_of_ten.hpp"

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

// The magnitude rounded to `significant` digits as an integer: it lies near
// digits x 10^(exponent - significant), with 10^(significant-1) <= digits <
// 10^significant; zero is digits 0 and exponent 0.
struct RoundedSignificand {
  std::uint64_t digits;
  int exponent;
};

// The E field's mantissa by the fast route, for a non-negative magnitude and
// 1 to 15 digits: the value's 53-bit significand times the 64-bit significand
// of a power of ten that brings the wanted digits before the point. The
// product is exact; only the power of ten is off, by at most 2^-64 relative.
// So unless the scaled value lies within that error of a rounding half, its
// rounding is the exact value's. False, leaving `out` undefined, where this
// route cannot decide: near a half, for subnormals and for more digits;
// RoundToSignificantDigits decides every case.
#ifdef QUARN_HAS_UINT128
[[gnu::always_inline]] inline bool RoundSignificantFast(double magnitude, int significant,
                                                        RoundedSignificand& out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased_exponent = static_cast<int>(bits >> 52);
  if (bits == 0) {
    out = {0, 0};
    return true;
  }
  // Subnormals (biased exponent 0), infinities and NaNs (2047) go the exact way.
  if (significant > 15 || biased_exponent == 0 || biased_exponent == 2047) return false;
  const int binary_exponent = biased_exponent - 1075;  // value = m 2^binary_exponent
  const std::uint64_t significand =
      (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  // 10^(exponent-1) <= magnitude < 10^exponent, or the estimate is one too low.
  // floor(x log10 2) as (x 78913) >> 18, exact for |x| < 1650.
  int exponent = (((binary_exponent + 52) * 78913) >> 18) + 1;
  const PowerOfTen64& power = PowerOfTen(significant - exponent);
  const Uint128 product = Uint128{significand} * power.significand;
  // scaled = product / 2^(64 + low_bits); not outside [1, 63] for normal doubles
  const int low_bits = -(binary_exponent + power.exponent) - 64;
  if (low_bits < 1 || low_bits > 63) return false;
  // Below the whole part lie `fraction`, the low bits of `high`, then the low
  // word. The product is below 2^117, so the error band (a few units of
  // 2^-64, relative) fits the low word: a value within it of a half has the
  // half's own high bits or the ones just under.
  const std::uint64_t high = static_cast<std::uint64_t>(product >> 64);
  const std::uint64_t low = static_cast<std::uint64_t>(product);
  const std::uint64_t error_band = static_cast<std::uint64_t>(product >> 62) + 2;
  const std::uint64_t fraction_mask = (std::uint64_t{1} << low_bits) - 1;
  const std::uint64_t fraction = high & fraction_mask;
  std::uint64_t whole = high >> low_bits;
  const std::uint64_t limit = kIntegerPowersOfTen[significant];
  bool near_half;
  bool round_up;
  if (whole >= limit) {
    // The estimate was one too low: the whole part has one digit more than
    // is kept, and the half is 5 in that digit with nothing below.
    const std::uint64_t last = whole % 10;
    whole /= 10;
    ++exponent;
    near_half = (last == 5 && fraction == 0 && low <= error_band) ||
                (last == 4 && fraction == fraction_mask && low >= -error_band);
    round_up = last >= 5;
  } else {
    const std::uint64_t half = std::uint64_t{1} << (low_bits - 1);
    near_half =
        (fraction == half && low <= error_band) || (fraction == half - 1 && low >= -error_band);
    round_up = fraction >= half;
  }
  if (near_half) return false;
  std::uint64_t digits = whole + (round_up ? 1 : 0);
  if (digits == limit) {  // rounded up to the next power of ten
    digits = kIntegerPowersOfTen[significant - 1];
    ++exponent;
  }
  if (digits < kIntegerPowersOfTen[significant - 1]) return false;
  out = {digits, exponent};
  return true;
}
#else
bool RoundSignificantFast(double magnitude, int, RoundedSignificand& out) {
  if (magnitude != 0.0) return false;
  out = {0, 0};
  return true;
}
#endif

// "00" to "99".
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The four decimal digits of x < 10^4; x * 5243 >> 19 is x / 100 there.
void WriteFourDigits(std::uint32_t x, char* out) {
  const std::uint32_t high = x * 5243 >> 19;
  std::memcpy(out, kDigitPairs + 2 * high, 2);
  std::memcpy(out + 2, kDigitPairs + 2 * (x - 100 * high), 2);
}

// The `count` lowest decimal digits of `value`, leading zeros included.
template <typename Unsigned>
void WriteDigits(Unsigned value, int count, char* out) {
  for (; count >= 4; count -= 4) {
    WriteFourDigits(static_cast<std::uint32_t>(value % 10000), out + count - 4);
    value /= 10000;
  }
  for (; count > 0; --count) {
    out[count - 1] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// Up to nine digits fit 32 bits, whose divisions are cheaper; the eight of
// the report's fields are two groups of four.
[[gnu::always_inline]] inline void WriteDecimal(std::uint64_t value, int count, char* out) {
  if (count == 8) {
    const auto v = static_cast<std::uint32_t>(value);
    const std::uint32_t high = v / 10000;
    WriteFourDigits(high, out);
    WriteFourDigits(v - high * 10000, out + 4);
  } else if (count <= 9) {
    WriteDigits(static_cast<std::uint32_t>(value), count, out);
  } else {
    WriteDigits(value, count, out);
  }
}

// The exact route's digits, out of line: its frame is large, the fast
// route's small.
[[gnu::noinline]] int WriteExactDigits(double value, int digits, char* out) {
  const DecimalDigits number = RoundToSignificantDigits(value, digits);
  std::memcpy(out, number.digits, static_cast<std::size_t>(digits));
  return number.exponent;
}

// Ew.d, inlined into RenderExponentField twice.
[[gnu::always_inline]] inline void ExponentField(double value, int width, int digits, char* out) {
  if (!std::isfinite(value)) {
    RenderNonFinite(value, width, out);
    return;
  }
  const bool negative = value < 0.0;  // not -0.0, which is written without a sign
  // [-][0].d1...dd then E+xx, or +xxx for a three-digit exponent: the "0"
  // only where a column is free for it.
  const int needed = (negative ? 1 : 0) + 1 + digits + 4;
  if (needed > width) {
    FillAsterisks(width, out);
    return;
  }
  const bool with_zero = needed < width;
  char* p = out + (width - needed - (with_zero ? 1 : 0));
  for (char* blank = out; blank < p; ++blank) *blank = ' ';
  if (negative) *p++ = '-';
  if (with_zero) *p++ = '0';
  *p++ = '.';

  int exponent;
  RoundedSignificand rounded;
  if (RoundSignificantFast(std::fabs(value), digits, rounded)) {
    WriteDecimal(rounded.digits, digits, p);
    exponent = rounded.exponent;
  } else {
    exponent = WriteExactDigits(value, digits, p);
  }
  p += digits;

  const int magnitude = exponent < 0 ? -exponent : exponent;
  const char sign = exponent < 0 ? '-' : '+';
  if (magnitude <= 99) {
    p[0] = 'E';
    p[1] = sign;
    std::memcpy(p + 2, kDigitPairs + 2 * magnitude, 2);
  } else {
    p[0] = sign;
    p[1] = static_cast<char>('0' + magnitude / 100);
    std::memcpy(p + 2, kDigitPairs + 2 * (magnitude % 100), 2);
  }
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
  // The report's own E14.8 with its layout and rounding constants folded in.
  if (width == 14 && digits == 8) {
    ExponentField(value, 14, 8, out);
  } else {
    ExponentField(value, width, digits, out);
  }
}

}  // namespace quarn
