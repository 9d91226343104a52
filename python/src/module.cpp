// The package's compiled core: the module and its parts. Faults come back as
// arrays and statuses; the Python side raises.
#include "bindings.hpp"

NB_MODULE(_core, m) {
  m.doc() = "The compiled core of quarn; use the functions of the quarn package.";
  quarn::python::BindFugacityBatch(m);
  quarn::python::BindCsvRows(m);
  quarn::python::BindRunFile(m);
  quarn::python::BindElementaryCheck(m);
  quarn::python::BindEquilibrium(m);
  quarn::python::BindComposition(m);
  quarn::python::BindFluid(m);
}
