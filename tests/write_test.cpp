// Field rendering and formatted records.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "tests/support/exact_decimal.hpp"
#include "tests/support/process.hpp"
#include "textio/field_rendering.hpp"
#include "textio/formatted_write.hpp"

namespace quarn {
namespace {

enum Kind { kF, kE, kA };

// Fields are shown with an underscore for each blank.
std::string Field(Kind kind, double value, int width, int digits, std::string_view text = {}) {
  std::string field(static_cast<std::size_t>(width), '?');
  if (kind == kF) RenderFixedField(value, width, digits, field.data());
  if (kind == kE) RenderExponentField(value, width, digits, field.data());
  if (kind == kA) RenderCharacterField(text, width, field.data());
  for (char& c : field) c = c == ' ' ? '_' : c;
  return field;
}

struct FieldCase {
  Kind kind;
  double value;
  int width, digits;
  const char* shown;
};

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// clang-format off
const FieldCase kFieldCases[] = {
    {kF, 400, 5, 0, "_400."}, {kF, 399.5, 5, 0, "_400."}, {kF, 0.5, 5, 0, "___1."},
    {kF, 2.5, 5, 0, "___3."}, {kF, -0.5, 5, 0, "__-1."}, {kF, -0.3, 5, 0, "___0."},
    {kF, -0.0, 5, 0, "___0."}, {kF, -999, 5, 0, "-999."}, {kF, -1234, 5, 0, "*****"},
    {kF, 9999.4, 5, 0, "9999."}, {kF, 9999.5, 5, 0, "*****"}, {kF, 2500.5, 6, 0, "_2501."},
    {kF, 99999.4, 6, 0, "99999."}, {kF, 0.125, 5, 2, "_0.13"}, {kF, -0.5, 4, 2, "-.50"},
    {kF, 0.5, 3, 2, ".50"}, {kF, -0.04, 5, 1, "__0.0"}, {kF, -0.05, 5, 1, "_-0.1"},
    {kF, 9.96, 5, 1, "_10.0"}, {kF, 0.004, 5, 2, "_0.00"},
    {kF, 0.06, 5, 2, "_0.06"},  // zeros right after the point below 0.1
    {kF, 0.001, 5, 3, "0.001"}, {kF, 0.0009999, 5, 3, "0.001"},
    {kF, 0.0004999, 10, 5, "___0.00050"}, {kF, -0.0005, 10, 5, "__-0.00050"},
    {kF, 0.06, 10, 5, "___0.06000"}, {kF, 1e300, 6, 0, "******"}, {kF, -kInf, 6, 0, "******"},
    {kF, kNaN, 5, 0, "*****"}, {kF, kNaN, 5, 1, "_NaN_"}, {kF, 5e-324, 5, 0, "___0."},
    {kF, 0.49999999999999994, 5, 0, "___0."}, {kE, 0.123456789, 14, 8, "0.12345679E+00"},
    {kE, 0.123456785, 14, 8, "0.12345678E+00"},  // just below the half in binary
    {kE, 1.000000005, 14, 8, "0.10000000E+01"},  // likewise
    {kE, -123.456, 14, 8, "-.12345600E+03"}, {kE, 0.0, 14, 8, "0.00000000E+00"},
    {kE, -0.0, 14, 8, "0.00000000E+00"}, {kE, 0.99999999995, 14, 8, "0.10000000E+01"},
    {kE, 1e100, 14, 8, "0.10000000+101"}, {kE, 1e-300, 14, 8, "0.10000000-299"},
    {kE, -1e100, 14, 8, "-.10000000+101"}, {kE, 5e-324, 14, 8, "0.49406565-323"},
    {kE, 1.7976931348623157e308, 14, 8, "0.17976931+309"}, {kE, kInf, 14, 8, "_Infinity_____"},
    {kE, -kInf, 14, 8, "_-Infinity____"}, {kE, kNaN, 14, 8, "_NaN__________"},
    {kE, -0.125, 10, 2, "_-0.13E+00"}, {kE, 0.5, 7, 2, ".50E+00"}, {kE, -0.5, 7, 2, "*******"},
    {kE, 2.5, 6, 1, ".3E+01"},
    // Exact binary values half-way at eight digits, across decades: away from zero.
    {kE, 123456785.0, 14, 8, "0.12345679E+09"}, {kE, -123456785.0, 14, 8, "-.12345679E+09"},
    {kE, 123456775.0, 14, 8, "0.12345678E+09"}, {kE, 999999995.0, 14, 8, "0.10000000E+10"},
    {kE, 1234567850.0, 14, 8, "0.12345679E+10"}, {kE, 98765432500.0, 14, 8, "0.98765433E+11"},
    {kE, 987654325000000.0, 14, 8, "0.98765433E+15"}, {kE, 12345678.5, 14, 8, "0.12345679E+08"},
    {kE, 123456.625, 14, 8, "0.12345663E+06"},
    {kE, 0.123046875, 14, 8, "0.12304688E+00"},  // 63/512
    {kA, 0, 6, 0, "___abc"}, {kA, 1, 2, 0, "ab"},
};
// clang-format on

TEST(Fields, Examples) {
  for (const FieldCase& c : kFieldCases) {
    const char* name = c.kind == kF ? "F" : c.kind == kE ? "E" : "A";
    EXPECT_EQ(Field(c.kind, c.value, c.width, c.digits, "abc"), c.shown)
        << std::hexfloat << c.value << " in " << name << c.width << "." << c.digits;
  }
}

// A format that asks for more values than it is given ends its record where
// they run out, and reads nothing beyond them.
TEST(Records, EndWhereTheValuesRunOut) {
  using namespace quarn::edit;
  constexpr EditItem kFormat[] = {Group(3, 2), X(1), F(5, 0), Text("!")};
  const FormatValue values[] = {400.0f, 2.0f};
  RenderedRecords records;
  RenderFormat(kFormat, values, records);
  EXPECT_EQ(records.size(), 1u);
  EXPECT_EQ(std::string(records[0]), "  400.    2.");
}

// A field's digits N and power e: the value shown is N x 10^e.
struct Shown {
  bool negative;
  std::string digits;
  long exp10;
};

Shown ParseField(const std::string& field) {
  Shown shown{false, "", 0};
  std::size_t i = field.find_first_not_of(' ');
  shown.negative = field[i] == '-';
  i += shown.negative ? 1 : 0;
  const std::size_t point = field.find('.', i);
  const std::size_t end = field.find_first_of("E+-", point);
  shown.digits = field.substr(i, point - i) + field.substr(point + 1, end - point - 1);
  if (end != std::string::npos) {
    std::size_t p = end + (field[end] == 'E' ? 1 : 0);
    p += field[p] == '+' ? 1 : 0;
    int exponent = 0;
    std::from_chars(field.data() + p, field.data() + field.size(), exponent);
    shown.exp10 = exponent - static_cast<long>(end - point - 1);
  }
  return shown;
}

// |v| rounded half away from zero at the digit of 10^exp10, from its exact
// decimal expansion, without leading zeros.
std::string RoundedHalfAway(double value, long exp10) {
  const testing::ExactDecimal exact = testing::ExactDecimalOf(value);
  std::string digits = exact.digits;
  if (exact.exp10 >= exp10) return digits + std::string(exact.exp10 - exp10, '0');
  const long keep = static_cast<long>(digits.size()) - (exp10 - exact.exp10);
  const bool up = keep >= 0 && digits[keep] >= '5';
  digits.resize(static_cast<std::size_t>(std::max(keep, 0L)));
  digits.insert(digits.begin(), '0');
  std::size_t i = digits.size() - 1;
  for (; up && digits[i] == '9'; --i) digits[i] = '0';
  if (up) ++digits[i];
  return digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1));
}

