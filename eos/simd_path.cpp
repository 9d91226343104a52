// The choice of evaluation loop, made once for the process.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "eos/batch_slice.hpp"

namespace quarn::batch {
namespace {

SimdPath Widest() {
  if (Supports(SimdPath::kAvx512)) return SimdPath::kAvx512;
  if (Supports(SimdPath::kAvx2)) return SimdPath::kAvx2;
  return SimdPath::kScalar;
}

// QUARN_SIMD where it names a path the processor offers; otherwise the widest.
SimdPath Chosen() {
  if (const char* wanted = std::getenv("QUARN_SIMD")) {
    for (SimdPath path : {SimdPath::kScalar, SimdPath::kAvx2, SimdPath::kAvx512}) {
      if (std::strcmp(wanted, SimdPathName(path)) == 0 && Supports(path)) return path;
    }
  }
  return Widest();
}

constexpr int kUnresolved = -1;
std::atomic<int> active{kUnresolved};

}  // namespace

const char* SimdPathName(SimdPath path) {
  switch (path) {
    case SimdPath::kAvx2:
      return "avx2";
    case SimdPath::kAvx512:
      return "avx512";
    case SimdPath::kScalar:
      break;
  }
  return "scalar";
}

bool Supports(SimdPath path) {
  switch (path) {
    case SimdPath::kScalar:
      return true;
#if QUARN_SIMD_PATHS
    case SimdPath::kAvx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case SimdPath::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma");
#else
    default:
      return false;
#endif
  }
  return false;
}

SimdPath ActiveSimdPath() {
  int path = active.load(std::memory_order_acquire);
  if (path == kUnresolved) {
    path = static_cast<int>(Chosen());
    active.store(path, std::memory_order_release);
  }
  return static_cast<SimdPath>(path);
}

bool SelectSimdPath(SimdPath path) {
  if (!Supports(path)) return false;
  active.store(static_cast<int>(path), std::memory_order_release);
  return true;
}

void EvaluateSlice(const Slice& slice, std::size_t begin, std::size_t end) {
  switch (ActiveSimdPath()) {
#if QUARN_SIMD_PATHS
    case SimdPath::kAvx512:
      EvaluateAvx512(slice, begin, end);
      return;
    case SimdPath::kAvx2:
      EvaluateAvx2(slice, begin, end);
      return;
#endif
    default:
      EvaluateScalar(slice, begin, end);
  }
}

}  // namespace quarn::batch
