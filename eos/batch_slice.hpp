// A slice of a batch as the evaluation loops see it, whatever the caller's
// layout: each input and output a pointer and a stride in doubles, and the
// loops that evaluate it, one per instruction set, chosen at run time.
#pragma once

#include <cstddef>

#include "quarn/eos.hpp"
#include "quarn/internal/simd_path.hpp"

namespace quarn::batch {

// Point i's value is data[i * stride]: stride 0 for one value for all points,
// 1 for a column, 3 for a field of an array of Composition.
struct InColumn {
  const double* data;
  std::size_t stride;
};
// Point i's value goes to data[i * stride]; a null data leaves it out.
struct OutColumn {
  double* data;
  std::size_t stride;
};

// A plain aggregate (no member functions), so that the loops built for other
// instruction sets share no out-of-line code with the rest of the library.
struct Slice {
  InColumn T_K, P_atm, x_CO2, x_H2O, x_NaCl;
  OutColumn phi[3], Z, V_cm3_per_mol, ln_phi[3];
  Fault* faults;
  Method method;
};

// Evaluates points [begin, end) of the slice, each exactly as Evaluate would.
void EvaluateScalar(const Slice& slice, std::size_t begin, std::size_t end);
// Point i alone, with the terms of its temperature.
void EvaluatePointScalar(const Slice& slice, std::size_t i, const internal::TemperatureTerms& t);
#if defined(__x86_64__) && defined(__GNUC__)
#define QUARN_SIMD_PATHS 1
void EvaluateAvx2(const Slice& slice, std::size_t begin, std::size_t end);
void EvaluateAvx512(const Slice& slice, std::size_t begin, std::size_t end);
#else
#define QUARN_SIMD_PATHS 0
#endif

// The loop of the active path.
void EvaluateSlice(const Slice& slice, std::size_t begin, std::size_t end);
// The loop of `path`, which the processor must offer.
void EvaluateOn(SimdPath path, const Slice& slice, std::size_t begin, std::size_t end);

}  // namespace quarn::batch
