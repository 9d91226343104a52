// Exact comparison of decimal and binary numbers, for checking conversions
// and roundings without trusting any floating-point conversion.
#pragma once

#include <cstdint>
#include <string>

namespace quarn::testing {

// Compares digits x 10^exp10 with mantissa x 2^exp2 exactly; digits is a
// string of decimal digits (leading zeros allowed). Returns -1, 0 or 1.
int CompareDecimalWithBinary(const std::string& digits, long exp10, std::uint64_t mantissa,
                             long exp2);

// The exact decimal value of mantissa x 2^exp2 as digits x 10^exp10.
struct ExactDecimal {
  std::string digits;
  long exp10;
};
ExactDecimal ExactDecimalOf(std::uint64_t mantissa, long exp2);

// A finite double's magnitude as mantissa x 2^exponent (mantissa < 2^53).
struct BinaryParts {
  std::uint64_t mantissa;
  long exponent;
};
BinaryParts Decompose(double value);
BinaryParts Decompose(float value);

}  // namespace quarn::testing
