// The model's correctly rounded exp, log and pow, out of line, for the
// arithmetic of the phase equilibria: their bits are the same on every machine
// and in the page, where a C library's functions give bits of their own. Part
// of the declared internal interface.
#pragma once

namespace quarn::elementary {

double CorrectlyRoundedExp(double x) noexcept;
double CorrectlyRoundedLog(double x) noexcept;
double CorrectlyRoundedPow(double x, double y) noexcept;

}  // namespace quarn::elementary
