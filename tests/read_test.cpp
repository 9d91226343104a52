// The free-format reader and the conversion of its numeric tokens.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "tests/support/exact_decimal.hpp"
#include "tests/support/process.hpp"
#include "textio/free_format_read.hpp"
#include "textio/number_conversion.hpp"

namespace quarn {
namespace {

constexpr double U = 7.0;  // every target's value before the read: untouched
constexpr int kOk = 0, kEof = -1;

// A first-line read fills two 32-bit targets and stops at end of file; a
// composition read fills three 64-bit targets and returns end of file.
struct ReadCase {
  std::string input;
  bool first_line;
  int expected;  // kOk, kEof, or the message number of the stop
  std::array<double, 3> values;
};

const ReadCase kReadCases[] = {
    {"400 1000\r\n", true, kOk, {400, 1000}},
    {"400,1000\n", true, kOk, {400, 1000}},
    {"400 , 1000\n", true, kOk, {400, 1000}},
    {"\t400\t1000\n", true, kOk, {400, 1000}},
    {"400\n1000\n", true, kOk, {400, 1000}},
    {"400 1000 999\n", true, kOk, {400, 1000}},
    {"400 1,000\n", true, kOk, {400, 1}},
    {"400 1000", true, kOk, {400, 1000}},
    {"400 1000\r", true, kOk, {400, 1000}},
    {"400 1000)", true, kOk, {400, 1000}},  // nothing after the last value is examined
    {"", true, 24, {}},
    {"\n  \n", true, 24, {}},
    {"400\n", true, 24, {}},
    {"1e39 1\n", true, 64, {}},
    {"1e-50 1\n", true, kOk, {0, 1}},
    {"16777217 400.1\n", true, kOk, {16777216, 400.1000061035156}},
    {"", false, kEof, {U, U, U}},
    {"\n \t\n\n", false, kEof, {U, U, U}},
    {"\x1a\r\n0.1 0.2 0.3\n", false, kEof, {U, U, U}},
    {"0.5 0.5\n", false, 24, {}},
    {"0.5 0.5", false, 24, {}},
    {"0.5,\n", false, 24, {}},
    {"0.1 0.2 0.3", false, kOk, {0.1, 0.2, 0.3}},
    {"3*0.3333\n", false, kOk, {0.3333, 0.3333, 0.3333}},
    {"5*0.5\n", false, kOk, {0.5, 0.5, 0.5}},
    {"2*0.5 9\n", false, kOk, {0.5, 0.5, 9}},
    {"0.1 2*\n", false, kOk, {0.1, U, U}},
    {"2*,0.5\n", false, kOk, {U, U, 0.5}},
    {"0*1 2 3\n", false, 59, {}},
    {"2*T 1\n", false, 59, {}},  // a repeat count takes numeric values only
    {"2*F 1\n", false, 59, {}},
    {"2*(0.5,0.1) 1\n", false, 59, {}},
    {"2*'a' 1\n", false, 59, {}},
    {"0.5,,0.2\n", false, kOk, {0.5, U, 0.2}},
    {"0.5, ,0.2\n", false, kOk, {0.5, U, 0.2}},
    {",0.2,0.3\n", false, kOk, {U, 0.2, 0.3}},
    {"0.1,\n,0.3\n", false, kOk, {0.1, U, 0.3}},
    {"0.1\n,0.2,0.3\n", false, kOk, {0.1, 0.2, 0.3}},
    {"0.5 0.3 /\n", false, kOk, {0.5, 0.3, U}},
    {"0.2 0.8/ 9\n", false, kOk, {0.2, 0.8, U}},
    {"/\n", false, kOk, {U, U, U}},
    {"1.0D-1 1.0q-1 1.0-1\n", false, kOk, {0.1, 0.1, 0.1}},
    {"T F .true.\n", false, kOk, {-1, 0, -1}},
    {"t .f. false\n", false, kOk, {-1, 0, 0}},
    {"0.5 0.5 T)\n", false, kOk, {0.5, 0.5, -1}},
    {"'a' 1 2\n", false, 64, {}},
    {"1 \"b\" 2\n", false, 64, {}},
    {"(0.5,0.1) 2 3\n", false, kOk, {0.5, 2, 3}},
    {"(0.5 ,-15.2E2) 2 3\n", false, kOk, {0.5, 2, 3}},
    {"(,0) 2 3\n", false, kOk, {0, 2, 3}},  // an empty real part is zero
    {"( ,0) 2 3\n", false, kOk, {0, 2, 3}},
    {"( 0.5,0) 2 3\n", false, 59, {}},  // the real part starts right after "("
    {"0.5 0.5 (0.1,0)x\n", false, kOk, {0.5, 0.5, 0.1}},
    {"0.5 0.5 (0.1,0)\r\r\n", false, kOk, {0.5, 0.5, 0.1}},
    {"(0.5,0)0.2 0.3\n", false, 59, {}},  // before the last target a separator must follow
    {"(0.5, 1) 2 3\n", false, 59, {}},
    {"(0.5,x) 2 3\n", false, 59, {}},
    {"(0.5,1 2 3\n", false, 59, {}},
    {"0.1.2 1 2\n", false, 59, {}},
    {"abc\n", false, 59, {}},
    {"1;2 3 4\n", false, 59, {}},
    {"0.5) 1 1\n", false, 59, {}},
    {"1e400 1 1\n", false, 64, {}},
    {"0.1 0..2 0.3\n", false, 59, {}},
};

class FreeFormatRead : public ::testing::TestWithParam<ReadCase> {};

// The status a test expects: kOk, kEof or the message number of the failure.
int Outcome(const ReadStatus& status) {
  switch (status.result) {
    case ReadResult::kComplete:
      return kOk;
    case ReadResult::kEndOfFile:
      return kEof;
    case ReadResult::kFailed:
      return status.error.message;
  }
  return -99;
}

TEST_P(FreeFormatRead, FillsTargetsOrFails) {
  const ReadCase& c = GetParam();
  testing::ChannelWithContent channel(c.input);
  float T = static_cast<float>(U), P = static_cast<float>(U);
  std::array<double, 3> x = {U, U, U};
  const ReadStatus status = c.first_line ? ReadFreeFormat(*channel, {T, P}, false)
                                         : ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true);
  ASSERT_EQ(Outcome(status), c.expected) << c.input;
  if (c.expected > 0) return;
  if (c.first_line) x = {T, P, c.values[2]};
  EXPECT_EQ(x, c.values) << c.input;
}

INSTANTIATE_TEST_SUITE_P(Records, FreeFormatRead, ::testing::ValuesIn(kReadCases));

TEST(FreeFormatRead, EachReadStartsOnANewRecord) {
  const std::string blanks(300000, ' ');  // a record far longer than the first buffer
  testing::ChannelWithContent channel("400 1000 999\n0.2 0.8\n0.3 0.4 0.5\n\n0.1" + blanks +
                                      "0.2 0.3 0.4\n");
  float T = 0, P = 0;
  std::array<double, 3> x = {0, 0, 0};
  EXPECT_EQ(Outcome(ReadFreeFormat(*channel, {T, P}, false)), kOk);
  // A composition split over two lines; the rest of the second is lost.
  EXPECT_EQ(Outcome(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true)), kOk);
  EXPECT_EQ(x, (std::array<double, 3>{0.2, 0.8, 0.3}));
  EXPECT_EQ(Outcome(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true)), kOk);
  EXPECT_EQ(x, (std::array<double, 3>{0.1, 0.2, 0.3}));
  EXPECT_EQ((*channel).input.records_taken, 5u);
  EXPECT_EQ(Outcome(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true)), kEof);
}

