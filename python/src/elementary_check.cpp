// The model's correctly rounded elementary functions over columns, for the
// package's checks against an independent high-precision evaluation.
#include "quarn/internal/elementary_check.hpp"

#include <nanobind/stl/string_view.h>

#include "bindings.hpp"

namespace quarn::python {
namespace {

using Values = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using Outputs = nb::ndarray<double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// One function over a column (y is the exponent of pow, unused by the others).
void Elementary(std::string_view function, Values x, Values y, Outputs out) {
  const std::size_t n = x.shape(0);
  if (y.shape(0) != n || out.shape(0) != n) throw nb::value_error("columns of unequal length");
  bool known;
  {
    nb::gil_scoped_release unlocked;
    known = elementary::EvaluateByName(function, {x.data(), n}, {y.data(), n}, {out.data(), n});
  }
  if (!known) throw nb::value_error("no such function");
}

}  // namespace

void BindElementaryCheck(nb::module_& m) {
  m.def("elementary", &Elementary, nb::arg("function"), nb::arg("x"), nb::arg("y"), nb::arg("out"),
        "exp, log, pow, cos or acos, correctly rounded, of each x (pow: x to the y).");
}

}  // namespace quarn::python
