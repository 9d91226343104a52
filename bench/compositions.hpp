// In-range compositions for the benchmarks: CO2 up to 0.9, and a solvent of at
// most a tenth NaCl (under 27 weight percent), where no exponential overflows
// at any temperature of the banner's range.
#pragma once

#include <array>
#include <random>
#include <vector>

namespace quarn::bench {

inline std::vector<std::array<double, 3>> InRangeCompositions(std::size_t count,
                                                              unsigned seed = 20261206) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> co2(0.0, 0.9);
  std::uniform_real_distribution<double> salt_share(0.0, 0.1);
  std::vector<std::array<double, 3>> compositions(count);
  for (auto& x : compositions) {
    x[0] = co2(random);
    const double solvent = 1.0 - x[0];
    x[2] = solvent * salt_share(random);
    x[1] = solvent - x[2];
  }
  return compositions;
}

}  // namespace quarn::bench
