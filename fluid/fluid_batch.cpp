// The batch forms: contiguous slices of the points on as many threads (a
// phase boundary's scan, some hundred stability tests, is worth a thread alone).
#include <initializer_list>
#include <optional>

#include "fluid/activity_references.hpp"
#include "quarn/fluid.hpp"
#include "quarn/internal/parts.hpp"

namespace quarn {
namespace {

// A point of an isochore or of activities costs a few evaluations of the
// method: parts of a few hundred.
constexpr std::size_t kPointsPerPart = 512;

// work(i) for every point, parts of at least smallest_part points on their
// own threads.
template <class Work>
void ForEachPoint(std::size_t n, unsigned threads, std::size_t smallest_part, const Work& work) {
  RunInParts(0, n, PartCount(n, threads, smallest_part),
             [&work](std::size_t, std::size_t begin, std::size_t end) {
               for (std::size_t i = begin; i < end; ++i) work(i);
             });
}

Composition At(std::span<const double> x_CO2, std::span<const double> x_H2O,
               std::span<const double> x_NaCl, std::size_t i) {
  return {ColumnValue(x_CO2, i), ColumnValue(x_H2O, i), ColumnValue(x_NaCl, i)};
}

}  // namespace

bool IsochoreBatch(std::span<const double> T_K, std::span<const double> x_CO2,
                   std::span<const double> x_H2O, std::span<const double> x_NaCl,
                   std::span<const double> V_cm3_per_mol, std::span<IsochorePoint> points,
                   unsigned threads) noexcept {
  const std::size_t n = points.size();
  if (!ColumnsFit(n, {T_K, x_CO2, x_H2O, x_NaCl, V_cm3_per_mol})) return false;
  ForEachPoint(n, threads, kPointsPerPart, [&](std::size_t i) {
    points[i] = IsochorePressure(ColumnValue(T_K, i), At(x_CO2, x_H2O, x_NaCl, i),
                                 ColumnValue(V_cm3_per_mol, i));
  });
  return true;
}

bool ActivitiesBatch(std::span<const double> T_K, std::span<const double> P_atm,
                     std::span<const double> x_CO2, std::span<const double> x_H2O,
                     std::span<const double> x_NaCl, std::span<Activities> activities,
                     unsigned threads) noexcept {
  const std::size_t n = activities.size();
  if (!ColumnsFit(n, {T_K, P_atm, x_CO2, x_H2O, x_NaCl})) return false;
  // Each slice keeps its pure fluids while T and P stay the same.
  RunInParts(0, n, PartCount(n, threads, kPointsPerPart),
             [&](std::size_t, std::size_t begin, std::size_t end) {
               std::optional<fluid_detail::ActivityReferences> references;
               for (std::size_t i = begin; i < end; ++i) {
                 const double T = ColumnValue(T_K, i), P = ColumnValue(P_atm, i);
                 if (!references || !references->At(T, P)) references.emplace(T, P);
                 activities[i] = references->Of(At(x_CO2, x_H2O, x_NaCl, i));
               }
             });
  return true;
}

bool BoundariesAlongPressureBatch(std::span<const double> T_K, std::span<const double> x_CO2,
                                  std::span<const double> x_H2O, std::span<const double> x_NaCl,
                                  double P_low_atm, double P_high_atm,
                                  std::span<PhaseBoundaries> boundaries, const BoundaryScan& scan,
                                  unsigned threads) noexcept {
  const std::size_t n = boundaries.size();
  if (!ColumnsFit(n, {T_K, x_CO2, x_H2O, x_NaCl})) return false;
  ForEachPoint(n, threads, 1, [&](std::size_t i) {
    boundaries[i] = BoundariesAlongPressure(ColumnValue(T_K, i), At(x_CO2, x_H2O, x_NaCl, i),
                                            P_low_atm, P_high_atm, scan);
  });
  return true;
}

bool BoundariesAlongIsochoreBatch(std::span<const double> x_CO2, std::span<const double> x_H2O,
                                  std::span<const double> x_NaCl,
                                  std::span<const double> V_cm3_per_mol, double T_low_K,
                                  double T_high_K, std::span<PhaseBoundaries> boundaries,
                                  const BoundaryScan& scan, unsigned threads) noexcept {
  const std::size_t n = boundaries.size();
  if (!ColumnsFit(n, {x_CO2, x_H2O, x_NaCl, V_cm3_per_mol})) return false;
  ForEachPoint(n, threads, 1, [&](std::size_t i) {
    boundaries[i] = BoundariesAlongIsochore(At(x_CO2, x_H2O, x_NaCl, i),
                                            ColumnValue(V_cm3_per_mol, i), T_low_K, T_high_K, scan);
  });
  return true;
}

}  // namespace quarn
