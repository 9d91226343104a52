#include "eos/trkmix.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "eos/fugacity_terms.hpp"
#include "eos/mixture_parameters.hpp"
#include "tests/support/process.hpp"

namespace quarn {
namespace {

// 500 C and 2000 bar, 600 C and 1000 bar, as the run driver converts them.
const double kT500 = 773.15;
const double kP2000 = 2000.0 / 1.01325;
const double kT600 = 873.15;
const double kP1000 = 1000.0 / 1.01325;

struct Intermediate {
  const char* name;
  double MixtureParameters::*member;
  double expected;
};

void PrintTo(const Intermediate& c, std::ostream* os) {
  *os << c.name;
}

// Brine at 500 C and 2000 bar, x = (0.3, 0.6, 0.1): every intermediate of the first stage.
const Intermediate kBrineIntermediates[] = {
    {"W", &MixtureParameters::W, 35.094629647420504},
    {"b_S", &MixtureParameters::b_S, 13.048718051782112},
    {"p0", &MixtureParameters::p0, 2.322021375000001},
    {"p1", &MixtureParameters::p1, -0.11058118499999992},
    {"p2", &MixtureParameters::p2, -0.009781322999999988},
    {"p3", &MixtureParameters::p3, 3.483191e-05},
    {"a_S0", &MixtureParameters::a_S0, 5.558286731148957},
    {"q", &MixtureParameters::q, 15990.034072285525},
    {"e_T", &MixtureParameters::e_T, 0.007348713610901181},
    {"a_S_dW", &MixtureParameters::a_S_dW, -59205.49910331424},
    {"a_S", &MixtureParameters::a_S, 109600487.14102668},
    {"a_CO2", &MixtureParameters::a_CO2, 42722499.1774559},
    {"K_T", &MixtureParameters::K_T, 0.000949231731706534},
    {"a_X", &MixtureParameters::a_X, 53123852.6865727},
    {"x_s", &MixtureParameters::x_s, 0.7},
    {"b_mix", &MixtureParameters::b_mix, 18.04410263624748},
    {"a_mix", &MixtureParameters::a_mix, 79861281.75343463},
    {"RT15", &MixtureParameters::RT15, 1763901.0783053678},
    {"RT15b", &MixtureParameters::RT15b, 31828012.09712966},
    {"bRT", &MixtureParameters::bRT, 0.00028444148880008127},
    {"ratio", &MixtureParameters::ratio, 2.5091507917529268},
    {"Z", &MixtureParameters::Z, 1.141120201625532},
};

class BrineIntermediates : public ::testing::TestWithParam<Intermediate> {};

TEST_P(BrineIntermediates, AgreeToTheLastPlaces) {
  const MixtureParameters m = ComputeMixtureParameters(kT500, kP2000, {0.3, 0.6, 0.1});
  EXPECT_DOUBLE_EQ(m.*GetParam().member, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(WorkedExample, BrineIntermediates,
                         ::testing::ValuesIn(kBrineIntermediates),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MixtureParameters, BrineZIsExact) {
  EXPECT_EQ(ComputeMixtureParameters(kT500, kP2000, {0.3, 0.6, 0.1}).Z, 1.141120201625532);
}

TEST(MixtureParameters, SaltFreeExample) {
  const MixtureParameters m = ComputeMixtureParameters(kT500, kP2000, {0.5, 0.5, 0});
  EXPECT_EQ(m.W, 0.0);
  EXPECT_EQ(m.b_mix, 22.15);
  EXPECT_DOUBLE_EQ(m.a_mix, 75982655.45321985);
  EXPECT_DOUBLE_EQ(m.bRT, 0.00034916554754379575);
  EXPECT_DOUBLE_EQ(m.ratio, 1.9447622285681752);
  EXPECT_NEAR(m.Z, 1.36607056806933, 1e-14);
}

struct SaltContentCase {
  double x_H2O, x_NaCl;
  double W;
  double tolerance;
};

TEST(MixtureParameters, SaltContentAtTheThreshold) {
  const SaltContentCase cases[] = {
      {0.6, 1e-08, 0.0, 0.0},          // the threshold belongs to the salt-free side
      {0.6, 2e-08, 1.0815e-05, 1e-8},  // just above it: the formula
      {0.0, 0.1, 100.0, 1e-12},        // salt only
      {0.6, std::nan(""), 0.0, 0.0},
  };
  for (const SaltContentCase& c : cases) {
    const MixtureParameters m = ComputeMixtureParameters(kT500, kP2000, {0.3, c.x_H2O, c.x_NaCl});
    EXPECT_NEAR(m.W, c.W, c.tolerance) << "x_NaCl=" << c.x_NaCl;
  }
  EXPECT_NEAR(ComputeMixtureParameters(kT500, kP2000, {0.9, 0, 0.1}).b_S, 10.179717, 1e-6);
}

TEST(MixtureParameters, PureCO2IsCO2Alone) {
  const MixtureParameters m = ComputeMixtureParameters(kT500, kP2000, {1, 0, 0});
  EXPECT_EQ(m.W, 0.0);
  EXPECT_EQ(m.x_s, 0.0);
  EXPECT_EQ(m.b_mix, 29.7);
  EXPECT_EQ(m.a_mix, m.a_CO2);
  EXPECT_EQ(m.T_C, 500.0);
}

TEST(FugacityTerms, BrineVolumeAndRatiosAreExact) {
  const std::array<double, 3> x = {0.3, 0.6, 0.1};
  const MixtureParameters m = ComputeMixtureParameters(kT500, kP2000, x);
  const FugacityTerms f = ComputeFugacityTerms(kT500, kP2000, x, m);
  EXPECT_EQ(f.V, 36.67417526245117);
  EXPECT_DOUBLE_EQ(f.b[1], 14.223394251914373);
  EXPECT_DOUBLE_EQ(f.b[2], 6.0006609958573955);
  EXPECT_DOUBLE_EQ(f.D[0], 100006893.26767531);
  EXPECT_DOUBLE_EQ(f.D[1], 186501560.89204895);
  EXPECT_DOUBLE_EQ(f.D[2], 178195590.0597084);
  EXPECT_EQ(f.r[0], 3.1421029567718506);
  EXPECT_EQ(f.r[1], 5.8596673011779785);
  EXPECT_EQ(f.r[2], 5.598702907562256);
  EXPECT_NEAR(f.ln_phi[0], 1.17284, 5e-6);
  EXPECT_NEAR(f.ln_phi[1], -0.896685, 5e-7);
  EXPECT_NEAR(f.ln_phi[2], -1.31409, 5e-6);
}

struct CoefficientCase {
  const char* name;
  double T_K, P_atm;
  std::array<double, 3> x;
  std::array<double, 3> phi;  // to 6 significant digits
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CoefficientCase& c, std::ostream* os) {
  *os << c.name;
}

const CoefficientCase kCoefficientCases[] = {
    {"brine", kT500, kP2000, {0.3, 0.6, 0.1}, {3.23115, 0.407920, 0.268719}},
    {"brine_dilute", kT500, kP2000, {0.1, 0.89, 0.01}, {5.00693, 0.340835, 0.506118}},
    {"salt_free", kT500, kP2000, {0.5, 0.5, 0}, {2.05027, 0.452019, 13.6870}},
    {"salt_only", kT500, kP2000, {0.9, 0, 0.1}, {1.82171, 0.699434, 1.47545}},
    {"no_solvent", kT600, kP1000, {1, 0, 0}, {1.28445, 0.755024, 0.755024}},
    {"water_at_threshold_is_salt_free", kT500, kP2000, {0.99999999, 1e-08, 0}, {0, 0, 170.671}},
    {"water_below_threshold_is_no_solvent",
     kT500,
     kP2000,
     {0.999999995, 5e-09, 0},
     {0, 0.613340, 0.613340}},
};

class Coefficients : public ::testing::TestWithParam<CoefficientCase> {};

TEST_P(Coefficients, AgreeToSixDigits) {
  const CoefficientCase& c = GetParam();
  std::array<double, 3> phi = {-1, -1, -1};
  TRKMIX(c.T_K, c.P_atm, c.x, phi);
  for (int i = 0; i < 3; ++i) {
    if (c.phi[i] == 0) continue;  // not given for this case
    EXPECT_NEAR(phi[i], c.phi[i], 5e-6 * c.phi[i]) << "species " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(CompositionCases, Coefficients, ::testing::ValuesIn(kCoefficientCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Coefficients, PureCO2GivesEqualWaterAndSaltCoefficients) {
  std::array<double, 3> phi;
  TRKMIX(kT600, kP1000, {1, 0, 0}, phi);
  EXPECT_EQ(phi[1], phi[2]);
}

TEST(Coefficients, AllZeroCompositionGivesNaNWithoutStopping) {
  std::array<double, 3> phi = {1, 1, 1};
  TRKMIX(kT500, kP2000, {0, 0, 0}, phi);
  for (double value : phi) EXPECT_TRUE(std::isnan(value));
}

TEST(Coefficients, OverflowingExponentialEndsTheRun) {
  const testing::ChildResult result = testing::RunInChild([] {
    std::array<double, 3> phi;
    TRKMIX(623.15, 500.0 / 1.01325, {0.9, 0, 0.1}, phi);
  });
  EXPECT_EQ(result.exit_status, 3);
  EXPECT_EQ(result.err, "quarn: severe (6203): exp: OVERFLOW error\r\n");
  EXPECT_EQ(result.out, "");
}

}  // namespace
}  // namespace quarn
