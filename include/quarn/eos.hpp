// The H2O-CO2-NaCl equation of state: fugacity coefficients, compressibility
// factor and molar volume of a Redlich-Kwong mixture of CO2 and a
// salt-dependent aqueous solvent, for one state or for arrays of states.
//
// Every number is the console program's own, bit for bit, whatever flags the
// caller compiles with. Nothing here does I/O, throws, or keeps global state;
// every function may be called from many threads at once.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace quarn {

// Mole fractions of CO2, H2O and NaCl, used as given: neither their range nor
// their sum is checked.
struct Composition {
  double x_CO2 = 0.0;
  double x_H2O = 0.0;
  double x_NaCl = 0.0;
};

// The model's molar masses, in g/mol. The solvent's salinity W, in wt% NaCl,
// is 100 x_NaCl M_NaCl / (M_H2O x_H2O + M_NaCl x_NaCl), worked out in that
// order.
inline constexpr double kMolarMassH2O = 18.016;
inline constexpr double kMolarMassNaCl = 58.448;

// The elementary functions whose failure is a fault.
enum class MathFunction : unsigned char { kNone, kExp, kLog, kSqrt, kPower };

// The function's name as the console's messages give it: "exp", "log", "sqrt",
// "**"; "" for kNone.
const char* MathFunctionName(MathFunction function) noexcept;

// A failing elementary function: the first one met in the method's order of
// evaluation, which is the failure the console program reports and stops on.
// Masked arithmetic (a division by zero, say) is no fault: its infinities and
// NaNs flow into the result.
struct Fault {
  static constexpr int kNone = 0;
  static constexpr int kDomain = 6201;       // log or sqrt of a negative, a negative base of **
  static constexpr int kSingularity = 6202;  // log of zero
  static constexpr int kOverflow = 6203;     // exp or ** beyond the double range

  int number = kNone;
  MathFunction function = MathFunction::kNone;

  explicit operator bool() const noexcept { return number != kNone; }
};

// What the method gives for one state. The coefficients are in the species
// order CO2, H2O, NaCl. V is the molar volume in cm^3/mol as the method carries
// it, rounded to single precision (R = 82.05 cm^3 atm/(mol K)); Z is the
// compressibility factor (the largest real root of the Redlich-Kwong cubic).
// ln_phi are the logarithms the coefficients are the exponentials of: finite
// where phi underflows to 0 or overflows.
struct Result {
  std::array<double, 3> phi{};
  double Z = 0.0;
  double V_cm3_per_mol = 0.0;
  std::array<double, 3> ln_phi{};
};

// The fugacity in bar of a species of mole fraction x and coefficient phi at
// P_bar, formed as the report forms it: (x phi) P_bar.
inline double FugacityBar(double x, double phi, double P_bar) noexcept {
  return (x * phi) * P_bar;
}

// The console program's unit conversions. It passes its 32-bit temperature
// and pressure widened to double: KelvinFromCelsius(float(400.1)) is
// 673.2500061035156, KelvinFromCelsius(400.1) is 673.25.
double KelvinFromCelsius(double T_C) noexcept;  // T_C + 273.15
double AtmFromBar(double P_bar) noexcept;       // P_bar / 1.01325

// How the method carries the molar volume and the ratios r_i = D_i/(R T^1.5 b)
// of its fugacity expression. kReportExact rounds both to single precision, as
// the console program's report does; every number this library gives by
// default is that one. kUnrounded keeps them in double precision: ln phi is then
// a smooth function of the composition (the roundings make it a staircase with
// steps of about 1e-7), which derivatives and equilibrium solvers need. The two
// differ by about 1e-7 in ln phi.
enum class Method : unsigned char { kReportExact, kUnrounded };

// The mixture's Redlich-Kwong parameters as the method works them out (its
// a_mix and b_mix, in its order of operations): the pressure of the fluid is
// P = R T/(V - b) - a/(T^0.5 V (V + b)), R = 82.05 cm^3 atm/(mol K), T in K, P
// in atm, V and b in cm^3/mol, a in atm cm^6 K^0.5/mol^2. They depend on the
// temperature and the composition, not on the pressure.
struct RedlichKwongParameters {
  double a = 0.0;
  double b = 0.0;
  Fault fault;  // from the temperature terms or the solvent's attraction
};

// One state: T_K in kelvin, P_atm in standard atmospheres. When the fault is
// set, the result holds whatever the arithmetic gave and is not to be used.
struct Evaluation {
  Result result;
  Fault fault;
};
Evaluation Evaluate(double T_K, double P_atm, const Composition& x,
                    Method method = Method::kReportExact) noexcept;