TEST(FreeFormatRead, FailingSystemReadIsMessage39) {
  testing::ChannelWithContent channel("");
  ::close((*channel).fd);
  (*channel).fd = ::open(".", O_RDONLY | O_DIRECTORY);  // read() fails with EISDIR
  std::array<double, 3> x = {0, 0, 0};
  const ReadStatus status = ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true);
  EXPECT_EQ(Outcome(status), 39);
  EXPECT_EQ(status.error.os_error, EISDIR);
}

// Tokens whose value is known exactly: {token, result, value as a double}; the
// 32-bit target gets the same result and (float)value unless said otherwise.
struct TokenCase {
  std::string token;
  Conversion result;
  double value;
};

TEST(TokenConversion, SpellingsAndLimits) {
  const std::string long_half = "9007199254740993" + std::string(5000, '0');  // exactly a tie
  const TokenCase cases[] = {
      {"1-2", Conversion::kOk, 0.01},
      {"1d2", Conversion::kOk, 100},
      {"1Q2", Conversion::kOk, 100},
      {"+2.5E+1", Conversion::kOk, 25},
      {"-", Conversion::kOk, -0.0},
      {".", Conversion::kOk, 0},
      {"", Conversion::kOk, 0},
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
      {"9007199254740993", Conversion::kOk, 9007199254740992.0},  // the tie goes to even
      // Digits far past the ones that round decide only whether the rest is zero.
      {long_half + "e-5000", Conversion::kOk, 9007199254740992.0},
      {long_half + "1e-5001", Conversion::kOk, 9007199254740994.0},
      {"0." + std::string(600, '0') + "1e700", Conversion::kOk, 1e99},
  };
  for (const TokenCase& c : cases) {
    double d = 42;
    float f = 42;
    ASSERT_EQ(ConvertNumber(c.token, d), c.result) << c.token.substr(0, 40);
    if (c.result == Conversion::kOk) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(d), std::bit_cast<std::uint64_t>(c.value))
          << c.token.substr(0, 40);
    }
    if (c.value >= 1e38) continue;
    ASSERT_EQ(ConvertNumber(c.token, f), c.result) << c.token.substr(0, 40);
    if (c.result == Conversion::kOk && c.value < 1e15) {
      EXPECT_EQ(f, static_cast<float>(c.value));
    }
  }
}

