// Elementary functions that record their failure in a Fault instead of
// stopping: the first failure recorded is kept, and the computation goes on
// with whatever value the function gave, so that the caller sees the first
// failure in the method's order of evaluation.
//
// The functions are correctly rounded (sqrt by IEEE, the others our own), so
// that the results are the same on every machine.
//
// A NaN argument is no failure: the NaN flows on into the result. A finite
// argument that overflows, an argument outside the domain, and the logarithm of
// zero are. Underflow is no failure. Arithmetic exceptions stay masked.
#pragma once

#include <cmath>
#include <type_traits>

#include "elementary/correctly_rounded.hpp"
#include "elementary/kernels.hpp"
#include "quarn/eos.hpp"

namespace quarn {

inline void RecordFault(Fault& fault, int number, MathFunction function) {
  if (!fault) fault = {number, function};
}

// Which build of exp, log and pow a computation calls: the one chosen at run
// time (Dispatched, a call through a table), or one build's fast paths inline
// (elementary::PlainArithmetic or FusedArithmetic), for code that is itself
// compiled once per build.
struct Dispatched {};

template <class A>
[[gnu::always_inline]] inline double ExpOf(double x) {
  if constexpr (std::is_same_v<A, Dispatched>)
    return elementary::Exp(x);
  else
    return elementary::ExpT<A>(x);
}

template <class A>
[[gnu::always_inline]] inline double LogOf(double x) {
  if constexpr (std::is_same_v<A, Dispatched>)
    return elementary::Log(x);
  else
    return elementary::LogT<A>(x);
}

template <class A>
[[gnu::always_inline]] inline double PowOf(double x, double y) {
  if constexpr (std::is_same_v<A, Dispatched>)
    return elementary::Pow(x, y);
  else
    return elementary::PowT<A>(x, y);
}

template <class A = Dispatched>
[[gnu::always_inline]] inline double CheckedExp(double x, Fault& fault) {
  const double result = ExpOf<A>(x);
  if (std::isinf(result) && std::isfinite(x)) [[unlikely]]
    RecordFault(fault, Fault::kOverflow, MathFunction::kExp);
  return result;
}

template <class A = Dispatched>
[[gnu::always_inline]] inline double CheckedLog(double x, Fault& fault) {
  if (x <= 0.0) [[unlikely]]
    RecordFault(fault, x == 0.0 ? Fault::kSingularity : Fault::kDomain, MathFunction::kLog);
  return LogOf<A>(x);
}

[[gnu::always_inline]] inline double CheckedSqrt(double x, Fault& fault) {
  if (x < 0.0) [[unlikely]]
    RecordFault(fault, Fault::kDomain, MathFunction::kSqrt);
  return std::sqrt(x);
}

// cos and acos record nothing: the method's arguments cannot fail them.
inline double Cos(double x) {
  return elementary::Cos(x);
}
inline double Acos(double x) {
  return elementary::Acos(x);
}

template <class A = Dispatched>
[[gnu::always_inline]] inline double CheckedPow(double base, double exponent, Fault& fault) {
  if (base < 0.0 && std::isfinite(exponent) && exponent != std::trunc(exponent)) [[unlikely]]
    RecordFault(fault, Fault::kDomain, MathFunction::kPower);
  const double result = PowOf<A>(base, exponent);
  if (std::isinf(result) && std::isfinite(base) && std::isfinite(exponent)) [[unlikely]]
    RecordFault(fault, Fault::kOverflow, MathFunction::kPower);
  return result;
}

}  // namespace quarn
