// The correctly rounded functions as plain calls, for code outside the
// equation of state (the phase equilibria), which sees only the declared
// interface.
#include "elementary/correctly_rounded.hpp"
#include "quarn/internal/elementary_functions.hpp"

namespace quarn::elementary {

double CorrectlyRoundedExp(double x) noexcept {
  return Exp(x);
}

double CorrectlyRoundedLog(double x) noexcept {
  return Log(x);
}

double CorrectlyRoundedPow(double x, double y) noexcept {
  return Pow(x, y);
}

}  // namespace quarn::elementary
