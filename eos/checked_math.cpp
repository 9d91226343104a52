#include "eos/checked_math.hpp"

#include "textio/termination.hpp"

namespace quarn {

void ElementaryFunctionFailed(int message, const char* function) {
  MathFatalStop(message, function);
}

}  // namespace quarn
