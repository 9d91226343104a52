// The fluid-inclusion batch calls over NumPy columns: the model's a and b,
// points of isochores and activities, each answer spread over named rows and
// codes (answer_layout.hpp).
#include <nanobind/ndarray.h>
#include <nanobind/stl/map.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "answer_layout.hpp"
#include "bindings.hpp"
#include "quarn/fluid.hpp"
#include "quarn/internal/parts.hpp"

namespace quarn::python {
namespace {

// Points between two looks for Ctrl-C: a point costs up to three evaluations.
constexpr std::size_t kPointsPerPart = std::size_t{1} << 14;

template <class Answer>
void AddFault(Layout<Answer>& l) {
  l.Code("fault", [](const Answer& r) { return r.fault.number; });
  l.Code("fault_function", [](const Answer& r) { return AsCode(r.fault.function); });
}

const Layout<RedlichKwongParameters>& ParametersLayout() {
  using R = RedlichKwongParameters;
  static const Layout<R> layout = [] {
    Layout<R> l;
    l.Row("a", [](const R& r) { return r.a; });
    l.Row("b", [](const R& r) { return r.b; });
    AddFault(l);
    return l;
  }();
  return layout;
}

const Layout<IsochorePoint>& IsochoreLayout() {
  using R = IsochorePoint;
  static const Layout<R> layout = [] {
    Layout<R> l;
    l.Row("P_bar", [](const R& r) { return r.P_bar; });
    l.Row("dP_dV", [](const R& r) { return r.dP_dV; });
    l.Code("flags", [](const R& r) { return static_cast<std::int32_t>(r.flags); });
    AddFault(l);
    return l;
  }();
  return layout;
}

const Layout<Activities>& ActivitiesLayout() {
  using R = Activities;
  static const Layout<R> layout = [] {
    Layout<R> l;
    l.Row("a_H2O", [](const R& r) { return r.a_H2O; });
    l.Row("a_CO2", [](const R& r) { return r.a_CO2; });
    l.Row("gamma_NaCl", [](const R& r) { return r.gamma_NaCl; });
    l.Row("a_NaCl", [](const R& r) { return r.a_NaCl; });
    l.Row("phi_H2O_pure", [](const R& r) { return r.phi_H2O_pure; });
    l.Row("phi_CO2_pure", [](const R& r) { return r.phi_CO2_pure; });
    l.Row("phi_NaCl_infinite_dilution", [](const R& r) { return r.phi_NaCl_infinite_dilution; });
    AddFault(l);
    return l;
  }();
  return layout;
}

// Each boundary's rows and codes, numbered from 0; NaN and 0 past the count.
const Layout<PhaseBoundaries>& BoundariesLayout() {
  using R = PhaseBoundaries;
  static const Layout<R> layout = [] {
    Layout<R> l;
    for (int k = 0; k < kMostBoundaries; ++k) {
      const std::string n = "_" + std::to_string(k);
      auto row = [k](double (*read)(const PhaseBoundary&)) {
        return [k, read](const R& r) {
          return k < r.count ? read(r.boundaries[k]) : std::numeric_limits<double>::quiet_NaN();
        };
      };
      l.Row("T_K" + n, row([](const PhaseBoundary& b) { return b.T_K; }));
      l.Row("P_atm" + n, row([](const PhaseBoundary& b) { return b.P_atm; }));
      l.Row("bracket" + n, row([](const PhaseBoundary& b) { return b.bracket; }));
      l.Row("V" + n, row([](const PhaseBoundary& b) { return b.V_cm3_per_mol; }));
      l.Row("rho" + n, row([](const PhaseBoundary& b) { return b.rho_g_per_cm3; }));
      l.Row("incipient_x_CO2" + n, row([](const PhaseBoundary& b) { return b.incipient.x_CO2; }));
      l.Row("incipient_x_H2O" + n, row([](const PhaseBoundary& b) { return b.incipient.x_H2O; }));
      l.Row("incipient_x_NaCl" + n, row([](const PhaseBoundary& b) { return b.incipient.x_NaCl; }));
      l.Row("incipient_wt_NaCl" + n,
            row([](const PhaseBoundary& b) { return b.incipient_wt_NaCl; }));
      l.Code("one_phase_above" + n, [k](const R& r) {
        return static_cast<std::int32_t>(k < r.count && r.boundaries[k].one_phase_above);
      });
    }
    l.Code("count", [](const R& r) { return static_cast<std::int32_t>(r.count); });
    l.Code("more", [](const R& r) { return static_cast<std::int32_t>(r.more); });
    l.Code("first", [](const R& r) { return AsCode(r.first); });
    l.Code("last", [](const R& r) { return AsCode(r.last); });
    l.Code("undecided_steps",
           [](const R& r) { return static_cast<std::int32_t>(r.undecided_steps); });
    l.Code("stability_tests",
           [](const R& r) { return static_cast<std::int32_t>(r.stability_tests); });
    return l;
  }();
  return layout;
}

// A scan takes some hundred stability tests: a look for Ctrl-C after each few.
constexpr std::size_t kScansPerPart = 4;

BoundaryScan ScanOptions(double step, double tolerance, double cap_wt) {
  BoundaryScan scan;
  scan.step = step;
  scan.tolerance = tolerance;
  scan.equilibrium.salinity_cap_wt = cap_wt;
  return scan;
}

void AlongPressure(Column T_C, Column x_CO2, Column x_H2O, Column x_NaCl, Rows rows, Codes codes,
                   double P_low_bar, double P_high_bar, double step_bar, double tolerance_bar,
                   double cap_wt, unsigned threads) {
  const BoundaryScan scan = ScanOptions(AtmFromBar(step_bar), AtmFromBar(tolerance_bar), cap_wt);
  FillAnswers(BoundariesLayout(), {&T_C, &x_CO2, &x_H2O, &x_NaCl}, rows, codes,
              kScansPerPart * ThreadCount(threads),
              [&](std::size_t begin, std::size_t end, std::vector<PhaseBoundaries>& out) {
                return BoundariesAlongPressureBatch(
                    Kelvin(Part(T_C, begin, end)), Part(x_CO2, begin, end), Part(x_H2O, begin, end),
                    Part(x_NaCl, begin, end), AtmFromBar(P_low_bar), AtmFromBar(P_high_bar), out,
                    scan, threads);
              });
}

void AlongIsochore(Column x_CO2, Column x_H2O, Column x_NaCl, Column V, Rows rows, Codes codes,
                   double T_low_C, double T_high_C, double step_K, double tolerance_K,
                   double cap_wt, unsigned threads) {
  const BoundaryScan scan = ScanOptions(step_K, tolerance_K, cap_wt);
  FillAnswers(BoundariesLayout(), {&x_CO2, &x_H2O, &x_NaCl, &V}, rows, codes,
              kScansPerPart * ThreadCount(threads),
              [&](std::size_t begin, std::size_t end, std::vector<PhaseBoundaries>& out) {
                return BoundariesAlongIsochoreBatch(
                    Part(x_CO2, begin, end), Part(x_H2O, begin, end), Part(x_NaCl, begin, end),
                    Part(V, begin, end), KelvinFromCelsius(T_low_C), KelvinFromCelsius(T_high_C),
                    out, scan, threads);
              });
}

void MixtureParameters(Column T_C, Column x_CO2, Column x_H2O, Column x_NaCl, Rows rows,
                       Codes codes, unsigned threads) {
  FillAnswers(ParametersLayout(), {&T_C, &x_CO2, &x_H2O, &x_NaCl}, rows, codes, kPointsPerPart,
              [&](std::size_t begin, std::size_t end, std::vector<RedlichKwongParameters>& out) {
                const std::span<const double> T = Part(T_C, begin, end);
                const std::span<const double> x[3] = {
                    Part(x_CO2, begin, end), Part(x_H2O, begin, end), Part(x_NaCl, begin, end)};
                RunInParts(
                    0, out.size(), PartCount(out.size(), threads),
                    [&](std::size_t, std::size_t from, std::size_t to) {
                      for (std::size_t i = from; i < to; ++i) {
                        out[i] = Conditions(KelvinFromCelsius(ColumnValue(T, i)), 1.0)
                                     .MixtureParameters({ColumnValue(x[0], i), ColumnValue(x[1], i),
                                                         ColumnValue(x[2], i)});
                      }
                    });
                return true;
              });
}

void Isochore(Column T_C, Column x_CO2, Column x_H2O, Column x_NaCl, Column V, Rows rows,
              Codes codes, unsigned threads) {
  FillAnswers(IsochoreLayout(), {&T_C, &x_CO2, &x_H2O, &x_NaCl, &V}, rows, codes, kPointsPerPart,
              [&](std::size_t begin, std::size_t end, std::vector<IsochorePoint>& out) {
                return IsochoreBatch(Kelvin(Part(T_C, begin, end)), Part(x_CO2, begin, end),
                                     Part(x_H2O, begin, end), Part(x_NaCl, begin, end),
                                     Part(V, begin, end), out, threads);
              });
}

void ActivitiesOf(Column T_C, Column P_bar, Column x_CO2, Column x_H2O, Column x_NaCl, Rows rows,
                  Codes codes, unsigned threads) {
  FillAnswers(ActivitiesLayout(), {&T_C, &P_bar, &x_CO2, &x_H2O, &x_NaCl}, rows, codes,
              kPointsPerPart,
              [&](std::size_t begin, std::size_t end, std::vector<Activities>& out) {
                return ActivitiesBatch(Kelvin(Part(T_C, begin, end)), Atm(Part(P_bar, begin, end)),
                                       Part(x_CO2, begin, end), Part(x_H2O, begin, end),
                                       Part(x_NaCl, begin, end), out, threads);
              });
}

}  // namespace

void BindFluid(nb::module_& m) {
  m.def("mixture_parameters", &MixtureParameters, nb::arg("T_C"), nb::arg("x_CO2"),
        nb::arg("x_H2O"), nb::arg("x_NaCl"), nb::arg("rows"), nb::arg("codes"), nb::arg("threads"),
        "The method's a and b into the rows named by mixture_parameters_layout.");
  m.def("isochore", &Isochore, nb::arg("T_C"), nb::arg("x_CO2"), nb::arg("x_H2O"),
        nb::arg("x_NaCl"), nb::arg("V"), nb::arg("rows"), nb::arg("codes"), nb::arg("threads"),
        "The model's pressure at T and V, into the rows named by isochore_layout.");
  m.def("activities", &ActivitiesOf, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("x_CO2"),
        nb::arg("x_H2O"), nb::arg("x_NaCl"), nb::arg("rows"), nb::arg("codes"), nb::arg("threads"),
        "Activities into the rows named by activities_layout.");
  m.def("boundaries_along_pressure", &AlongPressure, nb::arg("T_C"), nb::arg("x_CO2"),
        nb::arg("x_H2O"), nb::arg("x_NaCl"), nb::arg("rows"), nb::arg("codes"),
        nb::arg("P_low_bar"), nb::arg("P_high_bar"), nb::arg("step_bar"), nb::arg("tolerance_bar"),
        nb::arg("salinity_cap"), nb::arg("threads"),
        "Phase boundaries along the pressure, into the rows named by boundaries_layout.");
  m.def("boundaries_along_isochore", &AlongIsochore, nb::arg("x_CO2"), nb::arg("x_H2O"),
        nb::arg("x_NaCl"), nb::arg("V"), nb::arg("rows"), nb::arg("codes"), nb::arg("T_low_C"),
        nb::arg("T_high_C"), nb::arg("step_K"), nb::arg("tolerance_K"), nb::arg("salinity_cap"),
        nb::arg("threads"),
        "Phase boundaries along an isochore, into the rows named by boundaries_layout.");
  m.def("boundaries_layout", [] { return Names(BoundariesLayout()); });
  m.attr("most_boundaries") = kMostBoundaries;
  m.def("mixture_parameters_layout", [] { return Names(ParametersLayout()); });
  m.def("isochore_layout", [] { return Names(IsochoreLayout()); });
  m.def("activities_layout", [] { return Names(ActivitiesLayout()); });
  m.def("isochore_flags", [] {
    return std::map<std::string, std::int32_t>{
        {"below_500_bar", static_cast<std::int32_t>(kIsochoreBelow500Bar)},
        {"mechanically_unstable", static_cast<std::int32_t>(kIsochoreMechanicallyUnstable)},
        {"not_largest_root", static_cast<std::int32_t>(kIsochoreNotLargestRoot)}};
  });
  m.def("standard_molar_masses", [] {
    return std::map<std::string, double>{{"CO2", kStandardMolarMassCO2},
                                         {"H2O", kStandardMolarMassH2O},
                                         {"NaCl", kStandardMolarMassNaCl}};
  });
}

}  // namespace quarn::python
