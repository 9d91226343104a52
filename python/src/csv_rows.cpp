// CSV rows of a table's columns, formatted without the GIL, and numbers in
// their shortest round-trip form.
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "quarn/internal/parts.hpp"

namespace quarn::python {
namespace {

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
// Rows are formatted in two halves, on two threads.
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
  // The halves as the thread split makes them: [0, n/2) and [n/2, n).
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
    // Two halves, the first on a thread of its own where one can be had; the
    // storage is this thread's, so its addresses are taken here.
    char* const starts[2] = {storage[0].get(), storage[1].get()};
    RunInParts(0, n, 2, [&](std::size_t k, std::size_t from, std::size_t to) {
      lengths[k] = format(from, to, starts[k]);
    });
  }
  nb::bytes rows(nullptr, lengths[0] + lengths[1]);
  char* out = static_cast<char*>(PyBytes_AsString(rows.ptr()));
  // A half without rows may have no storage at all: nothing to copy then.
  if (lengths[0] > 0) std::memcpy(out, storage[0].get(), lengths[0]);
  if (lengths[1] > 0) std::memcpy(out + lengths[0], storage[1].get(), lengths[1]);
  return rows;
}

}  // namespace

void BindCsvRows(nb::module_& m) {
  m.def("csv_rows", &CsvRows, nb::arg("texts"), nb::arg("results"), nb::arg("fault_numbers"),
        nb::arg("fault_functions"), nb::arg("in_range"),
        "CSV rows of the columns, results empty where a point failed.");
  m.def("fault_text", &FaultText, nb::arg("number"), nb::arg("function"),
        "A failing function as the fault column words it.");
  m.def("shortest", &Shortest, nb::arg("values"), "Each value in its shortest round-trip form.");
  m.def("function_name", &FunctionName, nb::arg("function"),
        "The name of a fault's function from its number in the fault_functions array.");
}

}  // namespace quarn::python
