// The package's compiled core, one concern a file, and what the files share:
// the NumPy column type, a part of a column, the look for Ctrl-C and the words
// of a fault. The core uses the library's public headers and its declared
// internal interface only.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "quarn/eos.hpp"
#include "quarn/internal/records.hpp"

namespace quarn::python {

namespace nb = nanobind;

using Column = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// The part [begin, end) of a column with one value for all points or one per point.
inline std::span<const double> Part(const Column& c, std::size_t begin, std::size_t end) {
  return c.shape(0) == 1 ? std::span<const double>(c.data(), 1)
                         : std::span<const double>(c.data() + begin, end - begin);
}

// Runs Python's handlers of the signals that arrived while the GIL was released;
// a handler that raises (KeyboardInterrupt) ends the call with its exception.
inline void CheckSignals() {
  if (PyErr_CheckSignals() != 0) throw nb::python_error();
}

// The fault's function travels to Python as its enumeration value; its name,
// empty for a value that names none.
inline const char* FunctionName(std::uint8_t function) {
  constexpr auto kCount = static_cast<std::uint8_t>(MathFunction::kPower) + 1;
  return function < kCount ? MathFunctionName(static_cast<MathFunction>(function)) : "";
}

// A failing function as the fault column and MathError word it:
// "exp: OVERFLOW error (6203)".
inline std::string FaultText(int number, std::string_view function) {
  return text::MathErrorText(number, function).append(" (").append(std::to_string(number)) + ")";
}

void BindFugacityBatch(nb::module_& m);    // fugacity_batch.cpp
void BindCsvRows(nb::module_& m);          // csv_rows.cpp
void BindRunFile(nb::module_& m);          // run_file.cpp
void BindElementaryCheck(nb::module_& m);  // elementary_check.cpp
void BindEquilibrium(nb::module_& m);      // equilibrium_batch.cpp
void BindComposition(nb::module_& m);      // composition.cpp
void BindFluid(nb::module_& m);            // fluid_batch.cpp

}  // namespace quarn::python
