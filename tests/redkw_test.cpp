#include "eos/redkw.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/support/process.hpp"

namespace quarn {
namespace {

struct SolverCase {
  const char* name;
  double P, bRT, r;
  double Z;
  double r_after;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SolverCase& c, std::ostream* os) {
  *os << c.name;
}

// Worked examples: the returned Z is compared bit for bit.
const SolverCase kSolverCases[] = {
    {"one_root_u_positive_v_negative", 100, 0.01, 10, 1.211256966066958, 10},
    {"three_roots_q_negative", 1000, 0.05, 2, 50.98094549984266, 2},
    {"three_roots_q_positive", 1, 0.001, 235, 0.6279657151425755, 235},
    {"zero_pressure", 0, 0.3, 5, 1.0, 5},
    {"zero_covolume", 250, 0, 7, 1.0, 7},
    {"zero_pressure_nan_ratio", 0, 0.3, std::numeric_limits<double>::quiet_NaN(), 1.0, 0.001},
    {"negative_ratio_replaced", 100, 0.01, -5, 1.999833337964249, 0.001},
    {"zero_ratio_replaced", 100, 0.01, 0, 1.999833337964249, 0.001},
    {"nan_ratio_replaced", 100, 0.01, std::numeric_limits<double>::quiet_NaN(), 1.999833337964249,
     0.001},
    {"minus_infinity_ratio_replaced", 100, 0.01, -std::numeric_limits<double>::infinity(),
     1.999833337964249, 0.001},
    {"root_close_to_B", 10, 0.01, 30, 0.10736676052372046, 30},
    {"pure_CO2_600C_500bar", 493.4616333580064, 0.0004145615367921794, 0.6036746663018644,
     1.1287345835840301, 0.6036746663018644},
    {"pure_CO2_600C_5000bar", 4934.616333580064, 0.0004145615367921794, 0.6036746663018644,
     2.969114432647726, 0.6036746663018644},
    {"pure_H2O_350C_200bar", 197.38465334320256, 0.0002855496755466259, 6.060367432467698,
     0.5527895851022605, 6.060367432467698},
};

class SolverExamples : public ::testing::TestWithParam<SolverCase> {};

TEST_P(SolverExamples, ReturnsTheLargestRootExactly) {
  const SolverCase& c = GetParam();
  const double T = 773.15;
  double r = c.r;
  double Z = -1;
  REDKW(T, c.P, c.bRT, r, Z);
  EXPECT_EQ(Z, c.Z);
  EXPECT_EQ(r, c.r_after);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, SolverExamples, ::testing::ValuesIn(kSolverCases),
                         [](const auto& info) { return std::string(info.param.name); });

// For random finite arguments Z solves the cubic and no real root lies above it.
TEST(SolverProperty, ZIsTheLargestRealRoot) {
  std::mt19937_64 random(20261206);
  std::uniform_real_distribution<double> log_pressure(-2, 4.5);
  std::uniform_real_distribution<double> log_covolume(-6, -1);
  std::uniform_real_distribution<double> ratio(-2, 60);
  const long draws = testing::ScaledCount(5000);
  for (long i = 0; i < draws; ++i) {
    const double T = 700;
    const double P = std::pow(10.0, log_pressure(random));
    const double bRT = std::pow(10.0, log_covolume(random));
    double r = ratio(random);
    double Z;
    REDKW(T, P, bRT, r, Z);
    ASSERT_TRUE(std::isfinite(Z));

    // The cubic with the ratio the solver used, evaluated in extended precision.
    const long double B = static_cast<long double>(bRT) * P;
    const long double c = (r - B - 1) * B;
    const long double d = -(B * r * B);
    const long double z = Z;
    const long double value = ((z - 1) * z + c) * z + d;
    const long double slope = (3 * z - 2) * z + c;
    const long double scale = std::max<long double>(1, std::fabs(z));
    // Newton's correction: how far Z is from the root it approximates.
    ASSERT_LE(std::fabs(value / slope), 1e-9L * scale)
        << "P=" << P << " bRT=" << bRT << " r=" << r << " Z=" << Z;

    // Divide out (z - Z); the quadratic left has no real root above Z.
    const long double alpha = z - 1;
    const long double beta = c + z * alpha;
    const long double discriminant = alpha * alpha - 4 * beta;
    if (discriminant >= 0) {
      const long double larger = (-alpha + std::sqrt(discriminant)) / 2;
      ASSERT_LE(larger, z + 1e-7L * scale) << "P=" << P << " bRT=" << bRT << " r=" << r;
    }
  }
}

}  // namespace
}  // namespace quarn
