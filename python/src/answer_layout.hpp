// How the batch calls of the compiled core hand their answers to Python: each
// answer spread over named rows of a float64 array and named columns of int32
// codes, filled part by part without the GIL, with a look for Ctrl-C between
// parts. The names are exported, and Python builds its results from them.
#pragma once

#include <nanobind/ndarray.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "bindings.hpp"
#include "quarn/internal/parts.hpp"

namespace quarn::python {

using Rows = nb::ndarray<double, nb::ndim<2>, nb::c_contig, nb::device::cpu>;
using Codes = nb::ndarray<std::int32_t, nb::ndim<2>, nb::c_contig, nb::device::cpu>;

inline void CheckLengths(std::initializer_list<const Column*> columns, std::size_t n,
                         const Rows& rows, std::size_t row_count, const Codes& codes,
                         std::size_t code_count) {
  for (const Column* c : columns) {
    if (c->shape(0) != 1 && c->shape(0) != n) throw nb::value_error("the arrays differ in length");
  }
  if (rows.shape(0) != row_count || rows.shape(1) != n || codes.shape(0) != code_count ||
      codes.shape(1) != n) {
    throw nb::value_error("the output arrays do not fit");
  }
}

inline std::vector<double> Kelvin(std::span<const double> T_C) {
  std::vector<double> T_K(T_C.size());
  std::transform(T_C.begin(), T_C.end(), T_K.begin(), quarn::KelvinFromCelsius);
  return T_K;
}

inline std::vector<double> Atm(std::span<const double> P_bar) {
  std::vector<double> P_atm(P_bar.size());
  std::transform(P_bar.begin(), P_bar.end(), P_atm.begin(), quarn::AtmFromBar);
  return P_atm;
}

// Runs `batch(begin, end)` part by part without the GIL, with Python's signal
// handlers run between parts.
template <class Batch>
void InParts(std::size_t n, std::size_t part, Batch batch) {
  for (std::size_t begin = 0; begin < n; begin += part) {
    const std::size_t end = std::min(n, begin + part);
    {
      nb::gil_scoped_release unlocked;
      batch(begin, end);
    }
    CheckSignals();
  }
}

// The layout of an answer in the arrays Python gets: a named row of float64
// for each number, a named column of int32 for each code. The names are
// exported, and Python builds its results from them, not from positions.
template <class Answer>
struct Layout {
  std::vector<std::string> row_names, code_names;
  std::vector<std::function<double(const Answer&)>> rows;
  std::vector<std::function<std::int32_t(const Answer&)>> codes;

  void Row(std::string name, std::function<double(const Answer&)> read) {
    row_names.push_back(std::move(name));
    rows.push_back(std::move(read));
  }
  void Code(std::string name, std::function<std::int32_t(const Answer&)> read) {
    code_names.push_back(std::move(name));
    codes.push_back(std::move(read));
  }
  // Answer j of a part goes to column begin + j, or to column order[begin + j].
  void Store(const std::vector<Answer>& answers, std::size_t begin,
             std::span<const std::size_t> order, Rows& out, Codes& out_codes) const {
    const std::size_t n = out.shape(1);
    auto column = [&](std::size_t j) { return order.empty() ? begin + j : order[begin + j]; };
    for (std::size_t k = 0; k < rows.size(); ++k) {
      double* row = out.data() + k * n;
      for (std::size_t j = 0; j < answers.size(); ++j) row[column(j)] = rows[k](answers[j]);
    }
    for (std::size_t k = 0; k < codes.size(); ++k) {
      for (std::size_t j = 0; j < answers.size(); ++j)
        out_codes(k, column(j)) = codes[k](answers[j]);
    }
  }
};

template <class Enum>
std::int32_t AsCode(Enum value) {
  return static_cast<std::int32_t>(value);
}

// A batch call over the points part by part, its answers stored by `layout`:
// `batch(begin, end, answers)` runs the library's batch form on points
// [begin, end) of `order` (empty: the points' own order).
template <class Answer, class Batch>
void FillAnswers(const Layout<Answer>& layout, std::initializer_list<const Column*> columns,
                 Rows& rows, Codes& codes, std::size_t part, Batch batch,
                 std::span<const std::size_t> order = {}) {
  const std::size_t n = rows.shape(1);
  CheckLengths(columns, n, rows, layout.rows.size(), codes, layout.codes.size());
  std::vector<Answer> answers;
  InParts(n, part, [&](std::size_t begin, std::size_t end) {
    answers.assign(end - begin, {});
    if (batch(begin, end, answers)) {
      layout.Store(answers, begin, order, rows, codes);
    }
  });
}

// The points of a phase batch in order of their T and P, and its columns
// gathered in that order: given part by part, the library makes each distinct
// T and P into conditions (trial grids included) once per part, however the
// points come. With one T and P the order is the points' own.
class ConditionsOrder {
 public:
  ConditionsOrder(const Column& T, const Column& P, std::size_t n) : n_(n) {
    order_ = OrderByConditions(Whole(T), Whole(P), n);
  }
  std::span<const std::size_t> order() const { return order_; }
  // The column in this order; a column of one value, or any column where the
  // order is the points' own, as it is.
  std::span<const double> Gather(const Column& c) {
    const std::span<const double> whole = Whole(c);
    if (whole.size() == 1 || order_.empty()) return whole;
    std::vector<double>& gathered = gathered_.emplace_back();
    gathered.reserve(n_);
    for (std::size_t i : order_) gathered.push_back(whole[i]);
    return gathered;
  }

 private:
  std::span<const double> Whole(const Column& c) const {
    if (c.shape(0) != 1 && c.shape(0) != n_) throw nb::value_error("the arrays differ in length");
    return {c.data(), c.shape(0)};
  }
  std::size_t n_;
  std::vector<std::size_t> order_;
  std::deque<std::vector<double>> gathered_;
};

// The part [begin, end) of a gathered column with one value for all points or one per point.
inline std::span<const double> Part(std::span<const double> c, std::size_t begin, std::size_t end) {
  return c.size() == 1 ? c : c.subspan(begin, end - begin);
}

// As a map of standard types, so that its type (dict[str, list[str]]) is known.
template <class Answer>
std::map<std::string, std::vector<std::string>> Names(const Layout<Answer>& layout) {
  return {{"rows", layout.row_names}, {"codes", layout.code_names}};
}

}  // namespace quarn::python
