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
#include "textio/channel.hpp"
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
  int expected;  // kOk, kEof, or the message number of the failure
  std::array<double, 3> values;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(c.input.substr(0, 40));
}

const std::string kTie = "9007199254740993" + std::string(5000, '0');  // exactly half-way

// clang-format off
const ReadCase kReadCases[] = {
    {"400 1000\r\n", true, kOk, {400, 1000}}, {"400,1000\n", true, kOk, {400, 1000}},
    {"400 , 1000\n", true, kOk, {400, 1000}}, {"\t400\t1000\n", true, kOk, {400, 1000}},
    {"400\n1000\n", true, kOk, {400, 1000}}, {"400 1000 999\n", true, kOk, {400, 1000}},
    {"400 1,000\n", true, kOk, {400, 1}}, {"400 1000", true, kOk, {400, 1000}},
    {"400 1000\r", true, kOk, {400, 1000}},
    {"400 1000)", true, kOk, {400, 1000}},  // nothing after the last value is examined
    {"", true, 24, {}}, {"\n  \n", true, 24, {}}, {"400\n", true, 24, {}},
    {"1e39 1\n", true, 64, {}},
    // 32-bit targets are converted directly from the text: 1 + 2^-24 + 2^-60
    // would round twice through a double and land on 1.
    {"16777217 400.1\n", true, kOk, {16777216, 0x1.90199ap+8}},
    {"1.000000059604644776761579 3.4028235677973366e38\n", true, kOk, {0x1.000002p+0, 0x1.fffffep+127}},
    {"1e-45 1e-50\n", true, kOk, {0x1p-149, 0}},
    {"", false, kEof, {U, U, U}}, {"\n \t\n\n", false, kEof, {U, U, U}},
    {"\x1a\r\n0.1 0.2 0.3\n", false, kEof, {U, U, U}},
    {"0.5 0.5\n", false, 24, {}}, {"0.5 0.5", false, 24, {}}, {"0.5,\n", false, 24, {}},
    {"0.1 0.2 0.3", false, kOk, {0.1, 0.2, 0.3}},
    {"3*0.3333\n", false, kOk, {0.3333, 0.3333, 0.3333}}, {"5*0.5\n", false, kOk, {0.5, 0.5, 0.5}},
    {"2*0.5 9\n", false, kOk, {0.5, 0.5, 9}}, {"0.1 2*\n", false, kOk, {0.1, U, U}},
    {"2*,0.5\n", false, kOk, {U, U, 0.5}}, {"0*1 2 3\n", false, 59, {}},
    {"2*T 1\n", false, 59, {}}, {"2*F 1\n", false, 59, {}},  // repeat counts take numbers only
    {"2*(0.5,0.1) 1\n", false, 59, {}}, {"2*'a' 1\n", false, 59, {}},
    {"0.5,,0.2\n", false, kOk, {0.5, U, 0.2}}, {"0.5, ,0.2\n", false, kOk, {0.5, U, 0.2}},
    {",0.2,0.3\n", false, kOk, {U, 0.2, 0.3}}, {"0.1,\n,0.3\n", false, kOk, {0.1, U, 0.3}},
    {"0.1\n,0.2,0.3\n", false, kOk, {0.1, 0.2, 0.3}}, {"0.5 0.3 /\n", false, kOk, {0.5, 0.3, U}},
    {"0.2 0.8/ 9\n", false, kOk, {0.2, 0.8, U}}, {"/\n", false, kOk, {U, U, U}},
    {"1.0D-1 1.0q-1 1.0-1\n", false, kOk, {0.1, 0.1, 0.1}},
    {"1-2 1d2 +2.5E+1\n", false, kOk, {0.01, 100, 25}}, {"- . e5\n", false, kOk, {-0.0, 0, 0}},
    {"1.5e 1e+ 5-\n", false, kOk, {1.5, 1, 5}}, {"0e999999999999999999999 1e-400 .1\n", false, kOk, {0, 0, 0.1}},
    {"9007199254740993 " + kTie + "e-5000 " + kTie + "1e-5001\n", false, kOk,  // ties to even; a
     {9007199254740992.0, 9007199254740992.0, 9007199254740994.0}},  // digit far out breaks one
    {"0." + std::string(600, '0') + "1e700 1 1\n", false, kOk, {1e99, 1, 1}},
    {"-1e99999999999999999999 1 1\n", false, 64, {}}, {"1e400 1 1\n", false, 64, {}},
    {"1e5e5 1 1\n", false, 59, {}}, {"1e5.0 1 1\n", false, 59, {}}, {"1+2+3 1 1\n", false, 59, {}},
    {"T F .true.\n", false, kOk, {-1, 0, -1}}, {"t .f. false\n", false, kOk, {-1, 0, 0}},
    {"0.5 0.5 T)\n", false, kOk, {0.5, 0.5, -1}},
    {"'a' 1 2\n", false, 64, {}}, {"1 \"b\" 2\n", false, 64, {}},
    {"(0.5,0.1) 2 3\n", false, kOk, {0.5, 2, 3}}, {"(0.5 ,-15.2E2) 2 3\n", false, kOk, {0.5, 2, 3}},
    {"(,0) 2 3\n", false, kOk, {0, 2, 3}}, {"( ,0) 2 3\n", false, kOk, {0, 2, 3}},  // empty: zero
    {"( 0.5,0) 2 3\n", false, 59, {}},  // the real part starts right after "("
    {"0.5 0.5 (0.1,0)x\n", false, kOk, {0.5, 0.5, 0.1}},
    {"0.5 0.5 (0.1,0)\r\r\n", false, kOk, {0.5, 0.5, 0.1}},
    {"(0.5,0)0.2 0.3\n", false, 59, {}},  // before the last target a separator must follow
    {"(0.5, 1) 2 3\n", false, 59, {}}, {"(0.5,x) 2 3\n", false, 59, {}},
    {"(0.5,1 2 3\n", false, 59, {}}, {"0.1.2 1 2\n", false, 59, {}}, {"abc\n", false, 59, {}},
    {"1;2 3 4\n", false, 59, {}}, {"0.5) 1 1\n", false, 59, {}}, {"0.1 0..2 0.3\n", false, 59, {}},
};
// clang-format on

