// The fugacity batch over NumPy columns: the unit conversions, the batch call
// on as many threads, f = (x phi) P_bar, the fault columns and the range
// flags, with the GIL released and a look for Ctrl-C between parts; and the
// name of the evaluation loop in use.
#include <nanobind/stl/map.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bindings.hpp"
#include "quarn/fluid.hpp"
#include "quarn/internal/parts.hpp"
#include "quarn/internal/simd_path.hpp"

namespace quarn::python {
namespace {

// The rows of the batch's output, by name: Python builds its result from the
// names evaluate_layout exports, never from these positions.
enum Row : std::size_t {
  kPhiCO2,
  kPhiH2O,
  kPhiNaCl,
  kFugacityCO2,
  kFugacityH2O,
  kFugacityNaCl,
  kZ,
  kV,
  kRho,
  kLnPhiCO2,
  kLnPhiH2O,
  kLnPhiNaCl,
  kRowCount
};
constexpr const char* kRowNames[kRowCount] = {"phi_CO2", "phi_H2O",    "phi_NaCl",   "f_CO2",
                                              "f_H2O",   "f_NaCl",     "Z",          "V",
                                              "rho",     "ln_phi_CO2", "ln_phi_H2O", "ln_phi_NaCl"};

using Rows = nb::ndarray<double, nb::ndim<2>, nb::c_contig, nb::device::cpu>;
using FaultNumbers = nb::ndarray<std::int32_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using FaultFunctions = nb::ndarray<std::uint8_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// Points between two looks for a pending signal (Ctrl-C): some 25 ms of work on
// two cores, so that Ctrl-C is answered promptly on a loaded machine too.
constexpr std::size_t kPointsBetweenSignalChecks = std::size_t{1} << 18;

// The stated range: T_C in [T_low, T_high], P_bar at least P_low, and mole
// fractions in [0, 1] whose sum is within sum_tolerance of 1.
struct StatedRange {
  double T_low, T_high, P_low, sum_tolerance;
};

// What the caller looks at before it looks at the arrays: how many points
// failed and how many have fractions outside the stated range, and the first
// of each (n where there is none).
struct Summary {
  std::size_t faults = 0, first_fault = 0, unfit_fractions = 0, first_unfit = 0;

  void Add(const Summary& later) {
    if (faults == 0) first_fault = later.first_fault;
    if (unfit_fractions == 0) first_unfit = later.first_unfit;
    faults += later.faults;
    unfit_fractions += later.unfit_fractions;
  }
};

using Flags = nb::ndarray<bool, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// One worker's share [begin, end) of the points: the unit conversions, the
// batch call on this thread, then f = (x phi) P_bar, the fault columns and the
// range flags, so that nothing is left for a single-threaded pass afterwards.
struct Share {
  const Column *T_C, *P_bar, *x_CO2, *x_H2O, *x_NaCl;
  double* const* row;
  std::int32_t* fault_numbers;
  std::uint8_t* fault_functions;
  bool* in_range;
  StatedRange range;

  // In blocks small enough that f, the faults and the flags are formed while
  // the block's results are still in the cache.
  Summary operator()(std::size_t begin, std::size_t end) const {
    constexpr std::size_t kBlock = 2048;
    std::vector<double> T_K, P_atm;
    std::vector<quarn::Fault> faults;
    Summary summary{0, end, 0, end};
    for (std::size_t from = begin; from < end; from += kBlock)
      Block(from, std::min(end, from + kBlock), T_K, P_atm, faults, summary);
    return summary;
  }

