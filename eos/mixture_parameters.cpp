#include "eos/mixture_parameters.hpp"

#include "eos/method.hpp"

namespace quarn {

TemperatureTerms ComputeTemperatureTerms(double T_K) {
  TemperatureTerms t;
  t.powers_fault = {};
  t.exponentials_fault = {};
  ScalarOps<Dispatched> powers{t.powers_fault}, exponentials{t.exponentials_fault};
  TemperatureTermsT(powers, exponentials, T_K, t);
  return t;
}

}  // namespace quarn
