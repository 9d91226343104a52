// The public entry points: each calls the path chosen once for the process.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "elementary/call_counts.hpp"
#include "elementary/cores.hpp"

namespace quarn::elementary {
namespace {

struct Functions {
  double (*exp)(double);
  double (*log)(double);
  double (*pow)(double, double);
  double (*cos)(double);
  double (*acos)(double);
  Path path;
};

constexpr Functions kPlain = {ExpPlain, LogPlain, PowPlain, CosPlain, AcosPlain, Path::kPlain};
#if QUARN_ELEMENTARY_FUSED_PATH
constexpr Functions kFused = {ExpFused, LogFused, PowFused, CosFused, AcosFused, Path::kFused};
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

// Until the first call, functions that choose the path and then call it.
const Functions& Resolved();
constexpr Functions kResolving = {[](double x) { return Resolved().exp(x); },
                                  [](double x) { return Resolved().log(x); },
                                  [](double x, double y) { return Resolved().pow(x, y); },
                                  [](double x) { return Resolved().cos(x); },
                                  [](double x) { return Resolved().acos(x); },
                                  Path::kPlain};

std::atomic<const Functions*> chosen{&kResolving};
std::atomic<SlowPathObserver> slow_path_observer{nullptr};

const Functions& Resolved() {
  const Functions* f = chosen.load(std::memory_order_acquire);
  if (f == &kResolving) {
    f = Chosen();
    chosen.store(f, std::memory_order_release);
  }
  return *f;
}

const Functions& Active() {
  return *chosen.load(std::memory_order_acquire);
}

#ifdef QUARN_ELEMENTARY_COUNT_CALLS
std::array<unsigned long long, 5> call_counts{};
inline void Count(Function f) {
  ++call_counts[static_cast<int>(f)];
}
#else
inline void Count(Function) {}
#endif

}  // namespace

double Exp(double x) {
  return Count(Function::kExp), Active().exp(x);
}
double Log(double x) {
  return Count(Function::kLog), Active().log(x);
}
double Pow(double x, double y) {
  return Count(Function::kPow), Active().pow(x, y);
}
double Cos(double x) {
  return Count(Function::kCos), Active().cos(x);
}
double Acos(double x) {
  return Count(Function::kAcos), Active().acos(x);
}

#ifdef QUARN_ELEMENTARY_COUNT_CALLS
const std::array<unsigned long long, 5>& CallCounts() {
  return call_counts;
}
#endif

Path ActivePath() {
  return Active().path;
}

bool SelectPath(Path path) {
  if (!Supports(path)) return false;
#if QUARN_ELEMENTARY_FUSED_PATH
  chosen.store(path == Path::kFused ? &kFused : &kPlain, std::memory_order_release);
#else
  chosen.store(&kPlain, std::memory_order_release);
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
