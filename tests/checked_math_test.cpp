#include "eos/checked_math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "tests/support/process.hpp"

namespace quarn {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct MathCase {
  const char* name;
  std::function<double()> call;
  const char* stop_line;  // nullptr: no stop
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const MathCase& c, std::ostream* os) {
  *os << c.name;
}

// Which arguments end the run, with which line; and which flow on.
const MathCase kMathCases[] = {
    {"exp_overflow", [] { return CheckedExp(710); },
     "quarn: severe (6203): exp: OVERFLOW error\r\n"},
    {"exp_underflow", [] { return CheckedExp(-800); }, nullptr},
    {"exp_infinity", [] { return CheckedExp(kInf); }, nullptr},
    {"exp_nan", [] { return CheckedExp(kNaN); }, nullptr},
    {"log_negative", [] { return CheckedLog(-1); }, "quarn: severe (6201): log: DOMAIN error\r\n"},
    {"log_minus_infinity", [] { return CheckedLog(-kInf); },
     "quarn: severe (6201): log: DOMAIN error\r\n"},
    {"log_zero", [] { return CheckedLog(0.0); }, "quarn: severe (6202): log: SING error\r\n"},
    {"log_minus_zero", [] { return CheckedLog(-0.0); },
     "quarn: severe (6202): log: SING error\r\n"},
    {"log_nan", [] { return CheckedLog(kNaN); }, nullptr},
    {"log_infinity", [] { return CheckedLog(kInf); }, nullptr},
    {"sqrt_negative", [] { return CheckedSqrt(-1e-300); },
     "quarn: severe (6201): sqrt: DOMAIN error\r\n"},
    {"sqrt_minus_zero", [] { return CheckedSqrt(-0.0); }, nullptr},
    {"sqrt_nan", [] { return CheckedSqrt(kNaN); }, nullptr},
    {"pow_negative_base", [] { return CheckedPow(-2, 2.5); },
     "quarn: severe (6201): **: DOMAIN error\r\n"},
    {"pow_negative_base_integer_exponent", [] { return CheckedPow(-2, 3); }, nullptr},
    {"pow_overflow", [] { return CheckedPow(1e200, 2.5); },
     "quarn: severe (6203): **: OVERFLOW error\r\n"},
    {"pow_infinite_base", [] { return CheckedPow(kInf, 2.5); }, nullptr},
    {"pow_nan_base", [] { return CheckedPow(kNaN, 1.5); }, nullptr},
};

class CheckedMath : public ::testing::TestWithParam<MathCase> {};

TEST_P(CheckedMath, StopsExactlyOnFailure) {
  const MathCase& c = GetParam();
  const testing::ChildResult result = testing::RunInChild([&c] { (void)c.call(); });
  if (c.stop_line == nullptr) {
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_EQ(result.exit_status, 3);
    EXPECT_EQ(result.err, c.stop_line);
  }
}

INSTANTIATE_TEST_SUITE_P(Arguments, CheckedMath, ::testing::ValuesIn(kMathCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CheckedMath, ResultsAreTheLibraryResults) {
  EXPECT_EQ(CheckedExp(1.5), std::exp(1.5));
  EXPECT_EQ(CheckedExp(-800), 0.0);
  EXPECT_EQ(CheckedLog(2.5), std::log(2.5));
  EXPECT_EQ(CheckedSqrt(2.0), std::sqrt(2.0));
  EXPECT_EQ(CheckedPow(773.15, 2.5), std::pow(773.15, 2.5));
  EXPECT_TRUE(std::isnan(CheckedExp(kNaN)));
}

}  // namespace
}  // namespace quarn
