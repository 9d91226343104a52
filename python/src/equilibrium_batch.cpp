// The phase-equilibrium batch calls over NumPy columns, with the GIL released
// and a look for Ctrl-C between parts. Each answer is spread over rows of a
// float64 array and small integer columns; the Python side names them.
#include <nanobind/ndarray.h>
#include <nanobind/stl/map.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "answer_layout.hpp"
#include "bindings.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn::python {
namespace {

// Points between two looks for Ctrl-C: a flash takes about half a millisecond.
constexpr std::size_t kPointsPerPart = 256;

// A phase's twelve rows, each named after the phase.
void PhaseRows(Layout<quarn::FlashResult>& layout, const std::string& prefix,
               quarn::Phase quarn::FlashResult::*phase) {
  using R = quarn::FlashResult;
  layout.Row(prefix + "_x_CO2", [phase](const R& r) { return (r.*phase).x.x_CO2; });
  layout.Row(prefix + "_x_H2O", [phase](const R& r) { return (r.*phase).x.x_H2O; });
  layout.Row(prefix + "_x_NaCl", [phase](const R& r) { return (r.*phase).x.x_NaCl; });
  layout.Row(prefix + "_wt_NaCl", [phase](const R& r) { return (r.*phase).wt_NaCl; });
  const char* species[] = {"CO2", "H2O", "NaCl"};
  for (int i = 0; i < 3; ++i) {
    layout.Row(prefix + "_phi_" + species[i],
               [phase, i](const R& r) { return (r.*phase).result.phi[i]; });
  }
  layout.Row(prefix + "_Z", [phase](const R& r) { return (r.*phase).result.Z; });
  layout.Row(prefix + "_V", [phase](const R& r) { return (r.*phase).result.V_cm3_per_mol; });
  for (int i = 0; i < 3; ++i) {
    layout.Row(prefix + "_ln_phi_" + species[i],
               [phase, i](const R& r) { return (r.*phase).result.ln_phi[i]; });
  }
}

const Layout<quarn::FlashResult>& FlashLayout() {
  using R = quarn::FlashResult;
  static const Layout<R> layout = [] {
    Layout<R> l;
    l.Row("beta", [](const R& r) { return r.beta; });
    l.Row("beta_saline", [](const R& r) { return r.beta_saline; });
    PhaseRows(l, "brine", &R::brine);
    PhaseRows(l, "co2_rich", &R::co2_rich);
    PhaseRows(l, "saline_co2_bearing", &R::saline_co2_bearing);
    l.Row("max_delta_ln_f", [](const R& r) { return r.certificate.max_delta_ln_f; });
    l.Row("max_delta_ln_f_unrounded",
          [](const R& r) { return r.certificate.max_delta_ln_f_unrounded; });
    l.Row("mass_balance", [](const R& r) { return r.certificate.mass_balance; });
    l.Row("delta_G_RT", [](const R& r) { return r.certificate.delta_G_RT; });
    l.Row("min_tpd", [](const R& r) { return r.certificate.min_tpd; });
    l.Row("tpd_min", [](const R& r) { return r.tpd_min; });
    l.Code("status", [](const R& r) { return AsCode(r.status); });
    l.Code("undecided", [](const R& r) { return AsCode(r.undecided); });
    l.Code("phases", [](const R& r) { return r.phases; });
    l.Code("domain", [](const R& r) { return AsCode(r.domain); });
    l.Code("iterations", [](const R& r) { return r.iterations; });
    l.Code("evaluations", [](const R& r) { return r.evaluations; });
    return l;
  }();
  return layout;
}

const Layout<quarn::StabilityResult>& StabilityLayout() {
  using R = quarn::StabilityResult;
  static const Layout<R> layout = [] {
    Layout<R> l;
    l.Row("tpd_min", [](const R& r) { return r.tpd_min; });
    l.Row("trial_x_CO2", [](const R& r) { return r.trial.x_CO2; });
    l.Row("trial_x_H2O", [](const R& r) { return r.trial.x_H2O; });
    l.Row("trial_x_NaCl", [](const R& r) { return r.trial.x_NaCl; });
    l.Row("trial_wt_NaCl", [](const R& r) { return quarn::SalinityWt(r.trial); });
    l.Code("verdict", [](const R& r) { return AsCode(r.verdict); });
    l.Code("domain", [](const R& r) { return AsCode(r.domain); });
    l.Code("evaluations", [](const R& r) { return r.evaluations; });
    return l;
  }();
  return layout;
}

const Layout<quarn::OnePhaseLimit>& LimitLayout() {
  using R = quarn::OnePhaseLimit;
  static const Layout<R> layout = [] {
    Layout<R> l;
    l.Row("x_CO2", [](const R& r) { return r.x_CO2; });
    l.Row("tolerance", [](const R& r) { return r.x_CO2_tolerance; });
    l.Row("incipient_x_CO2", [](const R& r) { return r.incipient.x_CO2; });
    l.Row("incipient_x_H2O", [](const R& r) { return r.incipient.x_H2O; });
    l.Row("incipient_x_NaCl", [](const R& r) { return r.incipient.x_NaCl; });
    l.Row("incipient_wt_NaCl", [](const R& r) { return r.incipient_wt_NaCl; });
    l.Code("status", [](const R& r) { return AsCode(r.status); });
    l.Code("domain", [](const R& r) { return AsCode(r.domain); });
    l.Code("evaluations", [](const R& r) { return r.evaluations; });
    return l;
  }();
  return layout;
}

void Flash(Column T_C, Column P_bar, Column x_CO2, Column x_H2O, Column x_NaCl, Rows rows,
           Codes codes, double cap_wt, double limit_wt, unsigned threads) {
  const quarn::EquilibriumOptions options{cap_wt, limit_wt};
  ConditionsOrder in(T_C, P_bar, rows.shape(1));
  const auto T = in.Gather(T_C), P = in.Gather(P_bar);
  const auto u = in.Gather(x_CO2), w = in.Gather(x_H2O), s = in.Gather(x_NaCl);
  FillAnswers(
      FlashLayout(), {&T_C, &P_bar, &x_CO2, &x_H2O, &x_NaCl}, rows, codes, kPointsPerPart,
      [&](std::size_t begin, std::size_t end, std::vector<quarn::FlashResult>& answers) {
        return quarn::FlashBatch(Kelvin(Part(T, begin, end)), Atm(Part(P, begin, end)),
                                 Part(u, begin, end), Part(w, begin, end), Part(s, begin, end),
                                 answers, options, threads);
      },
      in.order());
}

void Stability(Column T_C, Column P_bar, Column x_CO2, Column x_H2O, Column x_NaCl, Rows rows,
               Codes codes, double cap_wt, unsigned threads) {
  const quarn::EquilibriumOptions options{.salinity_cap_wt = cap_wt};
  ConditionsOrder in(T_C, P_bar, rows.shape(1));
  const auto T = in.Gather(T_C), P = in.Gather(P_bar);
  const auto u = in.Gather(x_CO2), w = in.Gather(x_H2O), s = in.Gather(x_NaCl);
  FillAnswers(
      StabilityLayout(), {&T_C, &P_bar, &x_CO2, &x_H2O, &x_NaCl}, rows, codes, kPointsPerPart,
      [&](std::size_t begin, std::size_t end, std::vector<quarn::StabilityResult>& answers) {
        return quarn::StabilityBatch(Kelvin(Part(T, begin, end)), Atm(Part(P, begin, end)),
                                     Part(u, begin, end), Part(w, begin, end), Part(s, begin, end),
                                     answers, options, threads);
      },
      in.order());
}

void OnePhaseLimit(Column T_C, Column P_bar, Column wt_NaCl, Rows rows, Codes codes, double cap_wt,
                   unsigned threads) {
  const quarn::EquilibriumOptions options{.salinity_cap_wt = cap_wt};
  ConditionsOrder in(T_C, P_bar, rows.shape(1));
  const auto T = in.Gather(T_C), P = in.Gather(P_bar), W = in.Gather(wt_NaCl);
  // A limit takes some tens of stability tests: fewer points per part.
  FillAnswers(
      LimitLayout(), {&T_C, &P_bar, &wt_NaCl}, rows, codes, kPointsPerPart / 16,
      [&](std::size_t begin, std::size_t end, std::vector<quarn::OnePhaseLimit>& answers) {
        return quarn::OnePhaseLimitBatch(Kelvin(Part(T, begin, end)), Atm(Part(P, begin, end)),
                                         Part(W, begin, end), answers, options, threads);
      },
      in.order());
}

// The names of an enumeration's values, in the order of their codes.
template <class Enum, class Name>
std::vector<std::string> NamesOf(std::initializer_list<Enum> values, Name name) {
  std::vector<std::string> names;
  for (Enum v : values) {
    if (static_cast<std::size_t>(v) != names.size()) throw std::logic_error("codes out of order");
    names.emplace_back(name(v));
  }
  return names;
}

}  // namespace

