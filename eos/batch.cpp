// The public batch calls: contiguous slices of the points on as many threads,
// the temperature terms worked out once per run of equal temperatures.
#include <algorithm>
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

// A column with one value for all points or one each.
bool Fits(std::span<const double> column, std::size_t n) {
  return column.size() == 1 || column.size() == n;
}
// An output column that may be left out.
bool Optional(std::span<double> column, std::size_t n) {
  return column.empty() || column.size() == n;
}

// Points as an array of compositions with the conditions in columns.
struct CompositionArray {
  std::span<const double> T_K, P_atm;
  std::span<const Composition> x;
  std::span<Result> results;
  std::span<Fault> faults;

  std::size_t size() const { return x.size(); }
  bool Valid() const {
    return results.size() == size() && faults.size() == size() && Fits(T_K, size()) &&
           Fits(P_atm, size());
  }
  double T(std::size_t i) const { return ColumnValue(T_K, i); }
  double P(std::size_t i) const { return ColumnValue(P_atm, i); }
  std::array<double, 3> X(std::size_t i) const { return {x[i].x_CO2, x[i].x_H2O, x[i].x_NaCl}; }
  void Store(std::size_t i, const Result& result, const Fault& fault) const {
    results[i] = result;
    faults[i] = fault;
  }
};

// Points as columns.
struct Columns {
  const StateColumns& in;
  const ResultColumns& out;

  std::size_t size() const {
    return std::max(
        {in.T_K.size(), in.P_atm.size(), in.x_CO2.size(), in.x_H2O.size(), in.x_NaCl.size()});
  }
  bool Valid() const {
    const std::size_t n = size();
    return Fits(in.T_K, n) && Fits(in.P_atm, n) && Fits(in.x_CO2, n) && Fits(in.x_H2O, n) &&
           Fits(in.x_NaCl, n) && out.phi_CO2.size() == n && out.phi_H2O.size() == n &&
           out.phi_NaCl.size() == n && out.Z.size() == n && out.V_cm3_per_mol.size() == n &&
           out.faults.size() == n && Optional(out.ln_phi_CO2, n) && Optional(out.ln_phi_H2O, n) &&
           Optional(out.ln_phi_NaCl, n);
  }
  double T(std::size_t i) const { return ColumnValue(in.T_K, i); }
  double P(std::size_t i) const { return ColumnValue(in.P_atm, i); }
  std::array<double, 3> X(std::size_t i) const {
    return {ColumnValue(in.x_CO2, i), ColumnValue(in.x_H2O, i), ColumnValue(in.x_NaCl, i)};
  }
  void Store(std::size_t i, const Result& result, const Fault& fault) const {
    out.phi_CO2[i] = result.phi[0];
    out.phi_H2O[i] = result.phi[1];
    out.phi_NaCl[i] = result.phi[2];
    out.Z[i] = result.Z;
    out.V_cm3_per_mol[i] = result.V_cm3_per_mol;
    out.faults[i] = fault;
    if (!out.ln_phi_CO2.empty()) out.ln_phi_CO2[i] = result.ln_phi[0];
    if (!out.ln_phi_H2O.empty()) out.ln_phi_H2O[i] = result.ln_phi[1];
    if (!out.ln_phi_NaCl.empty()) out.ln_phi_NaCl[i] = result.ln_phi[2];
  }
};

template <typename Points>
void EvaluateSlice(const Points& points, std::size_t begin, std::size_t end) {
  TemperatureTerms t{};
  std::uint64_t t_bits = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double T_K = points.T(i);
    // Bitwise, so that a NaN temperature is still worked out once.
    if (i == begin || std::bit_cast<std::uint64_t>(T_K) != t_bits) {
      t = ComputeTemperatureTerms(T_K);
      t_bits = std::bit_cast<std::uint64_t>(T_K);
    }
    Result result;
    Fault fault;
    TRKMIX(t, points.P(i), points.X(i), result, fault);
    points.Store(i, result, fault);
  }
}

template <typename Points>
bool Run(const Points& points, unsigned threads) noexcept {
  if (!points.Valid()) return false;
  const std::size_t n = points.size();
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
        helpers.emplace_back(EvaluateSlice<Points>, std::cref(points), begin, end);
        started = true;
      } catch (...) {  // no thread to be had: this thread does the slice
      }
    }
    if (!started) EvaluateSlice(points, begin, end);
    begin = end;
  }
  for (std::thread& helper : helpers) helper.join();
  return true;
}

}  // namespace

bool EvaluateBatch(double T_K, double P_atm, std::span<const Composition> x,
                   std::span<Result> results, std::span<Fault> faults, unsigned threads) noexcept {
  return Run(CompositionArray{{&T_K, 1}, {&P_atm, 1}, x, results, faults}, threads);
}

bool EvaluateBatch(std::span<const double> T_K, std::span<const double> P_atm,
                   std::span<const Composition> x, std::span<Result> results,
                   std::span<Fault> faults, unsigned threads) noexcept {
  return Run(CompositionArray{T_K, P_atm, x, results, faults}, threads);
}

bool EvaluateBatch(const StateColumns& states, const ResultColumns& results,
                   unsigned threads) noexcept {
  return Run(Columns{states, results}, threads);
}

}  // namespace quarn
