// The public entry points: each calls the path chosen once for the process.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "elementary/call_counts.hpp"
#include "elementary/cores.hpp"

namespace quarn::elementary {
namespace {

using detail::Functions;

constexpr Functions kPlain = {ExpPlain, LogPlain,  PowPlain,
                              CosPlain, AcosPlain, static_cast<int>(Path::kPlain)};
#if QUARN_ELEMENTARY_FUSED_PATH
constexpr Functions kFused = {ExpFused, LogFused,  PowFused,
                              CosFused, AcosFused, static_cast<int>(Path::kFused)};
#endif

bool Supports(Path path) {
  if (path == Path::kPlain) return true;
#if QUARN_ELEMENTARY_FUSED_PATH
  return __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

const Functions* Chosen() {
#if QUARN_ELEMENTARY_FUSED_PATH
  const char* wanted = std::getenv("QUARN_ELEMENTARY_PATH");
  if (Supports(Path::kFused) && !(wanted && std::strcmp(wanted, "plain") == 0)) return &kFused;
#endif
  return &kPlain;
}

const Functions& Resolved();

// Until the first call, functions that choose the path and then call it.
constexpr Functions kResolving = {[](double x) { return Resolved().exp(x); },
                                  [](double x) { return Resolved().log(x); },
                                  [](double x, double y) { return Resolved().pow(x, y); },
                                  [](double x) { return Resolved().cos(x); },
                                  [](double x) { return Resolved().acos(x); },
                                  static_cast<int>(Path::kPlain)};

std::atomic<SlowPathObserver> slow_path_observer{nullptr};

}  // namespace

std::atomic<const Functions*> detail::chosen{&kResolving};

namespace {

const Functions& Resolved() {
  const Functions* f = detail::chosen.load(std::memory_order_acquire);
  if (f == &kResolving) {
    f = Chosen();
    detail::chosen.store(f, std::memory_order_release);
  }
  return *f;
}

#ifdef QUARN_ELEMENTARY_COUNT_CALLS
std::array<unsigned long long, 5> call_counts{};
#endif

}  // namespace

#ifdef QUARN_ELEMENTARY_COUNT_CALLS
void detail::Count(int function) {
  ++call_counts[function];
}
const std::array<unsigned long long, 5>& CallCounts() {
  return call_counts;
}
#endif

Path ActivePath() {
  return static_cast<Path>(Resolved().path);
}

bool SelectPath(Path path) {
  if (!Supports(path)) return false;
#if QUARN_ELEMENTARY_FUSED_PATH
  detail::chosen.store(path == Path::kFused ? &kFused : &kPlain, std::memory_order_release);
#else
  detail::chosen.store(&kPlain, std::memory_order_release);
#endif
  return true;
}

void SetSlowPathObserver(SlowPathObserver observer) {
  slow_path_observer.store(observer, std::memory_order_relaxed);
}

void NoteSlowPath(Function function, double x, double y) {
  if (SlowPathObserver observer = slow_path_observer.load(std::memory_order_relaxed))
    observer(function, x, y);
}

}  // namespace quarn::elementary
