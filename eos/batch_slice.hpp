// A slice of a batch as the evaluation loops see it, whatever the caller's
// layout: each input and output a pointer and a stride in doubles, and the
// loops that evaluate it, one per instruction set, chosen at run time.
#pragma once

#include <cstddef>

#include "quarn/eos.hpp"

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

// The evaluation loops: one state at a time, or four (AVX2 with FMA) or eight
// (AVX-512) in SIMD lanes. All give the same bits. The widest the processor
// offers is used, unless the environment variable QUARN_SIMD names another
// ("scalar", "avx2" or "avx512"), read once; a path the processor lacks is
// never used. Before a lane loop is first used it passes a self-test against
// the scalar loop; one that fails gives way to the next narrower.
enum class SimdPath { kScalar, kAvx2, kAvx512 };
const char* SimdPathName(SimdPath path);
bool Supports(SimdPath path);
SimdPath ActiveSimdPath();
// Why the path in use is not the widest the processor offers (QUARN_SIMD names
// another or one it lacks, or a loop failed its self-test), ending in the path
// in use; empty where it is the widest. Valid until the path is resolved again.
const char* SimdPathNote();
// Chooses the path again, from the environment and the self-tests, as the
// first batch call does. For tests.
void ResolveSimdPath();
// The known-answer self-test of a loop: a fixed table of states through it and
// through the scalar loop, every fault and number alike. `spoil` flips a bit
// of the loop's answer first, as a faulty loop would give (for the test of the
// fallback). True for the scalar loop; false for one the processor lacks.
bool PassesSelfTest(SimdPath path, bool spoil = false);
// Switches the batch calls to `path`; false (and nothing changed) where the
// processor lacks it. For tests that compare the paths.
bool SelectSimdPath(SimdPath path);

// The loop of the active path.
void EvaluateSlice(const Slice& slice, std::size_t begin, std::size_t end);
// The loop of `path`, which the processor must offer.
void EvaluateOn(SimdPath path, const Slice& slice, std::size_t begin, std::size_t end);

}  // namespace quarn::batch
