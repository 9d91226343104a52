// The model's correctly rounded elementary functions over columns, by name:
// for checking them against an independent high-precision evaluation from the
// Python package. Part of the declared internal interface.
#pragma once

#include <span>
#include <string_view>

namespace quarn::elementary {

// out[i] = function(x[i]) for "exp", "log", "cos" and "acos", x[i]^y[i] for
// "pow". False, and nothing written, for another name or columns of unequal
// length.
bool EvaluateByName(std::string_view function, std::span<const double> x, std::span<const double> y,
                    std::span<double> out) noexcept;

}  // namespace quarn::elementary
