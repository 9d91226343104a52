// Forward-mode derivatives of the method: a value with its gradient with
// respect to the three mole fractions, and the operations the method's
// templates (eos/method.hpp) need for it. Every value goes through the same
// IEEE operations in the same order as in the scalar method, so the values are
// the unrounded method's bit for bit; the gradients follow by the chain rule.
// For the translation units of the equation of state only.
#pragma once

#include <array>
#include <cmath>

#include "eos/checked_math.hpp"
#include "eos/method.hpp"

namespace quarn {

struct Dual {
  // The gradient in a vector of four, so that its three partials go through
  // one vector operation each, every partial meeting the same IEEE operations
  // as alone; the fourth is never read.
  using Gradient = double __attribute__((vector_size(32)));
  double v = 0.0;
  Gradient g{};

  Dual() = default;
  Dual(double value) : v(value) {}  // NOLINT: constants mix with duals as in the scalar method
  // The mole fraction of species k, varied alone.
  static Dual Variable(double value, int k) {
    Dual d(value);
    d.g[k] = 1.0;
    return d;
  }
};

// value and gradient da * s + db * t
inline Dual Combine(double value, const Dual& a, double s, const Dual& b, double t) {
  Dual r(value);
  r.g = a.g * s + b.g * t;
  return r;
}
inline Dual Scaled(double value, const Dual& a, double s) {
  Dual r(value);
  r.g = a.g * s;
  return r;
}

inline Dual operator-(const Dual& a) {
  return Scaled(-a.v, a, -1.0);
}
inline Dual operator+(const Dual& a, const Dual& b) {
  return Combine(a.v + b.v, a, 1.0, b, 1.0);
}
inline Dual operator-(const Dual& a, const Dual& b) {
  return Combine(a.v - b.v, a, 1.0, b, -1.0);
}
inline Dual operator*(const Dual& a, const Dual& b) {
  return Combine(a.v * b.v, a, b.v, b, a.v);
}
inline Dual operator/(const Dual& a, const Dual& b) {
  const double q = a.v / b.v;
  return Combine(q, a, 1.0 / b.v, b, -q / b.v);
}
inline Dual operator+(const Dual& a, double b) {
  return Scaled(a.v + b, a, 1.0);
}
inline Dual operator+(double a, const Dual& b) {
  return Scaled(a + b.v, b, 1.0);
}
inline Dual operator-(const Dual& a, double b) {
  return Scaled(a.v - b, a, 1.0);
}
inline Dual operator-(double a, const Dual& b) {
  return Scaled(a - b.v, b, -1.0);
}
inline Dual operator*(const Dual& a, double b) {
  return Scaled(a.v * b, a, b);
}
inline Dual operator*(double a, const Dual& b) {
  return Scaled(a * b.v, b, a);
}
inline Dual operator/(const Dual& a, double b) {
  return Scaled(a.v / b, a, 1.0 / b);
}
inline Dual operator/(double a, const Dual& b) {
  const double q = a / b.v;
  return Scaled(q, b, -q / b.v);
}
// Comparisons look at the values: the method's branches are taken as the
// scalar method takes them.
inline bool operator>(const Dual& a, double b) {
  return a.v > b;
}
inline bool operator<(const Dual& a, double b) {
  return a.v < b;
}
inline bool operator>=(const Dual& a, double b) {
  return a.v >= b;
}

// The method's operations on duals, with the elementary functions of build A
// on the values and their failures recorded as the scalar method records them.
template <class A>
struct DualOps {
  using V = Dual;
  Fault& fault;

  static Dual Constant(double c) { return Dual(c); }
  static Dual Abs(const Dual& x) { return x.v < 0.0 ? -x : x; }
  template <class F, class G>
  static Dual Choose(bool c, F f, G g) {
    return c ? f() : g();
  }
  Dual Exp(const Dual& x) {
    const double e = CheckedExp<A>(x.v, fault);
    return Scaled(e, x, e);
  }
  Dual Log(const Dual& x) { return Scaled(CheckedLog<A>(x.v, fault), x, 1.0 / x.v); }
  Dual Sqrt(const Dual& x) {
    const double s = CheckedSqrt(x.v, fault);
    return Scaled(s, x, 0.5 / s);
  }
  Dual CubeRoot(const Dual& x) {
    const double c = ScalarOps<A>{fault}.CubeRoot(x.v);
    return Scaled(c, x, c / (3.0 * x.v));
  }
  // The unrounded method keeps its values in double precision.
  static Dual RoundToSingle(const Dual& x) { return x; }
  void NotePowersFault(const TemperatureTerms& t) { ScalarOps<A>{fault}.NotePowersFault(t); }
  void NoteExponentialsFault(const TemperatureTerms& t) {
    ScalarOps<A>{fault}.NoteExponentialsFault(t);
  }
  // The largest root by the trigonometric method, and its derivative from the
  // depressed cubic y^3 + p y + q = 0 itself: dy = -(y dp + dq) / (3 y^2 + p).
  Dual OtherLargestRoot(const Dual& discriminant, const Dual& q_squared_quarter,
                        const Dual& p_cubed_27th, const Dual& q, const Dual& p) {
    const double Z = ScalarOps<A>{fault}.OtherLargestRoot(discriminant.v, q_squared_quarter.v,
                                                          p_cubed_27th.v, q.v, p.v);
    const double y = Z - redkw_detail::kOneThird;
    const double slope = 3.0 * y * y + p.v;
    return Combine(Z, p, -y / slope, q, -1.0 / slope);
  }
};

}  // namespace quarn