void ExpectRoundedHalfAway(double value, const Shown& shown, const std::string& field) {
  const std::size_t first = shown.digits.find_first_not_of('0');
  EXPECT_EQ(first == std::string::npos ? "0" : shown.digits.substr(first),
            RoundedHalfAway(value, shown.exp10))
      << std::hexfloat << value << " shown as " << field;
}

double RandomDouble(std::mt19937_64& random) {
  switch (random() % 4) {
    case 0:  // any bit pattern (subnormals included)
      return std::bit_cast<double>(random());
    case 1: {  // exact halves at eight digits across decades, their halves, the doubles beside
      const double half = static_cast<double>(10000000 + random() % 90000000) * 10 + 5;
      const double value = std::ldexp(half * std::pow(10.0, static_cast<double>(random() % 7)),
                                      -static_cast<int>(random() % 4));
      const int side = static_cast<int>(random() % 3);
      return side == 0 ? value : std::nextafter(value, side == 1 ? 0.0 : HUGE_VAL);
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
  const long count = testing::ScaledCount(100000);
  for (long i = 0; i < count && !::testing::Test::HasFailure(); ++i) {
    const double value = RandomDouble(random);
    if (!std::isfinite(value) || value == 0) continue;
    std::string field(14, '?');
    RenderExponentField(value, 14, 8, field.data());
    const Shown e = ParseField(field);
    ASSERT_EQ(e.digits.size(), e.negative ? 8u : 9u) << field;  // "0" where there is room
    ASSERT_EQ(e.negative, std::signbit(value)) << field;
    ASSERT_NE(e.digits[e.digits.size() - 8], '0') << field;
    ExpectRoundedHalfAway(value, e, field);
    if (std::fabs(value) >= 1e38) continue;
    std::string fixed(40, '?');
    RenderFixedField(value, 40, 0, fixed.data());
    const Shown f = ParseField(fixed);
    ExpectRoundedHalfAway(value, f, fixed);
    ASSERT_EQ(f.negative, value < 0 && f.digits.find_first_not_of('0') != std::string::npos)
        << fixed;
  }
}

}  // namespace
}  // namespace quarn
