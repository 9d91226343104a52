// The layouts of the banner and of the report lines.
#pragma once

#include <array>

#include "textio/format.hpp"

namespace quarn::report {

using namespace quarn::edit;

// Banner lines: one or two stored texts, each right-justified in an A field.
inline constexpr std::array<EditItem, 1> kA15 = {A(15)};
inline constexpr std::array<EditItem, 1> kA16 = {A(16)};
inline constexpr std::array<EditItem, 1> kA19 = {A(19)};
inline constexpr std::array<EditItem, 1> kA31 = {A(31)};
inline constexpr std::array<EditItem, 1> kA41 = {A(41)};
inline constexpr std::array<EditItem, 1> kA47 = {A(47)};
inline constexpr std::array<EditItem, 1> kA54 = {A(54)};
inline constexpr std::array<EditItem, 2> kA39A35 = {A(39), A(35)};

// The conditions line (T and P as 32-bit values), then an empty line.
inline constexpr std::array<EditItem, 8> kConditions = {
    X(1), F(5, 0), Text(" DegC"), X(2), F(6, 0), Text(" Bars"), Text("    "), Slash(),
};

// The column titles over the result fields, and the dashes under them.
inline constexpr std::array<EditItem, 38> kHeading = {
    X(4),           Text("XCO2"),  X(12),          Text("phiCO2"),  X(10),          Text("fCO2"),
    X(12),          Text("XH2O"),  X(12),          Text("phiH2O"),  X(10),          Text("fH2O"),
    X(12),          Text("XNaCl"), X(11),          Text("phiNaCl"), X(9),           Text("fNaCl"),
    Slash(),        X(4),          Text("------"), X(10),           Text("------"), X(10),
    Text("------"), X(10),         Text("------"), X(10),           Text("------"), X(10),
    Text("------"), X(10),         Text("------"), X(10),           Text("------"), X(10),
    Text("------"),
};

// One result line: x, phi and f of CO2, H2O and NaCl.
inline constexpr std::array<EditItem, 3> kResult = {Group(9, 2), X(2), E(14, 8)};

}  // namespace quarn::report
