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
  const char* function = "";  // "exp", "log", "sqrt" or "**"; "" when there is no fault

  explicit operator bool() const noexcept { return number != kNone; }
};

// What the method gives for one state. The coefficients are in the species
// order CO2, H2O, NaCl. V is the molar volume in cm^3/mol as the method carries
// it, rounded to single precision; Z is the compressibility factor (the
// largest real root of the Redlich-Kwong cubic).
struct Result {
  std::array<double, 3> phi{};
  double Z = 0.0;
  double V_cm3_per_mol = 0.0;
};

// The console program's unit conversions. It passes its 32-bit temperature
// and pressure widened to double: KelvinFromCelsius(float(400.1)) is
// 673.2500061035156, KelvinFromCelsius(400.1) is 673.25.
double KelvinFromCelsius(double T_C) noexcept;  // T_C + 273.15
double AtmFromBar(double P_bar) noexcept;       // P_bar / 1.01325

// One state: T_K in kelvin, P_atm in standard atmospheres. When the fault is
// set, the result holds whatever the arithmetic gave and is not to be used.
struct Evaluation {
  Result result;
  Fault fault;
};
Evaluation Evaluate(double T_K, double P_atm, const Composition& x) noexcept;

// One temperature and pressure for many compositions evaluated one at a time
// (reading them from a file, say): the terms that depend on the temperature
// alone are worked out once, when the conditions are made. Evaluate gives
// exactly what Evaluate(T_K, P_atm, x) gives. No allocation; cheap to copy.
class Conditions {
 public:
  Conditions(double T_K, double P_atm) noexcept;
  Evaluation Evaluate(const Composition& x) const noexcept;

 private:
  double P_atm_;
  alignas(double) unsigned char temperature_terms_[160];
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
// input column holds one value for all points or one per point, each output
// column one value per point (the number of points is the longest input).
struct StateColumns {
  std::span<const double> T_K, P_atm, x_CO2, x_H2O, x_NaCl;
};
struct ResultColumns {
  std::span<double> phi_CO2, phi_H2O, phi_NaCl, Z, V_cm3_per_mol;
  std::span<Fault> faults;
};
[[nodiscard]] bool EvaluateBatch(const StateColumns& states, const ResultColumns& results,
                                 unsigned threads = 0) noexcept;

}  // namespace quarn
