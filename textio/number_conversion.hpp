// Converting a numeric token of free-format input into a 32-bit or 64-bit float.
#pragma once

#include <string_view>

namespace quarn {

enum class Conversion {
  kOk,
  kSyntaxError,  // not a numeric token
  kOutOfRange,   // beyond the largest finite value of the target
};

// The token is an optional sign, digits with at most one point, and an optional
// exponent: a letter E, D or Q (either case) with an optional sign and digits,
// or a sign and digits. Missing digit strings count as zero ("-", "e5", "1e+",
// "5-"). The result is the nearest value of the target precision, ties to even,
// converted directly from the decimal text; a value below the smallest
// subnormal becomes zero without complaint.
Conversion ConvertNumber(std::string_view token, float& value);
Conversion ConvertNumber(std::string_view token, double& value);

// The common case by a shorter route: an optional sign, then digits with at
// most one point, at most 19 of them and not only the point. Converts the
// longest such text from `p` into `value` and returns where it ends; nullptr
// when it is none, or too near a rounding half for this route. Where the
// token ends there, the value is the one ConvertNumber gives.
const char* ConvertPlainDecimal(const char* p, const char* end, double& value);

}  // namespace quarn