TEST(TokenConversion, SingleTargetsConvertDirectly) {
  // 1 + 2^-24 + 2^-60 lies just above the half-way point between two floats:
  // through a double it would round twice and land on the lower one.
  const std::pair<const char*, float> cases[] = {
      {"16777217", 16777216.0f},
      {"1.000000059604644776761579", 1.00000012f},
      {"3.4028235677973366e38", std::numeric_limits<float>::max()},
      {"1e-45", std::numeric_limits<float>::denorm_min()},
      {"1e-50", 0.0f},
  };
  for (const auto& [token, expected] : cases) {
    float f = 42;
    ASSERT_EQ(ConvertNumber(token, f), Conversion::kOk) << token;
    EXPECT_EQ(f, expected) << token;
  }
}

// Checks that `result` is the correctly rounded value of digits x 10^exp10 (ties
// to even), by exact comparison with the rounding boundaries around it.
template <typename Float>
void ExpectNearest(const std::string& digits, long exp10, Conversion conversion, Float result,
                   const std::string& token) {
  using Limits = std::numeric_limits<Float>;
  const testing::BinaryParts largest = testing::Decompose(Limits::max());
  const testing::BinaryParts smallest = testing::Decompose(Limits::denorm_min());
  auto compare = [&](std::uint64_t m, long e) {
    return testing::CompareDecimalWithBinary(digits, exp10, m, e);
  };
  if (conversion == Conversion::kOutOfRange) {
    EXPECT_GE(compare(2 * largest.mantissa + 1, largest.exponent - 1), 0) << token;
    return;
  }
  ASSERT_EQ(conversion, Conversion::kOk) << token;
  if (result == 0) {
    if (digits.find_first_not_of('0') != std::string::npos) {
      EXPECT_LE(compare(1, smallest.exponent - 1), 0) << token;
    }
    return;
  }
  const testing::BinaryParts r = testing::Decompose(result);
  const bool even = r.mantissa % 2 == 0;
  const bool closer_below =
      r.mantissa == std::uint64_t{1} << (Limits::digits - 1) && r.exponent > smallest.exponent;
  const int below = closer_below ? compare(4 * r.mantissa - 1, r.exponent - 2)
                                 : compare(2 * r.mantissa - 1, r.exponent - 1);
  const int above = compare(2 * r.mantissa + 1, r.exponent - 1);
  EXPECT_TRUE(below > 0 || (below == 0 && even)) << token;
  EXPECT_TRUE(above < 0 || (above == 0 && even)) << token;
}

