#include "tests/support/exact_decimal.hpp"

#include <bit>
#include <cmath>
#include <vector>

namespace quarn::testing {
namespace {

// An unsigned integer of any size, 32-bit limbs, least significant first.
class BigUint {
 public:
  explicit BigUint(std::uint64_t value) {
    while (value != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(value));
      value >>= 32;
    }
  }

  void MultiplyBy(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      const std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }

  void Add(std::uint32_t value) {
    std::uint64_t carry = value;
    for (std::uint32_t& limb : limbs_) {
      if (carry == 0) return;
      const std::uint64_t sum = std::uint64_t{limb} + carry;
      limb = static_cast<std::uint32_t>(sum);
      carry = sum >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }

  void MultiplyByPowerOfFive(long exponent) {
    for (; exponent >= 13; exponent -= 13) MultiplyBy(1220703125u);  // 5^13
    for (; exponent > 0; --exponent) MultiplyBy(5);
  }

  void ShiftLeft(long bits) {
    if (limbs_.empty()) return;
    limbs_.insert(limbs_.begin(), static_cast<std::size_t>(bits / 32), 0u);
    const int rest = static_cast<int>(bits % 32);
    if (rest == 0) return;
    std::uint32_t carry = 0;
    for (std::uint32_t& limb : limbs_) {
      const std::uint32_t next = limb >> (32 - rest);
      limb = (limb << rest) | carry;
      carry = next;
    }
    if (carry != 0) limbs_.push_back(carry);
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
      for (int k = 0; k < 9; ++k) {
        digits.push_back(static_cast<char>('0' + remainder % 10));
        remainder /= 10;
      }
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    return std::string(digits.rbegin(), digits.rend());
  }

  friend int Compare(const BigUint& a, const BigUint& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    }
    return 0;
  }

 private:
  std::vector<std::uint32_t> limbs_;  // no leading zero limbs
};

BigUint FromDigits(const std::string& digits) {
  BigUint value(0);
  for (char c : digits) {
    value.MultiplyBy(10);
    value.Add(static_cast<std::uint32_t>(c - '0'));
  }
  return value;
}

}  // namespace

int CompareDecimalWithBinary(const std::string& digits, long exp10, std::uint64_t mantissa,
                             long exp2) {
  // digits 5^exp10 2^exp10 against mantissa 2^exp2: move negative powers across.
  BigUint left = FromDigits(digits);
  BigUint right(mantissa);
  long left_twos = 0;
  long right_twos = exp2;
  if (exp10 >= 0) {
    left.MultiplyByPowerOfFive(exp10);
    left_twos += exp10;
  } else {
    right.MultiplyByPowerOfFive(-exp10);
    right_twos -= exp10;
  }
  const long common = std::min(left_twos, right_twos);
  left.ShiftLeft(left_twos - common);
  right.ShiftLeft(right_twos - common);
  return Compare(left, right);
}

ExactDecimal ExactDecimalOf(std::uint64_t mantissa, long exp2) {
  BigUint value(mantissa);
  if (exp2 >= 0) {
    value.ShiftLeft(exp2);
    return {value.ToDecimal(), 0};
  }
  value.MultiplyByPowerOfFive(-exp2);  // m 2^e = m 5^-e 10^e
  return {value.ToDecimal(), exp2};
}

BinaryParts Decompose(double value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(std::fabs(value));
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const long biased = static_cast<long>(bits >> 52);
  if (biased == 0) return {fraction, -1074};
  return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

BinaryParts Decompose(float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(std::fabs(value));
  const std::uint32_t fraction = bits & ((1u << 23) - 1);
  const long biased = static_cast<long>(bits >> 23);
  if (biased == 0) return {fraction, -149};
  return {fraction | (1u << 23), biased - 150};
}

}  // namespace quarn::testing
