// Compositions from the CO2 fraction and the solvent's salinity, by the
// library's conversion (the one the equilibrium calls and the page use), and
// the model's molar masses.
#include <nanobind/ndarray.h>

#include "bindings.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn::python {
namespace {

using Out = nb::ndarray<double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// x_H2O and x_NaCl of the compositions with equal-length columns x_CO2 (kept
// as given) and wt_NaCl.
void FromSalinity(const Column& x_CO2, const Column& wt_NaCl, Out x_H2O, Out x_NaCl) {
  const std::size_t n = x_CO2.shape(0);
  if (wt_NaCl.shape(0) != n || x_H2O.shape(0) != n || x_NaCl.shape(0) != n)
    throw nb::value_error("the arrays differ in length");
  for (std::size_t i = 0; i < n; ++i) {
    const Composition x = CompositionFromSalinity(x_CO2(i), wt_NaCl(i));
    x_H2O(i) = x.x_H2O;
    x_NaCl(i) = x.x_NaCl;
  }
}

}  // namespace

void BindComposition(nb::module_& m) {
  m.def("composition_from_salinity", &FromSalinity, nb::arg("x_CO2"), nb::arg("wt_NaCl"),
        nb::kw_only(), nb::arg("x_H2O"), nb::arg("x_NaCl"),
        "The mole fractions of H2O and NaCl, into the arrays named.");
  m.attr("molar_mass_H2O") = kMolarMassH2O;
  m.attr("molar_mass_NaCl") = kMolarMassNaCl;
}

}  // namespace quarn::python