// digits x 10^exp10 spelled as the reader accepts it: the point anywhere in or
// around the digits, any exponent letter or none, an optional sign.
std::string Spell(const std::string& digits, long exp10, bool negative, std::mt19937_64& random) {
  const long size = static_cast<long>(digits.size());
  const long point = std::min(static_cast<long>(random() % (digits.size() + 2)) - 1, size);
  std::string mantissa = digits;
  if (point < 0) {
    mantissa.insert(0, static_cast<std::size_t>(-point), '0');
    mantissa.insert(0, 1, '.');
  } else {
    mantissa.insert(static_cast<std::size_t>(point), 1, '.');
  }
  const long written_exponent = exp10 + size - point;
  static const char* const kLetters[] = {"E", "e", "D", "d", "Q", "q", ""};
  const std::string letter = kLetters[random() % 7];
  std::string exponent = std::to_string(written_exponent);
  if (written_exponent >= 0 && (letter.empty() || random() % 2 == 0)) exponent.insert(0, 1, '+');
  return (negative ? "-" : random() % 4 == 0 ? "+" : "") + mantissa + letter + exponent;
}

// Random digits at any magnitude, or a value exactly half-way between two
// neighbours, or a last digit either side of that half.
template <typename Float>
void CheckRandomDecimals(std::uint64_t seed, long count) {
  using Limits = std::numeric_limits<Float>;
  using Bits = std::conditional_t<sizeof(Float) == 8, std::uint64_t, std::uint32_t>;
  std::mt19937_64 random(seed);
  for (long i = 0; i < count && !::testing::Test::HasFailure(); ++i) {
    std::string digits;
    long exp10;
    if (random() % 3 == 0) {
      digits.resize(1 + random() % 25);
      for (char& c : digits) c = static_cast<char>('0' + random() % 10);
      const long span = Limits::max_exponent10 - Limits::min_exponent10 + 40;
      exp10 = Limits::min_exponent10 - 30 + static_cast<long>(random() % span) -
              static_cast<long>(digits.size());
    } else {
      Float value;
      do {
        value = std::bit_cast<Float>(static_cast<Bits>(random()));
      } while (!std::isfinite(value) || value == 0 || std::fabs(value) == Limits::max());
      const testing::BinaryParts parts = testing::Decompose(value);
      const testing::ExactDecimal half_way =
          testing::ExactDecimalOf(2 * parts.mantissa + 1, parts.exponent - 1);
      digits = half_way.digits;
      exp10 = half_way.exp10;
      if (const int nudge = static_cast<int>(random() % 3); nudge == 1) {  // just below
        std::size_t k = digits.size() - 1;
        digits += "9";
        while (digits[k] == '0') digits[k--] = '9';
        --digits[k];
        --exp10;
      } else if (nudge == 2) {  // just above
        digits += "1";
        --exp10;
      }
    }
    const std::string token = Spell(digits, exp10, random() % 2 == 0, random);
    Float result = 0;
    const Conversion conversion = ConvertNumber(token, result);
    ExpectNearest(digits, exp10, conversion, result, token);
    if (conversion == Conversion::kOk && result != 0) {
      EXPECT_EQ(std::signbit(result), token[0] == '-') << token;
    }
  }
}

TEST(ConversionExactness, RandomDecimals) {
  CheckRandomDecimals<double>(1, testing::ScaledCount(60000));
  CheckRandomDecimals<float>(2, testing::ScaledCount(60000));
}

}  // namespace
}  // namespace quarn