int Outcome(const ReadStatus& status) {
  return status.result == ReadResult::kComplete    ? kOk
         : status.result == ReadResult::kEndOfFile ? kEof
                                                   : status.error.message;
}

class FreeFormatRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(FreeFormatRead, FillsTargetsOrFails) {
  const ReadCase& c = GetParam();
  Channel channel;
  LoadInput(channel, c.input);
  float T = static_cast<float>(U), P = static_cast<float>(U);
  std::array<double, 3> x = {U, U, U};
  const ReadStatus status = c.first_line ? ReadFreeFormat(channel, {T, P}, false)
                                         : ReadFreeFormat(channel, {x[0], x[1], x[2]}, true);
  ASSERT_EQ(Outcome(status), c.expected);
  if (c.expected > 0) return;
  if (c.first_line) x = {T, P, c.values[2]};
  using Bits = std::array<std::uint64_t, 3>;
  EXPECT_EQ(std::bit_cast<Bits>(x), std::bit_cast<Bits>(c.values));
}

INSTANTIATE_TEST_SUITE_P(Records, FreeFormatRead, ::testing::ValuesIn(kReadCases));

TEST(FreeFormatRead, EachReadStartsOnANewRecord) {
  Channel channel;
  LoadInput(channel, "400 1000 999\n0.2 0.8\n0.3 0.4 0.5\n\n0.1 0.2 0.3 0.4\n");
  float T = 0, P = 0;
  std::array<double, 3> x = {0, 0, 0};
  EXPECT_EQ(Outcome(ReadFreeFormat(channel, {T, P}, false)), kOk);
  // A composition split over two lines; the rest of the second is lost.
  EXPECT_EQ(Outcome(ReadFreeFormat(channel, {x[0], x[1], x[2]}, true)), kOk);
  EXPECT_EQ(x, (std::array<double, 3>{0.2, 0.8, 0.3}));
  EXPECT_EQ(Outcome(ReadFreeFormat(channel, {x[0], x[1], x[2]}, true)), kOk);
  EXPECT_EQ(x, (std::array<double, 3>{0.1, 0.2, 0.3}));
  EXPECT_EQ(channel.input.records_taken, 5u);
  EXPECT_EQ(Outcome(ReadFreeFormat(channel, {x[0], x[1], x[2]}, true)), kEof);
}

TEST(FreeFormatRead, FailingSystemReadIsMessage39) {
  Channel channel;
  channel.fd = ::open(".", O_RDONLY | O_DIRECTORY);  // read() fails with EISDIR
  std::array<double, 3> x = {0, 0, 0};
  const ReadStatus status = ReadFreeFormat(channel, {x[0], x[1], x[2]}, true);
  ::close(channel.fd);
  EXPECT_EQ(Outcome(status), 39);
  EXPECT_EQ(status.error.os_error, EISDIR);
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