namespace internal {
// The terms of the method that depend on the temperature alone, of one value
// type: a double, or one value per SIMD lane in the batch's loops. Their layout
// is the library's own business and may change from version to version.
template <class V>
struct TemperatureValues {
  V T_K;
  V T_C;             // temperature in degrees Celsius
  V R2T25;           // R^2 T^2.5
  V RT15;            // R T^1.5
  V p0, p1, p2, p3;  // coefficients in W of the exponent of the solvent root term
  V e_T;             // temperature factor of the solvent attraction
  V a_S_dW;          // slope of the solvent attraction with respect to W
  V a_S_pure;        // the solvent attraction's term free of W
  V a_CO2;           // CO2-CO2 attraction
  V K_T;             // temperature term of the cross parameter
  V a_X_T;           // the cross attraction's temperature term, 0.5 K_T R^2 T^2.5
};
// Their number, for code that handles them all alike.
inline constexpr std::size_t kTemperatureValueCount =
    sizeof(TemperatureValues<double>) / sizeof(double);

// The terms as doubles, with the faults met working them out.
struct TemperatureTerms : TemperatureValues<double> {
  Fault powers_fault;        // from T_K^2.5 and T_K^1.5
  Fault exponentials_fault;  // from e_T and K_T
};
}  // namespace internal

// One temperature and pressure for many compositions evaluated one at a time
// (reading them from a file, say): the terms that depend on the temperature
// alone are worked out once, when the conditions are made. Evaluate gives
// exactly what Evaluate(T_K, P_atm, x) gives. No allocation; cheap to copy.
// The unrounded method's numbers for one state with the partial derivatives of
// ln phi with respect to the mole fractions as the method takes them, each
// varied alone with the others held (the method does not normalise them):
// d_ln_phi_d_x[i][j] = d ln phi_i / d x_j. They come by forward-mode
// differentiation of the method's own operations, so they are exact to
// rounding, and `evaluation` is Evaluate(x, Method::kUnrounded) bit for bit.
struct EvaluationWithDerivatives {
  Evaluation evaluation;
  std::array<std::array<double, 3>, 3> d_ln_phi_d_x{};
};

class Conditions {
 public:
  Conditions(double T_K, double P_atm) noexcept;
  Evaluation Evaluate(const Composition& x, Method method = Method::kReportExact) const noexcept;
  EvaluationWithDerivatives EvaluateWithDerivatives(const Composition& x) const noexcept;
  // Evaluate(x[i], method) into results[i] and faults[i] for every i, bit for
  // bit, several compositions at a time in SIMD lanes where the processor has
  // them, on the calling thread. Returns false, and computes nothing, when the
  // spans differ in length.
  [[nodiscard]] bool EvaluateBatch(std::span<const Composition> x, std::span<Result> results,
                                   std::span<Fault> faults,
                                   Method method = Method::kReportExact) const noexcept;
  // a and b at these conditions' temperature.
  RedlichKwongParameters MixtureParameters(const Composition& x) const noexcept;

 private:
  double P_atm_;
  internal::TemperatureTerms temperature_terms_;
};

// Many states at once, split over `threads` threads (0: every hardware
// thread; a batch of a few thousand points stays on the calling thread).
// results[i] and faults[i] receive point i. The numbers never depend on the
// thread count, and each is the one Evaluate gives. Terms that depend on the
// temperature alone are worked out once per run of equal temperatures.
// Returns false, and computes nothing, when the spans differ in length.
[[nodiscard]] bool EvaluateBatch(double T_K, double P_atm, std::span<const Composition> x,
                                 std::span<Result> results, std::span<Fault> faults,
                                 unsigned threads = 0) noexcept;
[[nodiscard]] bool EvaluateBatch(std::span<const double> T_K, std::span<const double> P_atm,
                                 std::span<const Composition> x, std::span<Result> results,
                                 std::span<Fault> faults, unsigned threads = 0) noexcept;

// The same over columns (a structure of arrays, as NumPy holds them): each
// input column holds one value for all points or one per point (ColumnValue
// reads them so), each output column one value per point (the number of points
// is the longest input). The ln_phi columns are optional: empty ones are left
// out.
struct StateColumns {
  std::span<const double> T_K, P_atm, x_CO2, x_H2O, x_NaCl;
};
struct ResultColumns {
  std::span<double> phi_CO2, phi_H2O, phi_NaCl, Z, V_cm3_per_mol;
  std::span<Fault> faults;
  std::span<double> ln_phi_CO2 = {}, ln_phi_H2O = {}, ln_phi_NaCl = {};
};

// Point i's value of an input column: its one value, or its i-th.
inline double ColumnValue(std::span<const double> column, std::size_t i) noexcept {
  return column.size() == 1 ? column[0] : column[i];
}
[[nodiscard]] bool EvaluateBatch(const StateColumns& states, const ResultColumns& results,
                                 unsigned threads = 0) noexcept;

}  // namespace quarn
