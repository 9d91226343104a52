// The package's compiled core: the batch call over NumPy arrays with the GIL
// released, and the run-file reader over a file's bytes. Faults come back as
// arrays and statuses; the Python side raises.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "elementary/correctly_rounded.hpp"
#include "eos/batch_slice.hpp"
#include "eos/parts.hpp"
#include "equilibrium.hpp"
#include "quarn/eos.hpp"
#include "textio/free_format_read.hpp"
#include "textio/messages.hpp"

namespace nb = nanobind;

namespace {

using Column = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using Rows = nb::ndarray<double, nb::shape<11, -1>, nb::c_contig, nb::device::cpu>;
using FaultNumbers = nb::ndarray<std::int32_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using FaultFunctions = nb::ndarray<std::uint8_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// The fault's function travels to Python as its enumeration value.
constexpr std::uint8_t kFunctionCount = static_cast<std::uint8_t>(quarn::MathFunction::kPower) + 1;

const char* FunctionName(std::uint8_t function) {
  return function < kFunctionCount
             ? quarn::MathFunctionName(static_cast<quarn::MathFunction>(function))
             : "";
}

// Points between two looks for a pending signal (Ctrl-C): some 25 ms of work on
// two cores, so that Ctrl-C is answered promptly on a loaded machine too.
constexpr std::size_t kPointsBetweenSignalChecks = std::size_t{1} << 18;

// Runs Python's handlers of the signals that arrived while the GIL was released;
// a handler that raises (KeyboardInterrupt) ends the call with its exception.
void CheckSignals() {
  if (PyErr_CheckSignals() != 0) throw nb::python_error();
}

// The part [begin, end) of a column with one value for all points or one per point.
std::span<const double> Part(const Column& c, std::size_t begin, std::size_t end) {
  return c.shape(0) == 1 ? std::span<const double>(c.data(), 1)
                         : std::span<const double>(c.data() + begin, end - begin);
}

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
    const quarn::ResultColumns results = {
        {row[0] + begin, m}, {row[1] + begin, m}, {row[2] + begin, m},
        {row[6] + begin, m}, {row[7] + begin, m}, faults,
        {row[8] + begin, m}, {row[9] + begin, m}, {row[10] + begin, m}};
    if (!quarn::EvaluateBatch(states, results, 1)) return;  // lengths are checked before
    for (std::size_t k = 0; k < 3; ++k) {
      const double* phi = row[k] + begin;
      double* f = row[3 + k] + begin;
      for (std::size_t i = 0; i < m; ++i)
        f[i] = quarn::FugacityBar(quarn::ColumnValue(x[k], i), phi[i], quarn::ColumnValue(P, i));
    }
    for (std::size_t i = 0; i < m; ++i) {
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
// of `out` receive phi (CO2, H2O, NaCl), f = (x phi) P_bar (the same), Z, V and
// ln phi (the same); in_range whether the point lies in the stated range
// (T_low, T_high, P_low, sum_tolerance). Returns the number of failed points,
// the first, the number with fractions outside the range and the first (n
// where there is none).
// The points go in parts, with a look for signals between them, so that Ctrl-C
// ends a long call within a fraction of a second.
std::tuple<std::size_t, std::size_t, std::size_t, std::size_t> Evaluate(
    Column T_C, Column P_bar, Column x_CO2, Column x_H2O, Column x_NaCl, Rows out,
    FaultNumbers fault_numbers, FaultFunctions fault_functions, Flags in_range,
    std::tuple<double, double, double, double> stated_range, unsigned threads) {
  const std::size_t n = out.shape(1);
  for (const Column* c : {&T_C, &P_bar, &x_CO2, &x_H2O, &x_NaCl}) {
    if (c->shape(0) != 1 && c->shape(0) != n) throw nb::value_error("the arrays differ in length");
  }
  if (fault_numbers.shape(0) != n || fault_functions.shape(0) != n || in_range.shape(0) != n)
    throw nb::value_error("the arrays differ in length");
  double* row[11];
  for (std::size_t k = 0; k < 11; ++k) row[k] = out.data() + k * n;
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

using Values = nb::ndarray<const double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using ConstFaultNumbers =
    nb::ndarray<const std::int32_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using ConstFaultFunctions =
    nb::ndarray<const std::uint8_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

using ConstFlags = nb::ndarray<const bool, nb::ndim<1>, nb::c_contig, nb::device::cpu>;
using Codes = nb::ndarray<const std::int32_t, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

void AppendShortest(double value, std::string& text) {
  char number[32];
  text.append(number,
              static_cast<std::size_t>(std::to_chars(number, number + 32, value).ptr - number));
}

// A failing function as the fault column and MathError word it:
// "exp: OVERFLOW error (6203)".
std::string FaultText(int number, std::string_view function) {
  std::string text(function);
  text.append(": ").append(quarn::MathKindName(number)).append(" error (");
  return text.append(std::to_string(number)).append(")");
}

// Each value in its shortest round-trip form.
std::vector<std::string> Shortest(Values values) {
  std::vector<std::string> out(values.shape(0));
  for (std::size_t i = 0; i < out.size(); ++i) AppendShortest(values(i), out[i]);
  return out;
}

// CSV rows: the text columns (each a list of texts and the index of a row's
// text in it), then the result columns in their shortest round-trip form
// (empty where the point failed), then the fault ("" or "exp: OVERFLOW error
// (6203)"), then whether the state is in the stated range ("true" or "false").
// Rows are split over two threads.
nb::bytes CsvRows(std::vector<std::pair<std::vector<std::string>, Codes>> texts,
                  std::vector<Values> results, ConstFaultNumbers fault_numbers,
                  ConstFaultFunctions fault_functions, ConstFlags in_range) {
  const std::size_t n = fault_numbers.shape(0);
  if (fault_functions.shape(0) != n || in_range.shape(0) != n)
    throw nb::value_error("the columns differ in length");
  for (const auto& [strings, codes] : texts) {
    if (codes.shape(0) != n) throw nb::value_error("the columns differ in length");
    for (std::size_t i = 0; i < n; ++i) {
      if (codes(i) < 0 || static_cast<std::size_t>(codes(i)) >= strings.size())
        throw nb::value_error("a text index is out of range");
    }
  }
  for (const Values& c : results) {
    if (c.shape(0) != n) throw nb::value_error("the columns differ in length");
  }
  // Each half is formatted straight into storage sized for its rows at their
  // longest: every text at its longest, every number at 24 characters (the
  // longest shortest form of a double), a fault text of at most 40.
  std::size_t row_bound = 40 + 25 * results.size() + 7;
  for (const auto& [strings, codes] : texts) {
    std::size_t longest = 0;
    for (const std::string& text : strings) longest = std::max(longest, text.size());
    row_bound += longest + 1;
  }
  // The storage is kept from call to call: a table's chunks are all about the
  // same size, and fresh pages for each would cost more than the digits. Each
  // calling thread has its own, so that no lock is needed: a lock held by one
  // thread while another forks would stay locked in the child for ever.
  thread_local std::unique_ptr<char[]> storage[2];
  thread_local std::size_t capacity[2] = {0, 0};
  const std::size_t bounds[2] = {n / 2, n};
  std::size_t lengths[2] = {0, 0};
  {
    nb::gil_scoped_release unlocked;
    for (int k = 0; k < 2; ++k) {
      const std::size_t needed = row_bound * (bounds[k] - (k == 0 ? 0 : bounds[0]));
      if (capacity[k] < needed) {
        storage[k].reset(new char[needed]);
        capacity[k] = needed;
      }
    }
    auto format = [&](std::size_t begin, std::size_t end, char* const start) {
      char* p = start;
      for (std::size_t i = begin; i < end; ++i) {
        const int fault = fault_numbers(i);
        for (const auto& [strings, codes] : texts) {
          const std::string& text = strings[codes(i)];
          std::memcpy(p, text.data(), text.size());
          p += text.size();
          *p++ = ',';
        }
        for (const Values& c : results) {
          if (fault == 0) p = std::to_chars(p, p + 24, c(i)).ptr;
          *p++ = ',';
        }
        if (fault != 0) {
          const std::string fault_text = FaultText(fault, FunctionName(fault_functions(i)));
          const std::size_t length = std::min<std::size_t>(fault_text.size(), 40);
          std::memcpy(p, fault_text.data(), length);
          p += length;
        }
        const std::string_view flag = in_range(i) ? ",true\n" : ",false\n";
        std::memcpy(p, flag.data(), flag.size());
        p += flag.size();
      }
      return static_cast<std::size_t>(p - start);
    };
    char* const second = storage[1].get();
    std::thread other;
    try {
      other = std::thread([&] { lengths[1] = format(bounds[0], bounds[1], second); });
    } catch (const std::system_error&) {  // no thread to be had: this one does both halves
      lengths[1] = format(bounds[0], bounds[1], second);
    }
    lengths[0] = format(0, bounds[0], storage[0].get());
    if (other.joinable()) other.join();
  }
  nb::bytes rows(nullptr, lengths[0] + lengths[1]);
  char* out = static_cast<char*>(PyBytes_AsString(rows.ptr()));
  // A half without rows may have no storage at all: nothing to copy then.
  if (lengths[0] > 0) std::memcpy(out, storage[0].get(), lengths[0]);
  if (lengths[1] > 0) std::memcpy(out + lengths[0], storage[1].get(), lengths[1]);
  return rows;
}

// The longest line the package reads from a run file. The console program takes
// lines as long as memory allows; the package stops an input that never ends a
// line (a device, an endless pipe) here, with the same message (22).
constexpr std::size_t kLongestRunFileLine = std::size_t{64} << 20;

// Compositions read between two looks for a pending signal.
constexpr std::size_t kCompositionsBetweenSignalChecks = std::size_t{1} << 16;

using CompositionRows = nb::ndarray<nb::numpy, double, nb::shape<-1, 3>>;

// Reads a run file from an open descriptor by the program's rules. Returns the
// message number of the failure (0 when the file ended normally), the system's
// error code behind it, the line it met it on, T and P as their 32-bit values,
// and the compositions read, one per row. The compositions are kept in blocks
// and copied once into the result, so that at most about twice the result is
// held at once.
std::tuple<int, int, std::size_t, float, float, CompositionRows> ReadRunFile(int fd) {
  quarn::Channel channel;
  channel.unit = 10;
  channel.fd = fd;
  channel.input.capacity_limit = kLongestRunFileLine;
  float T = 0.0f, P = 0.0f;
  std::deque<std::array<double, 3>> compositions;
  quarn::ReadStatus status;
  {
    nb::gil_scoped_release unlocked;
    status = quarn::ReadFreeFormat(channel, {T, P}, false);
  }
  std::array<double, 3> x = {0.0, 0.0, 0.0};
  while (status.result == quarn::ReadResult::kComplete) {
    {
      nb::gil_scoped_release unlocked;
      for (std::size_t k = 0; k < kCompositionsBetweenSignalChecks; ++k) {
        status = quarn::ReadFreeFormat(channel, {x[0], x[1], x[2]}, true);
        if (status.result != quarn::ReadResult::kComplete) break;
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
  return {status.error.message,
          status.error.os_error,
          channel.input.records_taken,
          T,
          P,
          CompositionRows(data, {n, 3}, owner)};
}

using Outputs = nb::ndarray<double, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// One of the model's correctly rounded elementary functions over a column (y is
// the exponent of pow, unused by the others), into out: for checking them
// against an independent high-precision evaluation.
void Elementary(std::string_view function, Values x, Values y, Outputs out) {
  namespace e = quarn::elementary;
  const std::size_t n = x.shape(0);
  if (y.shape(0) != n || out.shape(0) != n) throw nb::value_error("columns of unequal length");
  const double* xs = x.data();
  const double* ys = y.data();
  double* result = out.data();
  double (*unary)(double) = nullptr;
  if (function == "exp")
    unary = e::Exp;
  else if (function == "log")
    unary = e::Log;
  else if (function == "cos")
    unary = e::Cos;
  else if (function == "acos")
    unary = e::Acos;
  else if (function != "pow")
    throw nb::value_error("no such function");
  nb::gil_scoped_release unlocked;
  for (std::size_t i = 0; i < n; ++i) result[i] = unary ? unary(xs[i]) : e::Pow(xs[i], ys[i]);
}

}  // namespace

NB_MODULE(_core, m) {
  m.doc() = "The compiled core of quarn; use the functions of the quarn package.";
  m.def("evaluate", &Evaluate, nb::arg("T_C"), nb::arg("P_bar"), nb::arg("x_CO2"), nb::arg("x_H2O"),
        nb::arg("x_NaCl"), nb::arg("out"), nb::arg("fault_numbers"), nb::arg("fault_functions"),
        nb::arg("in_range"), nb::arg("stated_range"), nb::arg("threads"),
        "Fills the rows of out (phi x3, f x3, Z, V, ln phi x3), the fault arrays and in_range "
        "(stated_range: T_low, T_high, P_low, sum_tolerance) for every state; returns (failed "
        "points, the first, points with fractions out of range, the first).");
  m.def("read_run_file", &ReadRunFile, nb::arg("fd"),
        "Reads a run file from a descriptor: (message, os_error, line, T, P, compositions).");
  m.def("csv_rows", &CsvRows, nb::arg("texts"), nb::arg("results"), nb::arg("fault_numbers"),
        nb::arg("fault_functions"), nb::arg("in_range"),
        "CSV rows of the columns, results empty where a point failed.");
  m.def("fault_text", &FaultText, nb::arg("number"), nb::arg("function"),
        "A failing function as the fault column words it.");
  m.def("shortest", &Shortest, nb::arg("values"), "Each value in its shortest round-trip form.");
  m.def("io_message", &quarn::IoMessageText, nb::arg("message"), nb::arg("unit"), nb::arg("path"),
        "The console's text of an input/output message.");
  m.def("function_name", &FunctionName, nb::arg("function"),
        "The name of a fault's function from its number in the fault_functions array.");
  m.def("elementary", &Elementary, nb::arg("function"), nb::arg("x"), nb::arg("y"), nb::arg("out"),
        "exp, log, pow, cos or acos, correctly rounded, of each x (pow: x to the y).");
  m.def(
      "simd_path", [] { return quarn::batch::SimdPathName(quarn::batch::ActiveSimdPath()); },
      "The evaluation loop the batch calls use: \"avx512\", \"avx2\" or \"scalar\".");
  m.def(
      "simd_path_note", [] { return std::string(quarn::batch::SimdPathNote()); },
      "Why the loop in use is not the widest the processor offers (QUARN_SIMD, or a loop that "
      "failed its self-test against the scalar loop); empty where it is.");
  BindEquilibrium(m);
}
