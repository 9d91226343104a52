// The run-file reader over a file's descriptor, by the console's rules, and the
// console's message texts.
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/tuple.h>

#include <array>
#include <cstring>
#include <deque>
#include <memory>
#include <tuple>

#include "bindings.hpp"
#include "quarn/internal/records.hpp"

namespace quarn::python {
namespace {

// The longest line the package reads from a run file. The console program takes
// lines as long as memory allows; the package stops an input that never ends a
// line (a device, an endless pipe) here, with the same message (22).
constexpr std::size_t kLongestRunFileLine = std::size_t{64} << 20;

// Compositions read between two looks for a pending signal.
constexpr std::size_t kCompositionsBetweenSignalChecks = std::size_t{1} << 16;

// The run file's unit, named in the console's messages.
constexpr int kRunFileUnit = 10;

using CompositionRows = nb::ndarray<nb::numpy, double, nb::shape<-1, 3>>;

// Reads a run file from an open descriptor by the program's rules. Returns the
// message number of the failure (0 when the file ended normally), the system's
// error code behind it, the line it met it on, T and P as their 32-bit values,
// and the compositions read, one per row. The compositions are kept in blocks
// and copied once into the result, so that at most about twice the result is
// held at once.
std::tuple<int, int, std::size_t, float, float, CompositionRows> ReadRunFile(int fd) {
  text::RecordReader reader =
      text::RecordReader::FromDescriptor(fd, kRunFileUnit, kLongestRunFileLine);
  float T = 0.0f, P = 0.0f;
  std::deque<std::array<double, 3>> compositions;
  text::ReadOutcome outcome;
  {
    nb::gil_scoped_release unlocked;
    outcome = reader.ReadConditions(T, P);
  }
  std::array<double, 3> x = {0.0, 0.0, 0.0};
  while (outcome.kind == text::ReadOutcome::Kind::kComplete) {
    {
      nb::gil_scoped_release unlocked;
      for (std::size_t k = 0; k < kCompositionsBetweenSignalChecks; ++k) {
        outcome = reader.ReadComposition(x);
        if (outcome.kind != text::ReadOutcome::Kind::kComplete) break;
        compositions.push_back(x);
      }
    }
    CheckSignals();
  }
  const std::size_t n = compositions.size();
  auto values = std::make_unique<double[]>(3 * n + 1);
  for (std::size_t i = 0; i < n; ++i) std::memcpy(&values[3 * i], compositions[i].data(), 24);
  compositions.clear();
  compositions.shrink_to_fit();
  double* data = values.release();
  nb::capsule owner(data, [](void* p) noexcept { delete[] static_cast<double*>(p); });
  return {outcome.message,
          outcome.os_error,
          reader.LinesTaken(),
          T,
          P,
          CompositionRows(data, {n, 3}, owner)};
}

}  // namespace

void BindRunFile(nb::module_& m) {
  m.def("read_run_file", &ReadRunFile, nb::arg("fd"),
        "Reads a run file from a descriptor: (message, os_error, line, T, P, compositions).");
  m.def("io_message", &text::IoMessageText, nb::arg("message"), nb::arg("unit"), nb::arg("path"),
        "The console's text of an input/output message.");
}

}  // namespace quarn::python
