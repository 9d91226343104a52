// The phase-equilibrium batch calls over NumPy columns, with the GIL released
// and a look for Ctrl-C between parts. Each answer is spread over rows of a
// float64 array and small integer columns; the Python side names them.
#include "equilibrium.hpp"

#include <nanobind/ndarray.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "quarn/equilibrium.hpp"

namespace nb = nanobind;

namespace {

using Column = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using Rows = nb::ndarray<double, nb::ndim<2>, nb::c_contig, nb::device::cpu>;
using Codes = nb::ndarray<std::int32_t, nb::ndim<2>, nb::c_contig, nb::device::cpu>;

// Points between two looks for Ctrl-C: a flash takes about half a millisecond.
constexpr std::size_t kPointsPerPart = 256;

std::span<const double> Part(const Column& c, std::size_t begin, std::size_t end) {
  return c.shape(0) == 1 ? std::span<const double>(c.data(), 1)
                         : std::span<const double>(c.data() + begin, end - begin);
}

void CheckLengths(std::initializer_list<const Column*> columns, std::size_t n, const Rows& rows,
                  std::size_t row_count, const Codes& codes, std::size_t code_count) {
  for (const Column* c : columns) {
    if (c->shape(0) != 1 && c->shape(0) != n) throw nb::value_error("the arrays differ in length");
  }
  if (rows.shape(0) != row_count || rows.shape(1) != n || codes.shape(0) != code_count ||
      codes.shape(1) != n) {
    throw nb::value_error("the output arrays do not fit");
  }
}

std::vector<double> Kelvin(std::span<const double> T_C) {
  std::vector<double> T_K(T_C.size());
  std::transform(T_C.begin(), T_C.end(), T_K.begin(), quarn::KelvinFromCelsius);
  return T_K;
}

std::vector<double> Atm(std::span<const double> P_bar) {
  std::vector<double> P_atm(P_bar.size());
  std::transform(P_bar.begin(), P_bar.end(), P_atm.begin(), quarn::AtmFromBar);
  return P_atm;
}

// Runs `batch(begin, end)` part by part without the GIL, with Python's signal
// handlers run between parts.
template <class Batch>
void InParts(std::size_t n, std::size_t part, Batch batch) {
  for (std::size_t begin = 0; begin < n; begin += part) {
    const std::size_t end = std::min(n, begin + part);
    {
      nb::gil_scoped_release unlocked;
      batch(begin, end);
    }
    if (PyErr_CheckSignals() != 0) throw nb::python_error();
  }
}

void StorePhase(const quarn::Phase& phase, double* const* row, std::size_t first, std::size_t i) {
  const double values[] = {
      phase.x.x_CO2,          phase.x.x_H2O,          phase.x.x_NaCl,
      phase.wt_NaCl,          phase.result.phi[0],    phase.result.phi[1],
      phase.result.phi[2],    phase.result.Z,         phase.result.V_cm3_per_mol,
      phase.result.ln_phi[0], phase.result.ln_phi[1], phase.result.ln_phi[2]};
  for (std::size_t k = 0; k < std::size(values); ++k) row[first + k][i] = values[k];
}

// Rows: beta, the brine's 12 (x_CO2, x_H2O, x_NaCl, wt_NaCl, phi x3, Z, V, ln
// phi x3), the CO2-rich phase's 12, then max_delta_ln_f,
// max_delta_ln_f_unrounded, mass_balance, delta_G_RT, min_tpd, tpd_min, then
// beta_saline and the saline CO2-bearing phase's 12. Codes: status, undecided
// reason, phases, domain bits, iterations, evaluations.
constexpr std::size_t kFlashRows = 44, kFlashCodes = 6;

void Flash(Column T_C, Column P_bar, Column x_CO2, Column x_H2O, Column x_NaCl, Rows rows,
           Codes codes, double cap_wt, double limit_wt, unsigned threads) {
  const std::size_t n = rows.shape(1);
  CheckLengths({&T_C, &P_bar, &x_CO2, &x_H2O, &x_NaCl}, n, rows, kFlashRows, codes, kFlashCodes);
  const quarn::EquilibriumOptions options{cap_wt, limit_wt};
  std::vector<quarn::FlashResult> results;
  InParts(n, kPointsPerPart, [&](std::size_t begin, std::size_t end) {
    results.assign(end - begin, {});
    const std::vector<double> T_K = Kelvin(Part(T_C, begin, end));
    const std::vector<double> P_atm = Atm(Part(P_bar, begin, end));
    if (!quarn::FlashBatch(T_K, P_atm, Part(x_CO2, begin, end), Part(x_H2O, begin, end),
                           Part(x_NaCl, begin, end), results, options, threads)) {
      return;
    }
    double* row[kFlashRows];
    for (std::size_t k = 0; k < kFlashRows; ++k) row[k] = rows.data() + k * n;
    for (std::size_t j = 0; j < results.size(); ++j) {
      const quarn::FlashResult& r = results[j];
      const std::size_t i = begin + j;
      row[0][i] = r.beta;
      StorePhase(r.brine, row, 1, i);
      StorePhase(r.co2_rich, row, 13, i);
      const quarn::FlashCertificate& c = r.certificate;
      const double certificate[] = {c.max_delta_ln_f, c.max_delta_ln_f_unrounded,
                                    c.mass_balance,   c.delta_G_RT,
                                    c.min_tpd,        r.tpd_min};
      for (std::size_t k = 0; k < std::size(certificate); ++k) row[25 + k][i] = certificate[k];
      row[31][i] = r.beta_saline;
      StorePhase(r.saline_co2_bearing, row, 32, i);
      const std::int32_t code[] = {static_cast<std::int32_t>(r.status),
                                   static_cast<std::int32_t>(r.undecided),
                                   r.phases,
                                   static_cast<std::int32_t>(r.domain),
                                   r.iterations,
                                   r.evaluations};
      for (std::size_t k = 0; k < kFlashCodes; ++k) codes(k, i) = code[k];
    }
  });
}

// Rows: tpd_min, the trial's x_CO2, x_H2O, x_NaCl and wt_NaCl. Codes:
// verdict, domain bits, evaluations.
constexpr std::size_t kStabilityRows = 5, kStabilityCodes = 3;

void Stability(Column T_C, Column P_bar, Column x_CO2, Column x_H2O, Column x_NaCl, Rows rows,
               Codes codes, double cap_wt, unsigned threads) {
  const std::size_t n = rows.shape(1);
  CheckLengths({&T_C, &P_bar, &x_CO2, &x_H2O, &x_NaCl}, n, rows, kStabilityRows, codes,
               kStabilityCodes);
  const quarn::EquilibriumOptions options{.salinity_cap_wt = cap_wt};
  std::vector<quarn::StabilityResult> results;
  InParts(n, kPointsPerPart, [&](std::size_t begin, std::size_t end) {
    results.assign(end - begin, {});
    const std::vector<double> T_K = Kelvin(Part(T_C, begin, end));
    const std::vector<double> P_atm = Atm(Part(P_bar, begin, end));
    if (!quarn::StabilityBatch(T_K, P_atm, Part(x_CO2, begin, end), Part(x_H2O, begin, end),
                               Part(x_NaCl, begin, end), results, options, threads)) {
      return;
    }
    for (std::size_t j = 0; j < results.size(); ++j) {
      const quarn::StabilityResult& r = results[j];
      const std::size_t i = begin + j;
      const double values[] = {r.tpd_min, r.trial.x_CO2, r.trial.x_H2O, r.trial.x_NaCl,
                               quarn::SalinityWt(r.trial)};
      for (std::size_t k = 0; k < kStabilityRows; ++k) rows(k, i) = values[k];
      codes(0, i) = static_cast<std::int32_t>(r.verdict);
      codes(1, i) = static_cast<std::int32_t>(r.domain);
      codes(2, i) = r.evaluations;
    }
  });
}

// Rows: x_CO2, its tolerance, the incipient phase's x_CO2, x_H2O, x_NaCl and
// wt_NaCl. Codes: status, domain bits, evaluations.
constexpr std::size_t kLimitRows = 6, kLimitCodes = 3;

void OnePhaseLimit(Column T_C, Column P_bar, Column wt_NaCl, Rows rows, Codes codes, double cap_wt,
                   unsigned threads) {
  const std::size_t n = rows.shape(1);
  CheckLengths({&T_C, &P_bar, &wt_NaCl}, n, rows, kLimitRows, codes, kLimitCodes);
  const quarn::EquilibriumOptions options{.salinity_cap_wt = cap_wt};
  std::vector<quarn::OnePhaseLimit> results;
  // A limit takes some tens of stability tests: fewer points per part.
  InParts(n, kPointsPerPart / 16, [&](std::size_t begin, std::size_t end) {
    results.assign(end - begin, {});
    const std::vector<double> T_K = Kelvin(Part(T_C, begin, end));
    const std::vector<double> P_atm = Atm(Part(P_bar, begin, end));
    if (!quarn::OnePhaseLimitBatch(T_K, P_atm, Part(wt_NaCl, begin, end), results, options,
                                   threads)) {
      return;
    }
    for (std::size_t j = 0; j < results.size(); ++j) {
      const quarn::OnePhaseLimit& r = results[j];
      const std::size_t i = begin + j;
      const double values[] = {r.x_CO2,           r.x_CO2_tolerance,  r.incipient.x_CO2,
                               r.incipient.x_H2O, r.incipient.x_NaCl, r.incipient_wt_NaCl};
      for (std::size_t k = 0; k < kLimitRows; ++k) rows(k, i) = values[k];
      codes(0, i) = static_cast<std::int32_t>(r.status);
      codes(1, i) = static_cast<std::int32_t>(r.domain);
      codes(2, i) = r.evaluations;
    }
  });
}

}  // namespace

