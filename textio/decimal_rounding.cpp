#include "textio/decimal_rounding.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

namespace quarn {
namespace {

// Digits of a positive finite value in scientific form: d1 d2 ... dn with the
// value 0.d1 d2 ... dn x 10^exponent.
struct DigitString {
  char digits[800];
  int count = 0;
  int exponent = 0;
};

// Splits to_chars' scientific output "d.ddde+XX" into digits and exponent.
void ParseScientific(const char* text, const char* end, DigitString& out) {
  out.count = 0;
  const char* p = text;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') out.digits[out.count++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
  out.exponent = exponent + 1;
}

// The shortest digits that read back as the value (fast), or all of its exact
// decimal expansion (slow; a double has at most 767 significant digits).
void ShortestDigits(double value, DigitString& out) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  ParseScientific(text, result.ptr, out);
}

void ExactDigits(double value, DigitString& out) {
  char text[840];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 780);
  ParseScientific(text, result.ptr, out);
  while (out.count > 1 && out.digits[out.count - 1] == '0') --out.count;
}

// Whether the shortest digits that read back as the value decide its rounding
// to `keep` digits. They lie within half a unit in the last place of the value,
// and no decimal with fewer digits lies between them and the value. So:
// - longer than keep + 1 digits: the rounding half lies on the same side of
//   both (were it between them, it would be a shorter decimal that reads back);
// - exactly keep + 1 digits: the same, unless they end on the half itself;
// - at most keep digits: they are the rounded value when half a unit of the
//   keep-th digit exceeds half a unit in the last place, true for normal values
//   up to 15 digits but not for subnormals or longer fixed-point fields.
bool ShortestDecides(double value, const DigitString& shortest, int keep) {
  if (keep < 0) return true;
  if (shortest.count > keep + 1) return true;
  if (shortest.count == keep + 1) return shortest.digits[keep] != '5';
  return keep <= 15 && value >= std::numeric_limits<double>::min();
}

// Rounds the positive value to its first `keep` digits (keep may be zero or
// negative: the rounding position lies before the first digit), half away from
// zero: from the shortest digits where they decide, else from the exact
// decimal expansion.
void RoundAt(double value, const DigitString& shortest, int keep, DecimalDigits& out) {
  const DigitString* source = &shortest;
  DigitString exact;
  if (!ShortestDecides(value, shortest, keep)) {
    ExactDigits(value, exact);
    source = &exact;
  }
  out.exponent = source->exponent;
  if (keep < 0) {
    out.count = 0;  // rounds to zero
    return;
  }
  const int copied = source->count < keep ? source->count : keep;
  std::memcpy(out.digits, source->digits, static_cast<std::size_t>(copied));
  for (int i = copied; i < keep; ++i) out.digits[i] = '0';
  out.count = keep;
  // With an exact expansion, a next digit of 5 or more means at least half.
  const bool round_up = keep < source->count && source->digits[keep] >= '5';
  if (!round_up) return;
  int i = keep - 1;
  for (; i >= 0 && out.digits[i] == '9'; --i) out.digits[i] = '0';
  if (i >= 0) {
    ++out.digits[i];
    return;
  }
  // Every digit carried (or none were kept): the value is 10^exponent.
  if (out.count == 0) out.count = 1;
  out.digits[0] = '1';
  for (int k = 1; k < out.count; ++k) out.digits[k] = '0';
  ++out.exponent;
}

constexpr std::uint64_t kPowersOfTen[] = {1,
                                          10,
                                          100,
                                          1000,
                                          10000,
                                          100000,
                                          1000000,
                                          10000000,
                                          100000000,
                                          1000000000,
                                          10000000000,
                                          100000000000,
                                          1000000000000,
                                          10000000000000,
                                          100000000000000,
                                          1000000000000000};

#ifdef __SIZEOF_INT128__
__extension__ using Uint128 = unsigned __int128;

