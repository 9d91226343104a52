// The model's pressure at a temperature and molar volume: the Redlich-Kwong
// equation is explicit in P, so a point of an isochore is one evaluation of
// the method's a and b, and no root to find.
#include <cmath>

#include "quarn/fluid.hpp"

namespace quarn {
namespace {

constexpr double kGasConstant = 82.05;  // cm^3 atm / (mol K), the method's R
constexpr double kAtmToBar = 1.01325;
// How far above V another root of the cubic must lie, relative to V, to count
// as larger: it absorbs the roundings of the deflated quadratic below.
constexpr double kRootSeparation = 1e-12;

// Whether the Redlich-Kwong cubic at P has a real root above V, V being a root:
// P V^3 - R T V^2 + (a/T^0.5 - P b^2 - R T b) V - a b/T^0.5 = 0 divided by
// (V' - V) leaves P V'^2 + (P V - R T) V' + a b/(T^0.5 V), whose larger root is
// the other candidate.
bool LargerRootExists(double RT, double sqrt_T, double a, double b, double P, double V) {
  const double linear = P * V - RT;
  const double constant = a * b / (sqrt_T * V);
  const double discriminant = linear * linear - 4.0 * P * constant;
  if (discriminant < 0.0) return false;
  const double largest = (-linear + std::sqrt(discriminant)) / (2.0 * P);
  return largest > V * (1.0 + kRootSeparation);
}

}  // namespace

IsochorePoint IsochorePressure(double T_K, const Composition& x, double V_cm3_per_mol) noexcept {
  IsochorePoint point;
  const RedlichKwongParameters rk = Conditions(T_K, 1.0).MixtureParameters(x);
  point.fault = rk.fault;
  const double V = V_cm3_per_mol, a = rk.a, b = rk.b;
  const double RT = kGasConstant * T_K;
  const double sqrt_T = std::sqrt(T_K);
  point.P_atm = RT / (V - b) - a / (sqrt_T * V * (V + b));
  point.P_bar = point.P_atm * kAtmToBar;
  const double repulsion = V - b, outer = V * (V + b);
  point.dP_dV = -RT / (repulsion * repulsion) + a * (2.0 * V + b) / (sqrt_T * outer * outer);
  if (!(point.P_bar >= 500.0)) point.flags |= kIsochoreBelow500Bar;
  if (!(point.dP_dV < 0.0)) point.flags |= kIsochoreMechanicallyUnstable;
  // The method's volumes all lie above the co-volume.
  if (!(V > b) || !(point.P_atm > 0.0) || LargerRootExists(RT, sqrt_T, a, b, point.P_atm, V))
    point.flags |= kIsochoreNotLargestRoot;
  return point;
}

}  // namespace quarn
