// The choice of evaluation loop, made once for the process: the widest the
// processor offers (or the one QUARN_SIMD names) that passes its self-test.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "eos/batch_slice.hpp"

namespace quarn::batch {
namespace {

constexpr SimdPath kNarrowerFirst[] = {SimdPath::kScalar, SimdPath::kAvx2, SimdPath::kAvx512};

SimdPath Widest() {
  if (Supports(SimdPath::kAvx512)) return SimdPath::kAvx512;
  if (Supports(SimdPath::kAvx2)) return SimdPath::kAvx2;
  return SimdPath::kScalar;
}

SimdPath Narrower(SimdPath path) {
  return path == SimdPath::kAvx512 ? SimdPath::kAvx2 : SimdPath::kScalar;
}

constexpr int kUnresolved = -1;
std::atomic<int> active{kUnresolved};
std::mutex resolving;
std::string note;  // why the path in use is not the widest offered; empty where it is

// The path to use and the note, from the environment and the self-tests.
void Resolve() {
  std::string why;
  SimdPath path = Widest();
  if (const char* wanted = std::getenv("QUARN_SIMD")) {
    bool known = false;
    for (SimdPath p : kNarrowerFirst) {
      if (std::strcmp(wanted, SimdPathName(p)) != 0) continue;
      known = true;
      if (Supports(p)) {
        path = p;
      } else {
        why = std::string("QUARN_SIMD=") + wanted + ": this processor lacks it";
      }
    }
    if (!known) {
      why = std::string("QUARN_SIMD=") + wanted +
            " names no evaluation loop (scalar, avx2 or avx512)";
    }
  }
  // Only for the test of the fallback: the named path's self-test is made to fail.
  const char* spoiled = std::getenv("QUARN_SIMD_SELF_TEST_FAULT");
  while (!PassesSelfTest(path, spoiled && std::strcmp(spoiled, SimdPathName(path)) == 0)) {
    if (!why.empty()) why += "; ";
    why += std::string("the ") + SimdPathName(path) +
           " loop gave other bits than the scalar loop in its self-test";
    path = Narrower(path);
  }
  if (!why.empty()) why += std::string("; the ") + SimdPathName(path) + " loop is in use";
  note = why;
  active.store(static_cast<int>(path), std::memory_order_release);
}

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
    const std::lock_guard<std::mutex> lock(resolving);
    if (active.load(std::memory_order_acquire) == kUnresolved) Resolve();
    path = active.load(std::memory_order_acquire);
  }
  return static_cast<SimdPath>(path);
}

const char* SimdPathNote() {
  ActiveSimdPath();
  const std::lock_guard<std::mutex> lock(resolving);
  return note.c_str();
}

void ResolveSimdPath() {
  const std::lock_guard<std::mutex> lock(resolving);
  Resolve();
}

bool SelectSimdPath(SimdPath path) {
  if (!Supports(path)) return false;
  active.store(static_cast<int>(path), std::memory_order_release);
  return true;
}

void EvaluateSlice(const Slice& slice, std::size_t begin, std::size_t end) {
  EvaluateOn(ActiveSimdPath(), slice, begin, end);
}

void EvaluateOn(SimdPath path, const Slice& slice, std::size_t begin, std::size_t end) {
  switch (path) {
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
