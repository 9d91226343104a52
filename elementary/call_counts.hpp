// Calls of each function since the start, for builds of the elementary
// functions with QUARN_ELEMENTARY_COUNT_CALLS defined (the slow-path sweep);
// the library proper counts nothing.
#pragma once

#include <array>

namespace quarn::elementary {

// Indexed by Function; not synchronised: for one thread.
const std::array<unsigned long long, 5>& CallCounts();

}  // namespace quarn::elementary
