// Which of the batch's evaluation loops runs, and why: for the faces, which
// name it to their users, and for the tests that compare the loops. Part of
// the declared internal interface.
#pragma once

namespace quarn::batch {

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

}  // namespace quarn::batch
