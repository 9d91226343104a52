// The batch call's widest lane loop against its scalar loop, in one process,
// on random states in and far out of the model's range (faults, NaNs, lanes
// that decline): for a machine, real or emulated, whose loop no test of ours
// otherwise runs. Prints what it found; exits 0 where every state agrees.
//   lane_check [states]
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "eos/batch_slice.hpp"
#include "quarn/eos.hpp"

namespace {

using quarn::Composition;
using quarn::batch::SimdPath;

struct States {
  std::vector<double> T_K, P_atm;
  std::vector<Composition> x;
};

States Draw(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double odd[] = {
      0.0, -0.0, 1.0,  -1e-300, 1e-9, 1e300, std::numeric_limits<double>::infinity(),
      0.5, 2.0,  1e-12};
  States s;
  double T_K = 773.15;
  for (std::size_t i = 0; i < n; ++i) {
    const bool in_range = unit(random) < 0.6;
    if (i % 16 == 0)
      T_K = in_range ? 623.15 + 250.0 * unit(random) : -500.0 + 5000.0 * unit(random);
    const double P_atm = in_range ? 490.0 + 4500.0 * unit(random) : -1000.0 + 1e5 * unit(random);
    Composition x;
    if (in_range) {
      x.x_NaCl = 0.3 * unit(random) * unit(random);
      x.x_CO2 = (1.0 - x.x_NaCl) * unit(random);
      x.x_H2O = 1.0 - x.x_NaCl - x.x_CO2;
    } else {
      for (double* f : {&x.x_CO2, &x.x_H2O, &x.x_NaCl}) {
        *f = unit(random) < 0.2 ? odd[random() % 10] : -0.5 + 2.0 * unit(random);
      }
    }
    s.T_K.push_back(T_K);
    s.P_atm.push_back(P_atm);
    s.x.push_back(x);
  }
  return s;
}

bool Same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (a != a && b != b);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line out as it is found
  const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const SimdPath widest = quarn::batch::Supports(SimdPath::kAvx512) ? SimdPath::kAvx512
                          : quarn::batch::Supports(SimdPath::kAvx2) ? SimdPath::kAvx2
                                                                    : SimdPath::kScalar;
  std::printf("widest loop: %s\n", quarn::batch::SimdPathName(widest));
  std::printf("self-test: %s\n", quarn::batch::PassesSelfTest(widest) ? "passed" : "FAILED");
  if (widest == SimdPath::kScalar) return 2;
  const States s = Draw(n, 2026);
  std::vector<quarn::Result> lanes(n), scalar(n);
  std::vector<quarn::Fault> lane_faults(n), scalar_faults(n);
  quarn::batch::SelectSimdPath(widest);
  if (!quarn::EvaluateBatch(s.T_K, s.P_atm, s.x, lanes, lane_faults, 1)) return 3;
  quarn::batch::SelectSimdPath(SimdPath::kScalar);
  if (!quarn::EvaluateBatch(s.T_K, s.P_atm, s.x, scalar, scalar_faults, 1)) return 3;
  std::size_t differ = 0, faults = 0;
  for (std::size_t i = 0; i < n; ++i) {
    bool same = lane_faults[i].number == scalar_faults[i].number &&
                lane_faults[i].function == scalar_faults[i].function;
    faults += scalar_faults[i].number != 0;
    if (same && !scalar_faults[i]) {
      for (int k = 0; k < 3; ++k) {
        same = same && Same(lanes[i].phi[k], scalar[i].phi[k]) &&
               Same(lanes[i].ln_phi[k], scalar[i].ln_phi[k]);
      }
      same = same && Same(lanes[i].Z, scalar[i].Z) &&
             Same(lanes[i].V_cm3_per_mol, scalar[i].V_cm3_per_mol);
    }
    if (!same && ++differ <= 5) {
      std::printf("differs: T_K %.17g P_atm %.17g x %.17g %.17g %.17g\n", s.T_K[i], s.P_atm[i],
                  s.x[i].x_CO2, s.x[i].x_H2O, s.x[i].x_NaCl);
    }
  }
  std::printf("%zu states (%zu faults): %zu differ from the scalar loop\n", n, faults, differ);
  return differ == 0 ? 0 : 1;
}
