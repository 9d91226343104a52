#include "textio/decimal_rounding.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
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

}  // namespace

DecimalDigits RoundToSignificantDigits(double value, int significant) {
  DecimalDigits out;
  const double magnitude = std::fabs(value);
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
