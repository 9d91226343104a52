// The public batch call: contiguous slices of the points on as many threads,
// the temperature terms worked out once per run of equal temperatures.
#include <bit>
#include <cstdint>
#include <thread>
#include <vector>

#include "eos/trkmix.hpp"
#include "quarn/eos.hpp"

namespace quarn {
namespace {

// Below this many points a batch is not worth a thread.
constexpr std::size_t kPointsPerThread = 4096;

// Point i's temperature and pressure: one for all, or one each.
struct Conditions {
  std::span<const double> T_K;
  std::span<const double> P_atm;
  double T(std::size_t i) const { return T_K.size() == 1 ? T_K[0] : T_K[i]; }
  double P(std::size_t i) const { return P_atm.size() == 1 ? P_atm[0] : P_atm[i]; }
};

void EvaluateSlice(const Conditions& c, std::span<const Composition> x, std::span<Result> results,
                   std::span<Fault> faults, std::size_t begin, std::size_t end) {
  TemperatureTerms t{};
  std::uint64_t t_bits = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double T_K = c.T(i);
    // Bitwise, so that a NaN temperature is still worked out once.
    if (i == begin || std::bit_cast<std::uint64_t>(T_K) != t_bits) {
      t = ComputeTemperatureTerms(T_K);
      t_bits = std::bit_cast<std::uint64_t>(T_K);
    }
    Fault fault;
    TRKMIX(t, c.P(i), {x[i].x_CO2, x[i].x_H2O, x[i].x_NaCl}, results[i], fault);
    faults[i] = fault;
  }
}

bool Run(const Conditions& c, std::span<const Composition> x, std::span<Result> results,
         std::span<Fault> faults, unsigned threads) noexcept {
  const std::size_t n = x.size();
  if (results.size() != n || faults.size() != n || (c.T_K.size() != 1 && c.T_K.size() != n) ||
      (c.P_atm.size() != 1 && c.P_atm.size() != n)) {
    return false;
  }
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t slices =
      std::max<std::size_t>(1, std::min<std::size_t>(threads, n / kPointsPerThread));
  std::vector<std::thread> helpers;
  std::size_t begin = 0;
  for (std::size_t k = 0; k < slices; ++k) {
    const std::size_t end = n * (k + 1) / slices;
    bool started = false;
    if (k + 1 < slices) {
      try {
        helpers.emplace_back(EvaluateSlice, std::cref(c), x, results, faults, begin, end);
        started = true;
      } catch (...) {  // no thread to be had: this thread does the slice
      }
    }
    if (!started) EvaluateSlice(c, x, results, faults, begin, end);
    begin = end;
  }
  for (std::thread& helper : helpers) helper.join();
  return true;
}

}  // namespace

bool EvaluateBatch(double T_K, double P_atm, std::span<const Composition> x,
                   std::span<Result> results, std::span<Fault> faults, unsigned threads) noexcept {
  return Run({{&T_K, 1}, {&P_atm, 1}}, x, results, faults, threads);
}

bool EvaluateBatch(std::span<const double> T_K, std::span<const double> P_atm,
                   std::span<const Composition> x, std::span<Result> results,
                   std::span<Fault> faults, unsigned threads) noexcept {
  return Run({T_K, P_atm}, x, results, faults, threads);
}

}  // namespace quarn
