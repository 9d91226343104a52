// The scan of a trial grid against a tangent plane: the distance of every
// grid point, and the points of a row no higher than their neighbours along
// it. One loop for any processor and one in AVX2 lanes, chosen with the batch
// call's evaluation loop; both give the same bits.
#pragma once

#include <cstddef>

#include "quarn/internal/simd_path.hpp"

namespace quarn::equilibrium::grid_scan {

// The grid's columns of its present species (2 or 3, in their order) and the
// plane's ln f of each.
struct Columns {
  int species = 0;
  const double* y[3] = {};
  const double* ln_f[3] = {};
  double d[3] = {};
};

// tpd[k] = sum over the species of y[k] (ln f[k] - d), added in their order
// from 0: the same operations for a point in a lane as alone.
void Distances(const Columns& columns, std::size_t n, double* tpd);

// The positions along a row t[0..n) where the distance is below +infinity
// (a point that is not valid, or a NaN, is no minimum) and neither neighbour
// is lower (each end against its one neighbour; a row of one point, that
// point), in increasing order, into `at` (room for n); returns their count.
int RowMinima(const double* t, int n, int* at);

// The row minima among positions [begin, end) of the row, appended to `at`
// from at[count]; returns the new count. The scalar loop, and the AVX2 loop's
// ends.
int RowMinimaAmong(const double* t, int n, int begin, int end, int* at, int count);

// Each loop by name, for the tests that compare them. The AVX2 loop exists
// only where the batch call has one.
void DistancesScalar(const Columns& columns, std::size_t n, double* tpd);
int RowMinimaScalar(const double* t, int n, int* at);
#if defined(__x86_64__) && defined(__GNUC__)
#define QUARN_GRID_SCAN_AVX2 1
void DistancesAvx2(const Columns& columns, std::size_t n, double* tpd);
int RowMinimaAvx2(const double* t, int n, int* at);
#else
#define QUARN_GRID_SCAN_AVX2 0
#endif

}  // namespace quarn::equilibrium::grid_scan
