// Compositions from the CO2 fraction and the solvent's salinity, by the
// library's conversion (the one the equilibrium calls and the page use), and
// the model's molar masses.
#include <nanobind/ndarray.h>

#include "bindings.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn::python {
namespace {

using Rows = nb::ndarray<double, nb::ndim<2>, nb::c_contig, nb::device::cpu>;

// Rows x_CO2, x_H2O and x_NaCl of `out` for equal-length columns.
void FromSalinity(const Column& x_CO2, const Column& wt_NaCl, Rows out) {
  const std::size_t n = x_CO2.shape(0);
  if (wt_NaCl.shape(0) != n) throw nb::value_error("the arrays differ in length");
  if (out.shape(0) != 3 || out.shape(1) != n)
    throw nb::value_error("the output array does not fit");
  double* rows = out.data();
  for (std::size_t i = 0; i < n; ++i) {
    const Composition x = CompositionFromSalinity(x_CO2(i), wt_NaCl(i));
    rows[i] = x.x_CO2;
    rows[n + i] = x.x_H2O;
    rows[2 * n + i] = x.x_NaCl;
  }
}

}  // namespace

void BindComposition(nb::module_& m) {
  m.def("composition_from_salinity", &FromSalinity, nb::arg("x_CO2"), nb::arg("wt_NaCl"),
        nb::arg("out"), "Mole fractions of CO2, H2O and NaCl into the rows of out.");
  m.attr("molar_mass_H2O") = kMolarMassH2O;
  m.attr("molar_mass_NaCl") = kMolarMassNaCl;
}

}  // namespace quarn::python
