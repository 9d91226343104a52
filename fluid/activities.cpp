// Activities against the pure fluids at the same temperature and pressure:
// three evaluations of the method at one set of conditions.
#include "quarn/fluid.hpp"

namespace quarn {

Activities ActivitiesAt(double T_K, double P_atm, const Composition& x) noexcept {
  Activities a;
  const Conditions conditions(T_K, P_atm);
  const Evaluation fluid = conditions.Evaluate(x);
  const Evaluation water = conditions.Evaluate({0.0, 1.0, 0.0});
  const Evaluation carbon_dioxide = conditions.Evaluate({1.0, 0.0, 0.0});
  a.fault = fluid.fault ? fluid.fault : water.fault ? water.fault : carbon_dioxide.fault;
  if (a.fault) return a;
  // Pure water's NaCl coefficient is its limit at infinite dilution: below a
  // mole fraction of 1e-8 the method takes the solvent as salt-free water.
  a.phi_H2O_pure = water.result.phi[1];
  a.phi_NaCl_infinite_dilution = water.result.phi[2];
  a.phi_CO2_pure = carbon_dioxide.result.phi[0];
  a.a_H2O = x.x_H2O * fluid.result.phi[1] / a.phi_H2O_pure;
  a.a_CO2 = x.x_CO2 * fluid.result.phi[0] / a.phi_CO2_pure;
  a.gamma_NaCl = fluid.result.phi[2] / a.phi_NaCl_infinite_dilution;
  a.a_NaCl = x.x_NaCl * a.gamma_NaCl;
  return a;
}

}  // namespace quarn
