// Activities against the pure fluids at the same temperature and pressure:
// the fluid's evaluation and the two pure fluids', at one set of conditions.
#include "fluid/activity_references.hpp"

namespace quarn {
namespace fluid_detail {

ActivityReferences::ActivityReferences(double T_K, double P_atm) noexcept
    : T_K_(T_K),
      P_atm_(P_atm),
      conditions_(T_K, P_atm),
      water_(conditions_.Evaluate({0.0, 1.0, 0.0})),
      carbon_dioxide_(conditions_.Evaluate({1.0, 0.0, 0.0})) {}

Activities ActivityReferences::Of(const Composition& x) const noexcept {
  Activities a;
  const Evaluation fluid = conditions_.Evaluate(x);
  a.fault = fluid.fault ? fluid.fault : water_.fault ? water_.fault : carbon_dioxide_.fault;
  if (a.fault) return a;
  // Pure water's NaCl coefficient is its limit at infinite dilution: below a
  // mole fraction of 1e-8 the method takes the solvent as salt-free water.
  a.phi_H2O_pure = water_.result.phi[1];
  a.phi_NaCl_infinite_dilution = water_.result.phi[2];
  a.phi_CO2_pure = carbon_dioxide_.result.phi[0];
  a.a_H2O = x.x_H2O * fluid.result.phi[1] / a.phi_H2O_pure;
  a.a_CO2 = x.x_CO2 * fluid.result.phi[0] / a.phi_CO2_pure;
  a.gamma_NaCl = fluid.result.phi[2] / a.phi_NaCl_infinite_dilution;
  a.a_NaCl = x.x_NaCl * a.gamma_NaCl;
  return a;
}

}  // namespace fluid_detail

Activities ActivitiesAt(double T_K, double P_atm, const Composition& x) noexcept {
  return fluid_detail::ActivityReferences(T_K, P_atm).Of(x);
}

}  // namespace quarn
