// The elementary functions of the equation of state, correctly rounded: each
// returns the double nearest to the exact value (ties to even), so that every
// machine, compiler and library gives the same bits.
//
// Each has a fast path in double-double arithmetic that carries a bound on its
// error (from its error analysis, with room to spare, and checked against
// mpmath) and accepts its result only when the whole interval of that bound
// rounds to one double; the rare rest goes to a slow path in 320-bit fixed point
// that decides it.
//
// Special values follow IEEE 754 and C: NaN in gives NaN out, exp overflows to
// +inf and underflows through the subnormals to +0, log(0) = -inf, log of a
// negative is NaN, and so on. None of them raises or records anything; the
// equation of state checks its own faults.
#pragma once

#include <atomic>

namespace quarn::elementary {

namespace detail {
// The functions of the path in use; calls go through this table directly.
struct Functions {
  double (*exp)(double);
  double (*log)(double);
  double (*pow)(double, double);
  double (*cos)(double);
  double (*acos)(double);
  int path;
};
extern std::atomic<const Functions*> chosen;
// Counts a call where the build counts them (QUARN_ELEMENTARY_COUNT_CALLS, the
// slow-path sweep's); nothing otherwise. Each function's fast path calls it, so
// that calls inline and through the table are both counted.
#ifdef QUARN_ELEMENTARY_COUNT_CALLS
void Count(int function);
#else
inline void Count(int) {}
#endif
inline const Functions& Active() {
  return *chosen.load(std::memory_order_acquire);
}
}  // namespace detail

inline double Exp(double x) {
  return detail::Active().exp(x);
}
inline double Log(double x) {
  return detail::Active().log(x);
}
// x^y, correctly rounded wherever 2^-280 of relative precision decides the
// rounding (as it does, far inside, for the method's exponents 1.5, 2.5 and
// 1/3), and exactly where x^y is a double or a midpoint between two, as
// pow(4, 1.5) = 8.
inline double Pow(double x, double y) {
  return detail::Active().pow(x, y);
}
// cos x, correctly rounded for |x| < 2^63; beyond that, where adjacent doubles
// lie 2^11 and more apart, NaN.
inline double Cos(double x) {
  return detail::Active().cos(x);
}
inline double Acos(double x) {
  return detail::Active().acos(x);
}

// The fast paths come in two builds: plain multiplications and additions, and
// fused multiply-adds for x86-64 processors that have them. Both give the same
// bits (each is correctly rounded); the fused one is chosen where the processor
// has FMA, unless the environment variable QUARN_ELEMENTARY_PATH is "plain".
enum class Path { kPlain, kFused };
Path ActivePath();
// Switches every function to `path`; false (and nothing changed) where the
// processor or the build lacks it. For tests that compare the two.
bool SelectPath(Path path);

enum class Function { kExp, kLog, kPow, kCos, kAcos };

// A function called with the arguments of each call that takes the slow path
// (y is 0 but for pow): for measuring how often the fast paths decline and for
// collecting those arguments. Process-wide; null (the default) to call none.
using SlowPathObserver = void (*)(Function function, double x, double y);
void SetSlowPathObserver(SlowPathObserver observer);

}  // namespace quarn::elementary
