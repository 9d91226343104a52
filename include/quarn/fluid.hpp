// What fluid-inclusion studies and petrology ask of the model beyond the
// fugacities: a fluid's mass density, the pressure on an isochore, and the
// activities of H2O and CO2 (with NaCl's activity coefficient on a stated
// reference). Built on the equation of state of quarn/eos.hpp alone; nothing
// here does I/O or throws, a failure is a value.
//
// Where the model puts a fluid in two phases its one-phase numbers are
// metastable: the stability test of quarn/equilibrium.hpp says where, and the
// phase boundaries of a bulk fluid below (its homogenization along the
// pressure, or on heating along an isochore) are built on it.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <span>

#include "quarn/eos.hpp"
#include "quarn/equilibrium.hpp"

namespace quarn {

// Standard molar masses in g/mol, for mass densities. The model's own 18.016
// and 58.448 (kMolarMassH2O, kMolarMassNaCl) serve its salinity W alone.
inline constexpr double kStandardMolarMassCO2 = 44.0095;
inline constexpr double kStandardMolarMassH2O = 18.01528;
inline constexpr double kStandardMolarMassNaCl = 58.44277;

// The mass of a mole of fluid, g/mol: x_CO2 M_CO2 + x_H2O M_H2O + x_NaCl M_NaCl.
double MolarMass(const Composition& x) noexcept;
// The mass density in g/cm^3 of the fluid of molar volume V: M(x) / V.
double MassDensity(const Composition& x, double V_cm3_per_mol) noexcept;
// The molar volume in cm^3/mol of the fluid of mass density rho: M(x) / rho.
double MolarVolumeFromDensity(const Composition& x, double rho_g_per_cm3) noexcept;

// Flags of a point on an isochore: where the model's pressure for a volume is
// not a state the method gives at that pressure.
// P below 500 bar, where the model's range ends (pure H2O's isochores reach
// negative pressures below about that).
inline constexpr unsigned kIsochoreBelow500Bar = 1;
// dP/dV >= 0: no stable fluid has this volume at this temperature.
inline constexpr unsigned kIsochoreMechanicallyUnstable = 2;
// The Redlich-Kwong cubic has a larger real root at this pressure, or the
// pressure is not positive, or V is not above b: the method, which takes the
// largest root, gives another volume there.
inline constexpr unsigned kIsochoreNotLargestRoot = 4;

// The model's pressure of a fluid at T and V (an isochore's point): the
// Redlich-Kwong pressure with the method's own a and b,
// P = R T/(V - b) - a/(T^0.5 V (V + b)). Where no flag is set, the method at
// (T, P) gives V back: to its single precision bit for bit when V is one of
// its volumes. dP/dV in atm mol/cm^3.
struct IsochorePoint {
  double P_atm = std::numeric_limits<double>::quiet_NaN();
  double P_bar = std::numeric_limits<double>::quiet_NaN();  // P_atm * 1.01325
  double dP_dV = std::numeric_limits<double>::quiet_NaN();
  unsigned flags = 0;
  Fault fault;  // from a and b; the numbers are then not to be used
};
IsochorePoint IsochorePressure(double T_K, const Composition& x, double V_cm3_per_mol) noexcept;

// Activities against the pure fluids at the same temperature and pressure,
// a_i = x_i phi_i / phi_i(pure i), for H2O and CO2 (with the method as the
// console program's report gives it). NaCl is a molecule in this model, and
// its activity is no mean ionic activity: gamma_NaCl is phi_NaCl over its
// value at infinite dilution in pure H2O at the same T and P (the mole-fraction
// scale), and a_NaCl = x_NaCl gamma_NaCl.
struct Activities {
  double a_H2O = std::numeric_limits<double>::quiet_NaN();
  double a_CO2 = std::numeric_limits<double>::quiet_NaN();
  double gamma_NaCl = std::numeric_limits<double>::quiet_NaN();
  double a_NaCl = std::numeric_limits<double>::quiet_NaN();
  double phi_H2O_pure = std::numeric_limits<double>::quiet_NaN();
  double phi_CO2_pure = std::numeric_limits<double>::quiet_NaN();
  double phi_NaCl_infinite_dilution = std::numeric_limits<double>::quiet_NaN();
  Fault fault;  // the first failure of the three evaluations (the fluid's first)
};
Activities ActivitiesAt(double T_K, double P_atm, const Composition& x) noexcept;

// Where a bulk fluid of fixed composition changes between one and two phases
// along a path of states: the pressure at a fixed temperature, or the
// temperature along an isochore (the model's pressure at a fixed molar
// volume). The stability test's verdict is scanned at every step of the path,
// and each change between "stable" and "unstable" bisected to the tolerance;
// the boundary is the middle of the final bracket. A change narrower than a
// step can be missed; steps whose verdict is undecided (a failing model, an
// isochore point the method does not give: see the isochore flags) end no
// bracket, and are counted.
struct PhaseBoundary {
  double T_K = 0.0, P_atm = 0.0;
  double bracket = 0.0;          // the final bracket's width, in atm or K
  bool one_phase_above = false;  // the fluid is one phase on the side of higher P (or T)
  // The bulk fluid on the boundary's one-phase side.
  double V_cm3_per_mol = 0.0;
  double rho_g_per_cm3 = 0.0;
  // The phase that appears on crossing into two phases: the stability test's
  // trial phase at the two-phase end of the final bracket.
  Composition incipient;
  double incipient_wt_NaCl = 0.0;
};

inline constexpr int kMostBoundaries = 8;

struct PhaseBoundaries {
  int count = 0;  // boundaries[0, count) in the path's order
  std::array<PhaseBoundary, kMostBoundaries> boundaries{};
  bool more = false;                        // more changes than kMostBoundaries were found
  Stability first = Stability::kUndecided;  // the verdict at the start of the path
  Stability last = Stability::kUndecided;   // and at its end
  int undecided_steps = 0;                  // scanned points without a verdict
  int stability_tests = 0;                  // tests made, scan and bisection
};

struct BoundaryScan {
  double step = 0.0;       // between scanned points (atm or K); 0: the default
  double tolerance = 0.0;  // the final bracket (atm or K); 0: the default
  EquilibriumOptions equilibrium{};
};
// Defaults: 50 bar and 0.01 bar along the pressure, 5 K and 0.01 K along an
// isochore.
PhaseBoundaries BoundariesAlongPressure(double T_K, const Composition& x, double P_low_atm,
                                        double P_high_atm, const BoundaryScan& scan = {}) noexcept;
PhaseBoundaries BoundariesAlongIsochore(const Composition& x, double V_cm3_per_mol, double T_low_K,
                                        double T_high_K, const BoundaryScan& scan = {}) noexcept;

// Batch forms over columns, on `threads` threads (0: every hardware thread):
// each input column holds one value for all points or one per point, the
// outputs one per point. Returns false, and computes nothing, when the lengths
// do not fit.
[[nodiscard]] bool IsochoreBatch(std::span<const double> T_K, std::span<const double> x_CO2,
                                 std::span<const double> x_H2O, std::span<const double> x_NaCl,
                                 std::span<const double> V_cm3_per_mol,
                                 std::span<IsochorePoint> points, unsigned threads = 0) noexcept;
[[nodiscard]] bool ActivitiesBatch(std::span<const double> T_K, std::span<const double> P_atm,
                                   std::span<const double> x_CO2, std::span<const double> x_H2O,
                                   std::span<const double> x_NaCl, std::span<Activities> activities,
                                   unsigned threads = 0) noexcept;
// The phase boundaries of each fluid over one range of the path.
[[nodiscard]] bool BoundariesAlongPressureBatch(
    std::span<const double> T_K, std::span<const double> x_CO2, std::span<const double> x_H2O,
    std::span<const double> x_NaCl, double P_low_atm, double P_high_atm,
    std::span<PhaseBoundaries> boundaries, const BoundaryScan& scan = {},
    unsigned threads = 0) noexcept;
[[nodiscard]] bool BoundariesAlongIsochoreBatch(
    std::span<const double> x_CO2, std::span<const double> x_H2O, std::span<const double> x_NaCl,
    std::span<const double> V_cm3_per_mol, double T_low_K, double T_high_K,
    std::span<PhaseBoundaries> boundaries, const BoundaryScan& scan = {},
    unsigned threads = 0) noexcept;

}  // namespace quarn
