#include "textio/field_rendering.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "tests/child_process.hpp"
#include "tests/exact_decimal.hpp"

namespace quarn {
namespace {

// Fields are shown with an underscore for each blank.
std::string Shown(std::string field) {
  for (char& c : field) {
    if (c == ' ') c = '_';
  }
  return field;
}

std::string Fixed(double value, int width, int fraction) {
  std::string field(static_cast<std::size_t>(width), '?');
  RenderFixedField(value, width, fraction, field.data());
  return Shown(field);
}

std::string Exponent(double value, int width, int digits) {
  std::string field(static_cast<std::size_t>(width), '?');
  RenderExponentField(value, width, digits, field.data());
  return Shown(field);
}

struct FieldCase {
  double value;
  int width, digits;
  const char* shown;
};

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const FieldCase kFixedCases[] = {
    {400, 5, 0, "_400."},     {399.5, 5, 0, "_400."},
    {0.5, 5, 0, "___1."},     {2.5, 5, 0, "___3."},
    {-0.5, 5, 0, "__-1."},    {0.3, 5, 0, "___0."},
    {-0.3, 5, 0, "___0."},    {-0.0, 5, 0, "___0."},
    {-999, 5, 0, "-999."},    {12345, 5, 0, "*****"},
    {-1234, 5, 0, "*****"},   {9999.4, 5, 0, "9999."},
    {9999.5, 5, 0, "*****"},  {-999.5, 5, 0, "*****"},
    {1000, 6, 0, "_1000."},   {2500.5, 6, 0, "_2501."},
    {-99999, 6, 0, "******"}, {99999.4, 6, 0, "99999."},
    {0.125, 5, 2, "_0.13"},   {-0.5, 4, 2, "-.50"},
    {0.5, 3, 2, ".50"},       {-0.04, 5, 1, "__0.0"},
    {-0.05, 5, 1, "_-0.1"},   {9.96, 5, 1, "_10.0"},
    {0.004, 5, 2, "_0.00"},   {1e300, 6, 0, "******"},
    {kInf, 5, 0, "*****"},    {-kInf, 6, 0, "******"},
    {kNaN, 5, 0, "*****"},    {5e-324, 5, 0, "___0."},
    {4.5, 2, 0, "5."},        {0.49999999999999994, 5, 0, "___0."},
};

const FieldCase kExponentCases[] = {
    {0.123456789, 14, 8, "0.12345679E+00"},
    {0.123456785, 14, 8, "0.12345678E+00"},  // just below the half in binary
    {1.0, 14, 8, "0.10000000E+01"},
    {1e-05, 14, 8, "0.10000000E-04"},
    {-123.456, 14, 8, "-.12345600E+03"},
    {0.0, 14, 8, "0.00000000E+00"},
    {-0.0, 14, 8, "0.00000000E+00"},
    {-0.5, 14, 8, "-.50000000E+00"},
    {0.99999999995, 14, 8, "0.10000000E+01"},
    {1e100, 14, 8, "0.10000000+101"},
    {1e-300, 14, 8, "0.10000000-299"},
    {5e-324, 14, 8, "0.49406565-323"},
    {1.7976931348623157e308, 14, 8, "0.17976931+309"},
    {-1e100, 14, 8, "-.10000000+101"},
    {kInf, 14, 8, "_Infinity_____"},
    {-kInf, 14, 8, "_-Infinity____"},
    {kNaN, 14, 8, "_NaN__________"},
    {0.125, 10, 2, "__0.13E+00"},
    {-0.125, 10, 2, "_-0.13E+00"},
    {0.5, 7, 2, ".50E+00"},
    {-0.5, 7, 2, "*******"},
    {0.5, 14, 8, "0.50000000E+00"},
    {1.5e-5, 14, 8, "0.15000000E-04"},
    {2.5, 6, 1, ".3E+01"},
    {2.5, 7, 1, "0.3E+01"},
};

TEST(FixedField, Examples) {
  for (const FieldCase& c : kFixedCases) {
    EXPECT_EQ(Fixed(c.value, c.width, c.digits), c.shown)
        << c.value << " in F" << c.width << "." << c.digits;
  }
}

TEST(ExponentField, Examples) {
  for (const FieldCase& c : kExponentCases) {
    EXPECT_EQ(Exponent(c.value, c.width, c.digits), c.shown)
        << c.value << " in E" << c.width << "." << c.digits;
  }
}

TEST(CharacterField, RightJustifiesOrCuts) {
  std::string field(6, '?');
  RenderCharacterField("abc", 6, field.data());
  EXPECT_EQ(field, "   abc");
  RenderCharacterField("abcdefgh", 6, field.data());
  EXPECT_EQ(field, "abcdef");
}

// Values exactly half-way at eight significant digits round away from zero;
// decimals that only look half-way are decided by their binary value.
TEST(ExponentField, ExactHalvesRoundAwayFromZero) {
  EXPECT_EQ(Exponent(1.000000005, 14, 8), "0.10000000E+01");  // below half in binary
  EXPECT_EQ(Exponent(123456785.0, 14, 8), "0.12345679E+09");  // an exact half
  EXPECT_EQ(Exponent(-123456785.0, 14, 8), "-.12345679E+09");
  EXPECT_EQ(Exponent(123456775.0, 14, 8), "0.12345678E+09");  // half, even below: still away
  EXPECT_EQ(Exponent(999999995.0, 14, 8), "0.10000000E+10");  // half with a carry
}

// E14.8 and Fw.0 against exact rounding boundaries for random doubles of every
// kind: each printed result N must satisfy (N - 1/2) <= |v| < (N + 1/2) in units
// of its last digit, exactly.
struct ParsedField {
  bool negative;
  std::string digits;  // the decimal digits shown, in order
  long exp10;          // the value shown is digits x 10^exp10
};

ParsedField ParseExponentField(const std::string& field) {
  ParsedField parsed{false, "", 0};
  std::size_t i = field.find_first_not_of(' ');
  if (field[i] == '-') {
    parsed.negative = true;
    ++i;
  }
  if (field[i] == '0') ++i;
  EXPECT_EQ(field[i], '.') << field;
  ++i;
  while (i < field.size() && std::isdigit(static_cast<unsigned char>(field[i])))
    parsed.digits += field[i++];
  if (field[i] == 'E') ++i;
  int exponent = 0;
  std::from_chars(field.data() + i + (field[i] == '+' ? 1 : 0), field.data() + field.size(),
                  exponent);
  parsed.exp10 = exponent - static_cast<long>(parsed.digits.size());
  return parsed;
}

std::string Decrement(std::string digits) {
  std::size_t i = digits.size() - 1;
  while (digits[i] == '0') digits[i--] = '9';
  --digits[i];
  return digits;
}

// Checks (N - 1/2) 10^e <= |v| < (N + 1/2) 10^e, exactly.
void ExpectRoundedHalfAway(double value, const ParsedField& shown, const std::string& field) {
  const testing::BinaryParts v = testing::Decompose(value);
  // Twice the value against (2N -+ 1) 10^e.
  auto twice_n_plus = [&](int delta) {
    std::string doubled = shown.digits;
    int carry = 0;
    for (auto it = doubled.rbegin(); it != doubled.rend(); ++it) {
      const int d = (*it - '0') * 2 + carry;
      *it = static_cast<char>('0' + d % 10);
      carry = d / 10;
    }
    if (carry) doubled.insert(doubled.begin(), '1');
    if (delta > 0) {
      std::size_t i = doubled.size() - 1;  // 2N is even: adding one never carries
      ++doubled[i];
    } else if (doubled.find_first_not_of('0') != std::string::npos) {
      doubled = Decrement(doubled);
    } else {
      return std::string();  // N = 0: no lower bound
    }
    return doubled;
  };
  const std::string lower = twice_n_plus(-1);
  const std::string upper = twice_n_plus(+1);
  if (!lower.empty()) {
    EXPECT_LE(testing::CompareDecimalWithBinary(lower, shown.exp10, v.mantissa, v.exponent + 1), 0)
        << value << " shown as " << field;
  }
  EXPECT_GT(testing::CompareDecimalWithBinary(upper, shown.exp10, v.mantissa, v.exponent + 1), 0)
      << std::hexfloat << value << " shown as " << field;
}

double RandomDouble(std::mt19937_64& random) {
  switch (random() % 4) {
    case 0:  // any bit pattern (subnormals included)
      return std::bit_cast<double>(random());
    case 1: {  // an exact half at eight significant digits: (2k+1) 5 x 10^-n, when exact
      const double half = static_cast<double>(10000000 + random() % 90000000) * 10 + 5;
      return std::ldexp(half, -static_cast<int>(random() % 4));
    }
    case 2: {  // near a carry: 0.99999999...
      const double near_one = 1.0 - std::ldexp(static_cast<double>(random() % 1000), -40);
      return near_one * std::pow(10.0, static_cast<double>(random() % 40) - 20);
    }
    default: {  // moderate values like those of a report
      std::uniform_real_distribution<double> mantissa(-10, 10);
      return mantissa(random) * std::pow(10.0, static_cast<double>(random() % 12) - 6);
    }
  }
}

TEST(FieldExactness, RandomDoublesInE14_8AndF40_0) {
  std::mt19937_64 random(314159);
  const long count = testing::ScaledCount(1000000);
  for (long i = 0; i < count; ++i) {
    const double value = RandomDouble(random);
    if (!std::isfinite(value)) continue;
    std::string field(14, '?');
    RenderExponentField(value, 14, 8, field.data());
    const ParsedField e = ParseExponentField(field);
    ASSERT_EQ(e.digits.size(), 8u) << field;
    ASSERT_EQ(e.negative, std::signbit(value) && value != 0) << field;
    if (value != 0) {
      ASSERT_NE(e.digits[0], '0') << field;
      ExpectRoundedHalfAway(value, e, field);
    }

    std::string fixed(40, '?');
    RenderFixedField(value, 40, 0, fixed.data());
    if (std::fabs(value) < 1e38) {
      const std::size_t start = fixed.find_first_not_of(' ');
      const bool negative = fixed[start] == '-';
      ParsedField f{negative, fixed.substr(start + (negative ? 1 : 0)), 0};
      ASSERT_EQ(f.digits.back(), '.') << fixed;
      f.digits.pop_back();
      ExpectRoundedHalfAway(value, f, fixed);
      ASSERT_EQ(negative, value < 0 && f.digits != "0") << fixed;
    }
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
}  // namespace quarn