// 10^k as significand x 2^exponent with a 64-bit significand, correctly
// rounded, for k from kLowestPower to kHighestPower.
struct PowerOfTen64 {
  std::uint64_t significand;
  int exponent;
};
constexpr int kLowestPower = -340;
constexpr int kHighestPower = 340;
constexpr PowerOfTen64 kPowersOfTen64[] = {
#include "textio/powers_of_ten.inc"
};
static_assert(std::size(kPowersOfTen64) == kHighestPower - kLowestPower + 1);
static_assert(kPowersOfTen64[-kLowestPower].significand == std::uint64_t{1} << 63);

// The fast route for E fields: the value's 53-bit significand times the 64-bit
// significand of a power of ten that brings the wanted digits before the
// point. The product is exact; only the power of ten is off, by at most 2^-64
// relative. So unless the scaled value lies within that error of a rounding
// half, its rounding is the exact value's. Returns false where the exact route
// must decide: near a half, for subnormals, for more than 15 digits.
bool RoundSignificantFast(double magnitude, int significant, DecimalDigits& out) {
  if (significant > 15 || !(magnitude >= std::numeric_limits<double>::min()) ||
      !(magnitude <= std::numeric_limits<double>::max())) {
    return false;
  }
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
  const int binary_exponent = static_cast<int>(bits >> 52) - 1075;  // value = m 2^binary_exponent
  const std::uint64_t significand =
      (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  // 10^(exponent-1) <= magnitude < 10^exponent, or the estimate is one too low.
  // floor(x log10 2) as (x 78913) >> 18, exact for |x| < 1650.
  int exponent = (((binary_exponent + 52) * 78913) >> 18) + 1;
  const std::uint64_t limit = kPowersOfTen[significant];
  for (int attempt = 0; attempt < 2; ++attempt, ++exponent) {
    const PowerOfTen64& power = kPowersOfTen64[significant - exponent - kLowestPower];
    const Uint128 product = Uint128{significand} * power.significand;
    const int shift = -(binary_exponent + power.exponent);  // scaled = product / 2^shift
    if (shift < 65 || shift > 127) return false;            // not reached for normal doubles
    const std::uint64_t whole = static_cast<std::uint64_t>(product >> shift);
    if (whole >= limit) continue;  // the estimate was one too low
    const Uint128 fraction = product & ((Uint128{1} << shift) - 1);
    const Uint128 half = Uint128{1} << (shift - 1);
    const Uint128 error_band = (product >> 62) + 2;  // a few units of 2^-64, relative
    const Uint128 distance = fraction > half ? fraction - half : half - fraction;
    if (distance <= error_band) return false;
    std::uint64_t digits = whole + (fraction > half ? 1 : 0);
    if (digits == limit) {  // rounded up to the next power of ten
      digits = kPowersOfTen[significant - 1];
      ++exponent;
    }
    if (digits < kPowersOfTen[significant - 1]) return false;
    for (int i = significant - 1; i >= 0; --i) {
      out.digits[i] = static_cast<char>('0' + digits % 10);
      digits /= 10;
    }
    out.count = significant;
    out.exponent = exponent;
    return true;
  }
  return false;
}
#else
bool RoundSignificantFast(double, int, DecimalDigits&) {
  return false;
}
#endif

}  // namespace

DecimalDigits RoundToSignificantDigits(double value, int significant) {
  DecimalDigits out;
  const double magnitude = std::fabs(value);
  if (RoundSignificantFast(magnitude, significant, out)) return out;
  if (magnitude == 0.0) {
    std::memset(out.digits, '0', static_cast<std::size_t>(significant));
    out.count = significant;
    out.exponent = 0;
    return out;
  }
  DigitString shortest;
  ShortestDigits(magnitude, shortest);
  RoundAt(magnitude, shortest, significant, out);
  return out;
}

bool RoundToFractionDigits(double value, int fraction, int max_integer_digits, DecimalDigits& out) {
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    out.count = 0;
    out.exponent = 0;
    return true;
  }
  DigitString shortest;
  ShortestDigits(magnitude, shortest);
  // Rounding can add one integer digit, never remove one.
  if (shortest.exponent > max_integer_digits) return false;
  const int keep = shortest.exponent + fraction;
  if (keep > DecimalDigits::kCapacity - 1) return false;
  RoundAt(magnitude, shortest, keep, out);
  if (out.exponent > max_integer_digits) return false;
  return true;
}

}  // namespace quarn
