#include "eos/redkw.hpp"

#include <cmath>

#include "eos/checked_math.hpp"

namespace quarn {
namespace {

constexpr double kReplacementRatio = 0.001;
constexpr double kOneThird = 1.0 / 3.0;            // the nearest double, 0.3333333333333333
constexpr double kTwoTwentySevenths = 2.0 / 27.0;  // the nearest double, 0.07407407407407407
// 2 pi/3 and 4 pi/3 to ten significant digits, as the method has always used them.
constexpr double kAngleOffset1 = 2.094395103;
constexpr double kAngleOffset2 = 4.188790206;

// The real cube root as sign times |x|^(1/3), the sign applied after the power.
double RealCubeRoot(double x, Fault& fault) {
  double sign = x >= 0.0 ? 1.0 : -1.0;
  return sign * CheckedPow(std::fabs(x), kOneThird, fault);
}

}  // namespace

void REDKW(const double& /*T*/, const double& P, const double& bRT, double& r, double& Z,
           Fault& fault) {
  const double B = bRT * P;
  if (!(r > 0.0)) r = kReplacementRatio;

  // Z^3 - Z^2 + c Z + d = 0, and with Z = y + 1/3 the depressed cubic y^3 + p y + q = 0.
  const double c = (r - B - 1.0) * B;
  const double d = -(B * r * B);
  const double q = c / 3.0 + d - kTwoTwentySevenths;
  const double p = c - kOneThird;

  const double q_squared_quarter = (q * q) * 0.25;
  const double p_cubed_27th = ((p * p) * p) / 27.0;
  const double discriminant = q_squared_quarter + p_cubed_27th;

  if (discriminant > 0.0) {
    // One real root: Cardano's formula.
    const double s = CheckedSqrt(discriminant, fault);
    const double h = -(q * 0.5);
    const double u = h + s;
    const double v = h - s;
    Z = (RealCubeRoot(v, fault) + RealCubeRoot(u, fault)) + kOneThird;
  } else if (discriminant == 0.0) {
    Z = 1.0;
  } else {
    // Three real roots (or a NaN discriminant): the trigonometric method.
    double t = CheckedSqrt(q_squared_quarter / (-p_cubed_27th), fault);
    if (q > 0.0) t = -t;
    const double theta = Acos(t) / 3.0;
    const double m = 2.0 * CheckedSqrt(-(p / 3.0), fault);
    const double y1 = Cos(theta) * m;
    const double y2 = Cos(theta + kAngleOffset1) * m;
    const double y3 = Cos(theta + kAngleOffset2) * m;
    double largest = y1 > y2 ? y1 : y2;
    if (y3 > largest) largest = y3;
    Z = largest + kOneThird;
  }
}

}  // namespace quarn
