// The elementary functions over columns, chosen by name, for the checks of the
// Python package against mpmath.
#include "elementary/correctly_rounded.hpp"
#include "quarn/internal/elementary_check.hpp"

namespace quarn::elementary {

bool EvaluateByName(std::string_view function, std::span<const double> x, std::span<const double> y,
                    std::span<double> out) noexcept {
  const std::size_t n = x.size();
  if (y.size() != n || out.size() != n) return false;
  double (*unary)(double) = nullptr;
  if (function == "exp")
    unary = Exp;
  else if (function == "log")
    unary = Log;
  else if (function == "cos")
    unary = Cos;
  else if (function == "acos")
    unary = Acos;
  else if (function != "pow")
    return false;
  for (std::size_t i = 0; i < n; ++i) out[i] = unary ? unary(x[i]) : Pow(x[i], y[i]);
  return true;
}

}  // namespace quarn::elementary
