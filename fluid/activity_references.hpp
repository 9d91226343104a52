// The pure fluids that activities at one temperature and pressure are taken
// against, evaluated once for every fluid there (the batch form keeps them
// while T and P stay the same).
#pragma once

#include "quarn/fluid.hpp"

namespace quarn::fluid_detail {

class ActivityReferences {
 public:
  ActivityReferences(double T_K, double P_atm) noexcept;
  bool At(double T_K, double P_atm) const noexcept { return T_K == T_K_ && P_atm == P_atm_; }
  Activities Of(const Composition& x) const noexcept;

 private:
  double T_K_, P_atm_;
  Conditions conditions_;
  Evaluation water_, carbon_dioxide_;
};

}  // namespace quarn::fluid_detail
