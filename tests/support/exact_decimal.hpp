// The exact decimal value of a double, for checking roundings without
// trusting any floating-point conversion.
#pragma once

#include <string>

namespace quarn::testing {

// |value| (finite) exactly as digits x 10^exp10.
struct ExactDecimal {
  std::string digits;
  long exp10;
};
ExactDecimal ExactDecimalOf(double value);

}  // namespace quarn::testing