  void Block(std::size_t begin, std::size_t end, std::vector<double>& T_K,
             std::vector<double>& P_atm, std::vector<quarn::Fault>& faults,
             Summary& summary) const {
    const std::size_t m = end - begin;
    const std::span<const double> T = Part(*T_C, begin, end), P = Part(*P_bar, begin, end);
    T_K.resize(T.size());
    P_atm.resize(P.size());
    for (std::size_t i = 0; i < T.size(); ++i) T_K[i] = quarn::KelvinFromCelsius(T[i]);
    for (std::size_t i = 0; i < P.size(); ++i) P_atm[i] = quarn::AtmFromBar(P[i]);
    faults.resize(m);
    const std::span<const double> x[3] = {Part(*x_CO2, begin, end), Part(*x_H2O, begin, end),
                                          Part(*x_NaCl, begin, end)};
    const quarn::StateColumns states = {T_K, P_atm, x[0], x[1], x[2]};
    auto out = [&](Row r) { return std::span<double>(row[r] + begin, m); };
    const quarn::ResultColumns results = {out(kPhiCO2),   out(kPhiH2O),   out(kPhiNaCl),
                                          out(kZ),        out(kV),        faults,
                                          out(kLnPhiCO2), out(kLnPhiH2O), out(kLnPhiNaCl)};
    if (!quarn::EvaluateBatch(states, results, 1)) return;  // lengths are checked before
    for (std::size_t k = 0; k < 3; ++k) {
      const double* phi = row[kPhiCO2 + k] + begin;
      double* f = row[kFugacityCO2 + k] + begin;
      for (std::size_t i = 0; i < m; ++i)
        f[i] = quarn::FugacityBar(quarn::ColumnValue(x[k], i), phi[i], quarn::ColumnValue(P, i));
    }
    const double* V = row[kV] + begin;
    double* rho = row[kRho] + begin;
    for (std::size_t i = 0; i < m; ++i) {
      rho[i] = quarn::MassDensity(
          {quarn::ColumnValue(x[0], i), quarn::ColumnValue(x[1], i), quarn::ColumnValue(x[2], i)},
          V[i]);
      fault_numbers[begin + i] = faults[i].number;
      fault_functions[begin + i] = static_cast<std::uint8_t>(faults[i].function);
      if (faults[i] && summary.faults++ == 0) summary.first_fault = begin + i;
      const double x_CO2_i = quarn::ColumnValue(x[0], i), x_H2O_i = quarn::ColumnValue(x[1], i),
                   x_NaCl_i = quarn::ColumnValue(x[2], i);
      const double T_C_i = quarn::ColumnValue(T, i), P_bar_i = quarn::ColumnValue(P, i);
      const bool fractions_fit =
          x_CO2_i >= 0.0 && x_CO2_i <= 1.0 && x_H2O_i >= 0.0 && x_H2O_i <= 1.0 && x_NaCl_i >= 0.0 &&
          x_NaCl_i <= 1.0 && std::fabs(x_CO2_i + x_H2O_i + x_NaCl_i - 1.0) <= range.sum_tolerance;
      if (!fractions_fit && summary.unfit_fractions++ == 0) summary.first_unfit = begin + i;
      in_range[begin + i] =
          fractions_fit && T_C_i >= range.T_low && T_C_i <= range.T_high && P_bar_i >= range.P_low;
    }
  }
};

// [begin, end) split over up to `threads` workers (0: every hardware thread),
// the calling thread doing the last share; their summaries in order.
template <class Work>
Summary OnWorkers(const Work& work, std::size_t begin, std::size_t end, unsigned threads) {
  const std::size_t shares = quarn::PartCount(end - begin, threads);
  std::vector<Summary> summaries(shares);
  quarn::RunInParts(begin, end, shares, [&](std::size_t k, std::size_t from, std::size_t to) {
    summaries[k] = work(from, to);
  });
  Summary total{0, end, 0, end};
  for (const Summary& s : summaries) total.Add(s);
  return total;
}

// Each input column holds one value for all points or one per point. The rows
// of `out` receive the numbers evaluate_layout names; in_range whether the point lies in the stated
// range (T_low, T_high, P_low, sum_tolerance). Returns the number of failed points, the first, the
// number with fractions outside the range and the first (n where there is none). The points go in
// parts, with a look for signals between them, so that Ctrl-C ends a long call within a fraction of
// a second.
std::tuple<std::size_t, std::size_t, std::size_t, std::size_t> Evaluate(
    Column T_C, Column P_bar, Column x_CO2, Column x_H2O, Column x_NaCl, Rows out,
    FaultNumbers fault_numbers, FaultFunctions fault_functions, Flags in_range,
    std::tuple<double, double, double, double> stated_range, unsigned threads) {
  const std::size_t n = out.shape(1);
  if (out.shape(0) != kRowCount) throw nb::value_error("the output rows do not fit");
  for (const Column* c : {&T_C, &P_bar, &x_CO2, &x_H2O, &x_NaCl}) {
    if (c->shape(0) != 1 && c->shape(0) != n) throw nb::value_error("the arrays differ in length");
  }
  if (fault_numbers.shape(0) != n || fault_functions.shape(0) != n || in_range.shape(0) != n)
    throw nb::value_error("the arrays differ in length");
  double* row[kRowCount];
  for (std::size_t k = 0; k < kRowCount; ++k) row[k] = out.data() + k * n;
  const auto [T_low, T_high, P_low, sum_tolerance] = stated_range;
  const Share share = {&T_C,
                       &P_bar,
                       &x_CO2,
                       &x_H2O,
                       &x_NaCl,
                       row,
                       fault_numbers.data(),
                       fault_functions.data(),
                       in_range.data(),
                       {T_low, T_high, P_low, sum_tolerance}};
  Summary total{0, n, 0, n};
  for (std::size_t begin = 0; begin < n; begin += kPointsBetweenSignalChecks) {
    const std::size_t end = std::min(n, begin + kPointsBetweenSignalChecks);
    {
      nb::gil_scoped_release unlocked;
      total.Add(OnWorkers(share, begin, end, threads));
    }
    CheckSignals();
  }
  return {total.faults, total.first_fault, total.unfit_fractions, total.first_unfit};
}

}  // namespace

void BindFugacityBatch(nb::module_& m) {
  m.def("evaluate", &Evaluate, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("x_CO2"), nb::arg("x_H2O"),
        nb::arg("x_NaCl"), nb::arg("out"), nb::arg("fault_numbers"), nb::arg("fault_functions"),
        nb::arg("in_range"), nb::arg("stated_range"), nb::arg("threads"),
        "Fills the rows of out (named by evaluate_layout), the fault arrays and in_range "
        "(stated_range: T_low, T_high, P_low, sum_tolerance) for every state; returns (failed "
        "points, the first, points with fractions out of range, the first).");
  // A function, not an attribute, so that the stubs carry its type.
  m.def("evaluate_layout", [] {
    return std::map<std::string, std::vector<std::string>>{
        {"rows", std::vector<std::string>(std::begin(kRowNames), std::end(kRowNames))}};
  });
  m.def(
      "simd_path", [] { return std::string(batch::SimdPathName(batch::ActiveSimdPath())); },
      "The evaluation loop the batch calls use: \"avx512\", \"avx2\" or \"scalar\".");
  m.def(
      "simd_path_note", [] { return std::string(batch::SimdPathNote()); },
      "Why the loop in use is not the widest the processor offers (QUARN_SIMD, or a loop that "
      "failed its self-test against the scalar loop); empty where it is.");
}

}  // namespace quarn::python
