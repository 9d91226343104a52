#include "textio/number_conversion.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "tests/child_process.hpp"
#include "tests/exact_decimal.hpp"

namespace quarn {
namespace {

struct TokenCase {
  const char* token;
  Conversion result;
  double value;  // as a 64-bit target; the 32-bit target gets (float)value
  bool also_single = true;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TokenCase& c, std::ostream* os) {
  *os << c.token;
}

const TokenCase kTokenCases[] = {
    {"1-2", Conversion::kOk, 0.01},
    {"1d2", Conversion::kOk, 100},
    {"1Q2", Conversion::kOk, 100},
    {"+2.5E+1", Conversion::kOk, 25},
    {"-400", Conversion::kOk, -400},
    {"+", Conversion::kOk, 0},
    {"-", Conversion::kOk, -0.0},
    {".", Conversion::kOk, 0},
    {"e5", Conversion::kOk, 0},
    {"1.5e", Conversion::kOk, 1.5},
    {"1e+", Conversion::kOk, 1},
    {"5-", Conversion::kOk, 5},
    {"0e999999999999999999999", Conversion::kOk, 0},
    {"1e-400", Conversion::kOk, 0},
    {"-1e99999999999999999999", Conversion::kOutOfRange, 0},
    {"1e5e5", Conversion::kSyntaxError, 0},
    {"1e5.0", Conversion::kSyntaxError, 0},
    {"1+2+3", Conversion::kSyntaxError, 0},
    {"1*2", Conversion::kSyntaxError, 0},
};

class TokenConversion : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenConversion, DoubleAndSingleTargets) {
  const TokenCase& c = GetParam();
  double d = 42;
  ASSERT_EQ(ConvertNumber(c.token, d), c.result);
  if (c.result == Conversion::kOk) {
    EXPECT_EQ(d, c.value);
    EXPECT_EQ(std::signbit(d), std::signbit(c.value));
  }
  float f = 42;
  ASSERT_EQ(ConvertNumber(c.token, f), c.result);
  if (c.result == Conversion::kOk) {
    EXPECT_EQ(f, static_cast<float>(c.value));
  }
}

INSTANTIATE_TEST_SUITE_P(Tokens, TokenConversion, ::testing::ValuesIn(kTokenCases));

TEST(TokenConversion, SingleTargetsConvertDirectly) {
  float f = 0;
  ASSERT_EQ(ConvertNumber("16777217", f), Conversion::kOk);
  EXPECT_EQ(f, 16777216.0f);
  // 1 + 2^-24 + 2^-60 lies just above the half-way point between two floats:
  // through a double it would round twice and land on the lower one.
  ASSERT_EQ(ConvertNumber("1.000000059604644776761579", f), Conversion::kOk);
  EXPECT_EQ(f, 1.00000012f);
  EXPECT_EQ(ConvertNumber("1e39", f), Conversion::kOutOfRange);
  EXPECT_EQ(ConvertNumber("3.4028235677973366e38", f), Conversion::kOk);  // the largest float
  ASSERT_EQ(ConvertNumber("1e-50", f), Conversion::kOk);
  EXPECT_EQ(f, 0.0f);
  ASSERT_EQ(ConvertNumber("1e-45", f), Conversion::kOk);  // nearest is the smallest subnormal
  EXPECT_EQ(f, std::numeric_limits<float>::denorm_min());
  double d = 0;
  ASSERT_EQ(ConvertNumber("9007199254740993", d), Conversion::kOk);
  EXPECT_EQ(d, 9007199254740992.0);
  ASSERT_EQ(ConvertNumber("400.1", f), Conversion::kOk);
  EXPECT_EQ(static_cast<double>(f) + 273.15, 673.2500061035156);
}

// Checks that `result` is the correctly rounded value of digits x 10^exp10 (ties
// to even), by exact comparison with the rounding boundaries around it.
template <typename Float>
void ExpectNearest(const std::string& digits, long exp10, Conversion conversion, Float result,
                   const std::string& token) {
  using Limits = std::numeric_limits<Float>;
  const testing::BinaryParts largest = testing::Decompose(Limits::max());
  const testing::BinaryParts smallest = testing::Decompose(Limits::denorm_min());
  if (conversion == Conversion::kOutOfRange) {
    EXPECT_GE(testing::CompareDecimalWithBinary(digits, exp10, 2 * largest.mantissa + 1,
                                                largest.exponent - 1),
              0)
        << token;
    return;
  }
  ASSERT_EQ(conversion, Conversion::kOk) << token;
  if (result == 0) {
    if (digits.find_first_not_of('0') == std::string::npos) return;
    EXPECT_LE(testing::CompareDecimalWithBinary(digits, exp10, 1, smallest.exponent - 1), 0)
        << token;
    return;
  }
  const testing::BinaryParts r = testing::Decompose(result);
  const bool even = r.mantissa % 2 == 0;
  const std::uint64_t hidden = std::uint64_t{1} << (Limits::digits - 1);
  const bool closer_below = r.mantissa == hidden && r.exponent > smallest.exponent;
  const int below =
      closer_below
          ? testing::CompareDecimalWithBinary(digits, exp10, 4 * r.mantissa - 1, r.exponent - 2)
          : testing::CompareDecimalWithBinary(digits, exp10, 2 * r.mantissa - 1, r.exponent - 1);
  const int above =
      testing::CompareDecimalWithBinary(digits, exp10, 2 * r.mantissa + 1, r.exponent - 1);
  EXPECT_TRUE(below > 0 || (below == 0 && even)) << token;
  EXPECT_TRUE(above < 0 || (above == 0 && even)) << token;
}

// A decimal in one of the spellings the reader accepts, with the digits and
// power of ten it stands for.
struct DecimalText {
  std::string token;
  std::string digits;
  long exp10;
};

DecimalText Spell(const std::string& digits, long exp10, bool negative, std::mt19937_64& random) {
  // Put the point somewhere in (or around) the digits and move the exponent to match.
  const long size = static_cast<long>(digits.size());
  const long point = std::min(static_cast<long>(random() % (digits.size() + 2)) - 1, size);
  std::string mantissa;
  if (point < 0) {
    mantissa.append(".").append(static_cast<std::size_t>(-point), '0').append(digits);
  } else {
    mantissa = digits;
    mantissa.insert(static_cast<std::size_t>(point), 1, '.');
  }
  const long written_exponent = exp10 + size - point;
  static const char* const kLetters[] = {"E", "e", "D", "d", "Q", "q", ""};
  const std::string letter = kLetters[random() % 7];
  std::string exponent = std::to_string(written_exponent);
  if (written_exponent >= 0 && (letter.empty() || random() % 2 == 0)) exponent.insert(0, 1, '+');
  std::string token = negative ? "-" : (random() % 4 == 0 ? "+" : "");
  token.append(mantissa).append(letter).append(exponent);
  return {token, digits, exp10};
}

template <typename Float>
DecimalText RandomDecimal(std::mt19937_64& random) {
  using Limits = std::numeric_limits<Float>;
  const bool negative = random() % 2 == 0;
  switch (random() % 3) {
    case 0: {  // random digits at any magnitude, beyond the range now and then
      std::string digits(1 + random() % 25, '0');
      for (char& c : digits) c = static_cast<char>('0' + random() % 10);
      const long span = Limits::max_exponent10 - Limits::min_exponent10 + 40;
      const long exp10 = Limits::min_exponent10 - 30 + static_cast<long>(random() % span) -
                         static_cast<long>(digits.size());
      return Spell(digits, exp10, negative, random);
    }
    default: {  // exactly half-way between two neighbours, or a last digit either side
      Float value;
      do {
        using Bits = std::conditional_t<sizeof(Float) == 8, std::uint64_t, std::uint32_t>;
        value = std::bit_cast<Float>(static_cast<Bits>(random()));
      } while (!std::isfinite(value) || value == 0 || std::fabs(value) == Limits::max());
      const testing::BinaryParts parts = testing::Decompose(value);
      const std::uint64_t mid = 2 * parts.mantissa + 1;
      const long exp2 = parts.exponent - 1;
      const testing::ExactDecimal half_way = testing::ExactDecimalOf(mid, exp2);
      std::string digits = half_way.digits;
      long exp10 = half_way.exp10;
      const int nudge = static_cast<int>(random() % 3);  // 0: exact, 1: below, 2: above
      if (nudge == 1) {
        digits += "0";
        --exp10;
        std::size_t i = digits.size() - 1;
        while (digits[i] == '0') digits[i--] = '9';
        --digits[i];
      } else if (nudge == 2) {
        digits += "1";
        --exp10;
      }
      return Spell(digits, exp10, negative, random);
    }
  }
}

template <typename Float>
void CheckRandomDecimals(std::uint64_t seed, long count) {
  std::mt19937_64 random(seed);
  for (long i = 0; i < count; ++i) {
    const DecimalText text = RandomDecimal<Float>(random);
    Float result = 0;
    const Conversion conversion = ConvertNumber(text.token, result);
    ExpectNearest(text.digits, text.exp10, conversion, result, text.token);
    if (conversion == Conversion::kOk && result != 0) {
      EXPECT_EQ(std::signbit(result), text.token[0] == '-') << text.token;
    }
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(ConversionExactness, RandomDecimalsIntoDoubles) {
  CheckRandomDecimals<double>(1, testing::ScaledCount(60000));
}

TEST(ConversionExactness, RandomDecimalsIntoFloats) {
  CheckRandomDecimals<float>(2, testing::ScaledCount(60000));
}

}  // namespace
}  // namespace quarn
