// Constants the stages of the mixture routine share.
#pragma once

namespace quarn::model {

inline constexpr double kGasConstant = 82.05;  // R, cm^3 atm / (mol K)
inline constexpr double kCO2CoVolume = 29.7;   // b of CO2, cm^3/mol
// x_NaCl must exceed it for the solvent to hold salt; W must exceed it for a
// brine; x_H2O below it means no solvent at all.
inline constexpr double kThreshold = 1e-08;

}  // namespace quarn::model
