// The public batch calls: each layout described as a slice (pointers and
// strides), contiguous parts of it on as many threads, each part evaluated by
// the loop of the active instruction set.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "eos/batch_slice.hpp"
#include "eos/trkmix.hpp"
#include "quarn/eos.hpp"
#include "quarn/internal/parts.hpp"

namespace quarn {
namespace {

// A column with one value for all points or one each.
bool Fits(std::span<const double> column, std::size_t n) {
  return column.size() == 1 || column.size() == n;
}
// An output column that may be left out.
bool Optional(std::span<double> column, std::size_t n) {
  return column.empty() || column.size() == n;
}

batch::InColumn In(std::span<const double> column) {
  return {column.data(), column.size() == 1 ? std::size_t{0} : std::size_t{1}};
}
batch::OutColumn Out(std::span<double> column) {
  return {column.empty() ? nullptr : column.data(), 1};
}

constexpr std::size_t kCompositionStride = sizeof(Composition) / sizeof(double);
constexpr std::size_t kResultStride = sizeof(Result) / sizeof(double);
static_assert(sizeof(Composition) == 3 * sizeof(double));
static_assert(sizeof(Result) == 8 * sizeof(double));

// Points as an array of compositions with the conditions in columns.
bool Describe(std::span<const double> T_K, std::span<const double> P_atm,
              std::span<const Composition> x, std::span<Result> results, std::span<Fault> faults,
              batch::Slice& slice) {
  const std::size_t n = x.size();
  if (results.size() != n || faults.size() != n || !Fits(T_K, n) || !Fits(P_atm, n)) return false;
  const double* fractions = reinterpret_cast<const double*>(x.data());
  double* values = reinterpret_cast<double*>(results.data());
  auto field = [&](std::size_t offset) { return batch::OutColumn{values + offset, kResultStride}; };
  slice = {In(T_K),
           In(P_atm),
           {fractions, kCompositionStride},
           {fractions + 1, kCompositionStride},
           {fractions + 2, kCompositionStride},
           {field(0), field(1), field(2)},
           field(3),
           field(4),
           {field(5), field(6), field(7)},
           faults.data(),
           Method::kReportExact};
  return true;
}

// Points as columns.
bool Describe(const StateColumns& in, const ResultColumns& out, std::size_t& n,
              batch::Slice& slice) {
  n = std::max(
      {in.T_K.size(), in.P_atm.size(), in.x_CO2.size(), in.x_H2O.size(), in.x_NaCl.size()});
  if (!(Fits(in.T_K, n) && Fits(in.P_atm, n) && Fits(in.x_CO2, n) && Fits(in.x_H2O, n) &&
        Fits(in.x_NaCl, n) && out.phi_CO2.size() == n && out.phi_H2O.size() == n &&
        out.phi_NaCl.size() == n && out.Z.size() == n && out.V_cm3_per_mol.size() == n &&
        out.faults.size() == n && Optional(out.ln_phi_CO2, n) && Optional(out.ln_phi_H2O, n) &&
        Optional(out.ln_phi_NaCl, n)))
    return false;
  slice = {In(in.T_K),
           In(in.P_atm),
           In(in.x_CO2),
           In(in.x_H2O),
           In(in.x_NaCl),
           {Out(out.phi_CO2), Out(out.phi_H2O), Out(out.phi_NaCl)},
           Out(out.Z),
           Out(out.V_cm3_per_mol),
           {Out(out.ln_phi_CO2), Out(out.ln_phi_H2O), Out(out.ln_phi_NaCl)},
           out.faults.data(),
           Method::kReportExact};
  return true;
}

void Run(const batch::Slice& slice, std::size_t n, unsigned threads) noexcept {
  RunInParts(0, n, PartCount(n, threads), [&slice](std::size_t, std::size_t from, std::size_t to) {
    batch::EvaluateSlice(slice, from, to);
  });
}

double At(const batch::InColumn& c, std::size_t i) {
  return c.data[i * c.stride];
}
void Put(const batch::OutColumn& c, std::size_t i, double value) {
  if (c.data) c.data[i * c.stride] = value;
}

}  // namespace

namespace batch {

void EvaluatePointScalar(const Slice& s, std::size_t i, const TemperatureTerms& t) {
  Result result;
  Fault fault;
  const std::array<double, 3> x = {At(s.x_CO2, i), At(s.x_H2O, i), At(s.x_NaCl, i)};
  if (s.method == Method::kUnrounded) {
    TRKMIXUnrounded(t, At(s.P_atm, i), x, result, fault);
  } else {
    TRKMIX(t, At(s.P_atm, i), x, result, fault);
  }
  for (int j = 0; j < 3; ++j) {
    Put(s.phi[j], i, result.phi[j]);
    Put(s.ln_phi[j], i, result.ln_phi[j]);
  }
  Put(s.Z, i, result.Z);
  Put(s.V_cm3_per_mol, i, result.V_cm3_per_mol);
  s.faults[i] = fault;
}

void EvaluateScalar(const Slice& s, std::size_t begin, std::size_t end) {
  TemperatureTerms t{};
  std::uint64_t t_bits = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const double T_K = At(s.T_K, i);
    // Bitwise, so that a NaN temperature is still worked out once.
    if (i == begin || std::bit_cast<std::uint64_t>(T_K) != t_bits) {
      t = ComputeTemperatureTerms(T_K);
      t_bits = std::bit_cast<std::uint64_t>(T_K);
    }
    EvaluatePointScalar(s, i, t);
  }
}

}  // namespace batch

bool EvaluateBatch(double T_K, double P_atm, std::span<const Composition> x,
                   std::span<Result> results, std::span<Fault> faults, unsigned threads) noexcept {
  return EvaluateBatch({&T_K, 1}, {&P_atm, 1}, x, results, faults, threads);
}

bool EvaluateBatch(std::span<const double> T_K, std::span<const double> P_atm,
                   std::span<const Composition> x, std::span<Result> results,
                   std::span<Fault> faults, unsigned threads) noexcept {
  batch::Slice slice;
  if (!Describe(T_K, P_atm, x, results, faults, slice)) return false;
  Run(slice, x.size(), threads);
  return true;
}

bool Conditions::EvaluateBatch(std::span<const Composition> x, std::span<Result> results,
                               std::span<Fault> faults, Method method) const noexcept {
  batch::Slice slice;
  if (!Describe({&temperature_terms_.T_K, 1}, {&P_atm_, 1}, x, results, faults, slice))
    return false;
  slice.method = method;
  batch::EvaluateSlice(slice, 0, x.size());
  return true;
}

bool EvaluateBatch(const StateColumns& states, const ResultColumns& results,
                   unsigned threads) noexcept {
  batch::Slice slice;
  std::size_t n = 0;
  if (!Describe(states, results, n, slice)) return false;
  Run(slice, n, threads);
  return true;
}

}  // namespace quarn
