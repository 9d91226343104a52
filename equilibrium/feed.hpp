// A feed as the equilibrium calls take it: normalised, its species, where it
// lies against the stated range and the cap.
#pragma once

#include "equilibrium/phase_model.hpp"

namespace quarn::equilibrium {

struct Feed {
  Vector z{};
  Species species;
  unsigned domain = 0;
  bool usable = false;  // finite, non-negative, some amount, within the cap
};

Feed PrepareFeed(const Composition& x, double T_K, double P_atm, double cap_wt);

// The range bits of a temperature and pressure.
unsigned RangeBits(double T_K, double P_atm);

}  // namespace quarn::equilibrium
