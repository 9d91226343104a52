// Elementary functions whose failure ends the run through the math fatal stop.
//
// A NaN argument never stops the run: the NaN flows on into the result. A finite
// argument that overflows, an argument outside the domain, and the logarithm of
// zero do stop it. Underflow is no failure. Arithmetic exceptions stay masked.
#pragma once

#include <cmath>

#include "textio/messages.hpp"

namespace quarn {

// Out of line, so the checks below cost a compare and a rarely taken branch.
[[noreturn]] void ElementaryFunctionFailed(int message, const char* function);

inline double CheckedExp(double x) {
  double result = std::exp(x);
  if (std::isinf(result) && std::isfinite(x)) [[unlikely]]
    ElementaryFunctionFailed(kMathOverflow, "exp");
  return result;
}

inline double CheckedLog(double x) {
  if (x <= 0.0) [[unlikely]]
    ElementaryFunctionFailed(x == 0.0 ? kMathSingularity : kMathDomain, "log");
  return std::log(x);
}

inline double CheckedSqrt(double x) {
  if (x < 0.0) [[unlikely]]
    ElementaryFunctionFailed(kMathDomain, "sqrt");
  return std::sqrt(x);
}

inline double CheckedPow(double base, double exponent) {
  if (base < 0.0 && std::isfinite(exponent) && exponent != std::trunc(exponent)) [[unlikely]]
    ElementaryFunctionFailed(kMathDomain, "**");
  double result = std::pow(base, exponent);
  if (std::isinf(result) && std::isfinite(base) && std::isfinite(exponent)) [[unlikely]]
    ElementaryFunctionFailed(kMathOverflow, "**");
  return result;
}

}  // namespace quarn
