// Powers of ten for the fast decimal-binary routes of reading and writing.
#pragma once

#include <cstdint>
#include <iterator>

namespace quarn {

// 10^k for 0 <= k <= 19, exact.
inline constexpr std::uint64_t kIntegerPowersOfTen[] = {1,
                                                        10,
                                                        100,
                                                        1000,
                                                        10000,
                                                        100000,
                                                        1000000,
                                                        10000000,
                                                        100000000,
                                                        1000000000,
                                                        10000000000,
                                                        100000000000,
                                                        1000000000000,
                                                        10000000000000,
                                                        100000000000000,
                                                        1000000000000000,
                                                        10000000000000000,
                                                        100000000000000000,
                                                        1000000000000000000,
                                                        10000000000000000000u};

// 10^k ~ significand x 2^exponent, the significand in [2^63, 2^64) and the
// nearest integer to the exact value: its relative error is at most 2^-64.
struct PowerOfTen64 {
  std::uint64_t significand;
  int exponent;
};
inline constexpr int kLowestPowerOfTen = -340;
inline constexpr int kHighestPowerOfTen = 340;
inline constexpr PowerOfTen64 kPowersOfTen64[] = {
#include "textio/powers_of_ten.inc"
};
static_assert(std::size(kPowersOfTen64) == kHighestPowerOfTen - kLowestPowerOfTen + 1);
static_assert(kPowersOfTen64[-kLowestPowerOfTen].significand == std::uint64_t{1} << 63);

inline const PowerOfTen64& PowerOfTen(int k) {
  return kPowersOfTen64[k - kLowestPowerOfTen];
}

#ifdef __SIZEOF_INT128__
#define QUARN_HAS_UINT128 1
__extension__ using Uint128 = unsigned __int128;
#endif

}  // namespace quarn