void BindEquilibrium(nb::module_& m) {
  m.def("flash", &Flash, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("x_CO2"), nb::arg("x_H2O"),
        nb::arg("x_NaCl"), nb::arg("rows"), nb::arg("codes"), nb::arg("salinity_cap_wt"),
        nb::arg("phase_salinity_limit_wt"), nb::arg("threads"),
        "The flash of every state into the rows and codes that flash_layout names.");
  m.def("stability", &Stability, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("x_CO2"),
        nb::arg("x_H2O"), nb::arg("x_NaCl"), nb::arg("rows"), nb::arg("codes"),
        nb::arg("salinity_cap_wt"), nb::arg("threads"),
        "The stability test of every state into the rows and codes stability_layout names.");
  m.def("one_phase_limit", &OnePhaseLimit, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("wt_NaCl"),
        nb::arg("rows"), nb::arg("codes"), nb::arg("salinity_cap_wt"), nb::arg("threads"),
        "The one-phase limit of every section into the rows and codes limit_layout names.");
  // Functions, not attributes, so that the stubs carry their types.
  m.def("flash_layout", [] { return Names(FlashLayout()); });
  m.def("stability_layout", [] { return Names(StabilityLayout()); });
  m.def("limit_layout", [] { return Names(LimitLayout()); });
  using quarn::FlashStatus, quarn::Undecided, quarn::Stability, quarn::LimitStatus;
  m.def("flash_statuses", [] {
    return NamesOf({FlashStatus::kOnePhase, FlashStatus::kBrineAndCO2Rich, FlashStatus::kSaltSplit,
                    FlashStatus::kUndecided, FlashStatus::kThreePhases},
                   quarn::FlashStatusName);
  });
  m.def("undecided_reasons", [] {
    return NamesOf({Undecided::kNo, Undecided::kInvalidFeed, Undecided::kModelFailed,
                    Undecided::kFeedBeyondCap, Undecided::kPhaseBeyondLimit,
                    Undecided::kNotConverged, Undecided::kNotGlobal, Undecided::kInvalidConditions},
                   quarn::UndecidedName);
  });
  m.def("stability_verdicts", [] {
    return NamesOf({Stability::kStable, Stability::kUnstable, Stability::kUndecided},
                   quarn::StabilityName);
  });
  m.def("limit_statuses", [] {
    return NamesOf({LimitStatus::kFound, LimitStatus::kNoLimit, LimitStatus::kUndecided},
                   quarn::LimitStatusName);
  });
  m.def("domain_bits", [] {
    return std::map<std::string, unsigned>{
        {"temperature_outside_range", quarn::kTemperatureOutsideRange},
        {"pressure_outside_range", quarn::kPressureOutsideRange},
        {"feed_beyond_cap", quarn::kFeedBeyondCap},
        {"feed_normalised", quarn::kFeedNormalised},
        {"phase_beyond_cap", quarn::kPhaseBeyondCap}};
  });
}

}  // namespace quarn::python
