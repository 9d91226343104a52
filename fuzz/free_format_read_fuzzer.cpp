// Feeds arbitrary bytes to the free-format reader as a run file: the first read
// takes two 32-bit values, every later one three 64-bit values, until the end
// or a failure. A failure must be one the reader can meet, and a value read
// must be finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "textio/channel.hpp"
#include "textio/free_format_read.hpp"

namespace {

bool IsReadFailure(int message) {
  switch (message) {
    case 22:
    case 24:
    case 39:
    case 59:
    case 64:
      return true;
    default:
      return false;
  }
}

void Check(const quarn::ReadStatus& status) {
  if (status.result == quarn::ReadResult::kFailed && !IsReadFailure(status.error.message))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarn::Channel channel;
  quarn::LoadInput(channel, {reinterpret_cast<const char*>(data), size});
  float T = 0.0f, P = 0.0f;
  quarn::ReadStatus status = quarn::ReadFreeFormat(channel, {T, P}, false);
  Check(status);
  double x[3] = {0.0, 0.0, 0.0};
  while (status.result == quarn::ReadResult::kComplete) {
    status = quarn::ReadFreeFormat(channel, {x[0], x[1], x[2]}, true);
    Check(status);
    // A value that reads in is finite: overflow is an error, never infinity.
    for (double v : x) {
      if (std::isinf(v)) std::abort();
    }
  }
  return 0;
}
