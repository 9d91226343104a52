#include "tests/support/exact_decimal.hpp"

#include <bit>
#include <cmath>
#include <vector>

namespace quarn::testing {
namespace {

// An unsigned integer of any size, 32-bit limbs, least significant first.
class BigUint {
 public:
  explicit BigUint(std::uint64_t value)
      : limbs_{static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32)} {}

  void MultiplyBy(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      const std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }
  void MultiplyByPower(std::uint32_t base, std::uint32_t chunk, int chunk_exponent, long exponent) {
    for (; exponent >= chunk_exponent; exponent -= chunk_exponent) MultiplyBy(chunk);
    for (; exponent > 0; --exponent) MultiplyBy(base);
  }

  std::string ToDecimal() const {
    std::vector<std::uint32_t> rest = limbs_;
    std::string digits;
    while (!rest.empty()) {
      std::uint64_t remainder = 0;  // divide by 10^9
      for (std::size_t i = rest.size(); i-- > 0;) {
        const std::uint64_t current = (remainder << 32) | rest[i];
        rest[i] = static_cast<std::uint32_t>(current / 1000000000u);
        remainder = current % 1000000000u;
      }
      while (!rest.empty() && rest.back() == 0) rest.pop_back();
      for (int k = 0; k < 9; ++k, remainder /= 10)
        digits.push_back(static_cast<char>('0' + remainder % 10));
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    return std::string(digits.rbegin(), digits.rend());
  }

 private:
  std::vector<std::uint32_t> limbs_;
};

}  // namespace

ExactDecimal ExactDecimalOf(double value) {
  // |value| = mantissa x 2^exp2, with the hidden bit of a normal value.
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(std::fabs(value));
  const long biased = static_cast<long>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const long exp2 = biased == 0 ? -1074 : biased - 1075;
  BigUint exact(biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52));
  if (exp2 >= 0) {
    exact.MultiplyByPower(2, 1u << 31, 31, exp2);
    return {exact.ToDecimal(), 0};
  }
  exact.MultiplyByPower(5, 1220703125u, 13, -exp2);  // m 2^e = m 5^-e 10^e
  return {exact.ToDecimal(), exp2};
}

}  // namespace quarn::testing