void BindEquilibrium(nb::module_& m) {
  m.def("flash", &Flash, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("x_CO2"), nb::arg("x_H2O"),
        nb::arg("x_NaCl"), nb::arg("rows"), nb::arg("codes"), nb::arg("salinity_cap_wt"),
        nb::arg("phase_salinity_limit_wt"), nb::arg("threads"),
        "The two-phase flash of every state into rows (31) and codes (6).");
  m.def("stability", &Stability, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("x_CO2"),
        nb::arg("x_H2O"), nb::arg("x_NaCl"), nb::arg("rows"), nb::arg("codes"),
        nb::arg("salinity_cap_wt"), nb::arg("threads"),
        "The stability test of every state into rows (5) and codes (3).");
  m.def("one_phase_limit", &OnePhaseLimit, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("wt_NaCl"),
        nb::arg("rows"), nb::arg("codes"), nb::arg("salinity_cap_wt"), nb::arg("threads"),
        "The one-phase limit of every section into rows (6) and codes (3).");
  m.def(
      "flash_status_name",
      [](int status) { return quarn::FlashStatusName(static_cast<quarn::FlashStatus>(status)); },
      nb::arg("status"));
  m.def(
      "undecided_name",
      [](int reason) { return quarn::UndecidedName(static_cast<quarn::Undecided>(reason)); },
      nb::arg("reason"));
  m.def(
      "stability_name",
      [](int verdict) { return quarn::StabilityName(static_cast<quarn::Stability>(verdict)); },
      nb::arg("verdict"));
  m.def(
      "limit_status_name",
      [](int status) { return quarn::LimitStatusName(static_cast<quarn::LimitStatus>(status)); },
      nb::arg("status"));
}
