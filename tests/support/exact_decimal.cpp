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

// digits x 10^exp10 as (significant digits without trailing zeros, position of the point).
std::pair<std::string, long> Normalized(const std::string& digits, long exp10) {
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return {"", 0};
  std::string d = digits.substr(first);
  const long point = static_cast<long>(d.size()) + exp10;
  d.erase(d.find_last_not_of('0') + 1);
  return {d, point};
}

}  // namespace

ExactDecimal ExactDecimalOf(std::uint64_t mantissa, long exp2) {
  BigUint value(mantissa);
  if (exp2 >= 0) {
    value.MultiplyByPower(2, 1u << 31, 31, exp2);
    return {value.ToDecimal(), 0};
  }
  value.MultiplyByPower(5, 1220703125u, 13, -exp2);  // m 2^e = m 5^-e 10^e
  return {value.ToDecimal(), exp2};
}

int CompareDecimalWithBinary(const std::string& digits, long exp10, std::uint64_t mantissa,
                             long exp2) {
  const ExactDecimal binary = ExactDecimalOf(mantissa, exp2);
  const auto [a, a_point] = Normalized(digits, exp10);
  const auto [b, b_point] = Normalized(binary.digits, binary.exp10);
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : a.empty() ? -1 : 1;
  if (a_point != b_point) return a_point < b_point ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
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
