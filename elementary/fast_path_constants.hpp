// The fast paths' constants, named once for their cores
// (fast_path_cores.hpp) and the rounding tests of the scalar functions
// (kernels.hpp) and the SIMD lanes (lane_kernels.hpp): the error bounds and
// the cube root's start. tools/error_budget.py derives
// each bound again from its steps (with mpmath) and checks these values.
#pragma once

namespace quarn::elementary {

// exp: the core's relative error 2^-71 (fast_path_cores.hpp), with room.
inline constexpr double kExpErrorBound = 0x1p-70;
// log: the core's relative error 2^-72, with room.
inline constexpr double kLogErrorBound = 0x1p-70;
// pow: the exp core's 2^-71 and the error of y ln x, |y| 2^-79 from the log core
// plus the product's roundings, with room.
inline constexpr double kPowExpErrorBound = 0x1p-70;
inline constexpr double kLogAbsoluteErrorBound = 0x1p-77;
// The method's cube root (x^y for the double y nearest 1/3): error below 2^-76.
inline constexpr double kCubeRootErrorBound = 0x1p-72;
// x^1.5 and x^2.5 from the rounded root and its Newton correction: below 2^-101.
inline constexpr double kSquareRootPowerErrorBound = 0x1p-96;

// The double nearest 1/3, and its shortfall d = 1/3 - y = 1/(3 2^54), to
// within 2^-108.
inline constexpr double kStoredOneThird = 1.0 / 3.0;
inline constexpr double kOneThirdShortfall = 0x1p-54 / 3.0;
// The quartic start of the inverse cube root of m in [1, 2), good to 2^-13.6:
// c0 + c1 m + m^2 (c2 + c3 m + c4 m^2).
inline constexpr double kInverseCubeRootStart[5] = {1.6657700244729006, -1.16234847963525,
                                                    0.6859783277546792, -0.21755464405496214,
                                                    0.02807549885053822};
// 2^(-r/3) for r = 0, 1, 2.
inline constexpr double kInverseCubeRootOfTwoPowers[3] = {1.0, 0x1.965fea53d6e3dp-1,
                                                          0x1.428a2f98d728bp-1};

}  // namespace quarn::elementary
