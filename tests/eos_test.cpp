// The equation of state: the root solver, the mixture routine bit for bit
// against an independent evaluation, faults as values, and the batch call.
#include "quarn/eos.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "eos/checked_math.hpp"
#include "eos/method.hpp"
#include "tests/support/process.hpp"
#include "textio/field_rendering.hpp"

namespace quarn {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct ReferenceState {
  double T_K, P_atm;
  Composition x;
  std::array<double, 3> phi;
  double Z, V;
};
struct ReferenceFault {
  double T_K, P_atm;
  Composition x;
  int number;
  const char* function;
};
#include "tests/eos_reference.inc"

std::uint64_t Bits(double v) {
  return std::bit_cast<std::uint64_t>(v);
}
// The coefficients' and the volume's bit patterns.
std::array<std::uint64_t, 4> BitsOf(const Result& r) {
  return {Bits(r.phi[0]), Bits(r.phi[1]), Bits(r.phi[2]), Bits(r.V_cm3_per_mol)};
}

TEST(REDKW, WorkedExamples) {
  struct {
    double P, bRT, r, Z, r_after;
  } const cases[] = {
      // clang-format off
      {100, 0.01, 10, 1.211256966066958, 10},  // one root, u > 0 > v
      {1000, 0.05, 2, 50.98094549984266, 2}, {1, 0.001, 235, 0.6279657151425755, 235},  // three roots, q < 0 and q > 0
      {0, 0.3, kNaN, 1.0, 0.001}, {250, 0, 7, 1.0, 7},  // B = 0: D is exactly zero
      {100, 0.01, -5, 1.999833337964249, 0.001}, {100, 0.01, 0, 1.999833337964249, 0.001},  // ratios not above
      {100, 0.01, -kInf, 1.999833337964249, 0.001}, {10, 0.01, 30, 0.10736676052372046, 30},  // zero replaced
      {4934.616333580064, 0.0004145615367921794, 0.6036746663018644, 2.969114432647726, 0.6036746663018644},
      {197.38465334320256, 0.0002855496755466259, 6.060367432467698, 0.5527895851022605, 6.060367432467698},
      // clang-format on
  };
  for (const auto& c : cases) {
    double r = c.r, Z = -1;
    Fault fault;
    ScalarOps<Dispatched> ops{fault};
    Z = REDKW(ops, c.P, c.bRT, r);
    EXPECT_EQ(Z, c.Z) << c.P << " " << c.bRT << " " << c.r;
    EXPECT_EQ(r, c.r_after);
    EXPECT_FALSE(fault);
  }
}

TEST(Evaluate, AgreesBitForBitWithTheIndependentEvaluation) {
  for (const ReferenceState& s : kReferenceStates) {
    const Evaluation e = Evaluate(s.T_K, s.P_atm, s.x);
    EXPECT_FALSE(e.fault);
    EXPECT_EQ(BitsOf(e.result), BitsOf({s.phi, s.Z, s.V})) << s.x.x_CO2 << " at " << s.T_K;
    EXPECT_EQ(Bits(e.result.Z), Bits(s.Z)) << s.x.x_CO2 << " at " << s.T_K;
  }
}

TEST(Evaluate, FaultsAreTheFirstFailingFunction) {
  for (const ReferenceFault& f : kReferenceFaults) {
    const Fault fault = Evaluate(f.T_K, f.P_atm, f.x).fault;
    EXPECT_EQ(fault.number, f.number) << f.T_K << " " << f.P_atm;
    EXPECT_STREQ(MathFunctionName(fault.function), f.function);
  }
  // The logarithm of zero, and a first failure that a later one does not replace.
  Fault fault;
  CheckedLog(0.0, fault);
  CheckedSqrt(-1.0, fault);
  EXPECT_EQ(fault.number, 6202);
  EXPECT_EQ(fault.function, MathFunction::kLog);
  // Masked arithmetic is no fault: an all-zero composition gives NaN and flows on.
  for (const double T_K : {773.15, 873.15}) {
    const Evaluation zero = Evaluate(T_K, 1973.8465334320256, {0, 0, 0});
    EXPECT_FALSE(zero.fault);
    for (double phi : zero.result.phi) EXPECT_TRUE(std::isnan(phi));
  }
}

TEST(Batch, SpansOfDifferentLengthsComputeNothing) {
  std::vector<Composition> x(3);
  std::vector<Result> results(2);
  std::vector<Fault> faults(3);
  const std::vector<double> T_K(2, 773.15);
  EXPECT_FALSE(EvaluateBatch(773.15, 1000.0, x, results, faults));
  results.resize(3);
  EXPECT_FALSE(EvaluateBatch(T_K, T_K, x, results, faults));
  EXPECT_TRUE(EvaluateBatch(773.15, 1000.0, x, results, faults));
}

// The scalar call, the batch call (one and two threads; shared conditions, one
// per point, columns) and the console program agree on random states in and
// far out of the model's range.
TEST(Batch, AgreesWithTheScalarCallAndTheProgram) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> T_C(-300, 1500), P_bar(-100, 20000), x(-0.2, 1.2);
  const std::size_t n = static_cast<std::size_t>(testing::ScaledCount(5000));
  for (int run = 0; run < 20; ++run) {
    const float T = static_cast<float>(run < 15 ? T_C(random) / 4 + 350 : T_C(random));
    const float P = static_cast<float>(run < 15 ? P_bar(random) / 4 + 500 : P_bar(random));
    const double T_K = KelvinFromCelsius(T), P_atm = AtmFromBar(P);
    std::vector<Composition> states(n);
    std::vector<double> column[8];  // x_CO2, x_H2O, x_NaCl in; phi x3, Z, V out
    for (auto& c : column) c.resize(n);
    std::vector<Evaluation> scalar;
    for (std::size_t i = 0; i < n; ++i) {
      states[i] = {column[0][i] = x(random), column[1][i] = x(random), column[2][i] = x(random)};
      scalar.push_back(Evaluate(T_K, P_atm, states[i]));
    }
    const std::vector<double> Ts(n, T_K), Ps(n, P_atm);
    const Conditions conditions(T_K, P_atm);
    for (int form = 0; form < 7; ++form) {
      const unsigned threads = form % 2 + 1;
      std::vector<Result> results(n);
      std::vector<Fault> faults(n);
      const StateColumns in = {{&T_K, 1}, Ps, column[0], column[1], column[2]};
      std::vector<double>
          ln_phi[3];  // written in one of the two column forms, left out in the other
      for (auto& c : ln_phi) c.assign(form == 4 ? n : 0, 0.0);
      const ResultColumns out = {column[3], column[4], column[5], column[6], column[7],
                                 faults,    ln_phi[0], ln_phi[1], ln_phi[2]};
      for (std::size_t i = 0; form == 6 && i < n; ++i) {
        const Evaluation e = conditions.Evaluate(states[i]);
        results[i] = e.result;
        faults[i] = e.fault;
      }
      ASSERT_TRUE(form < 2   ? EvaluateBatch(T_K, P_atm, states, results, faults, threads)
                  : form < 4 ? EvaluateBatch(Ts, Ps, states, results, faults, threads)
                  : form < 6 ? EvaluateBatch(in, out, threads)
                             : true);
      for (std::size_t i = 0; i < n; ++i) {
        if (form == 4 || form == 5)
          results[i] = {{column[3][i], column[4][i], column[5][i]}, 0, column[7][i]};
        ASSERT_EQ(faults[i].number, scalar[i].fault.number) << i;
        if (faults[i]) continue;
        ASSERT_EQ(BitsOf(results[i]), BitsOf(scalar[i].result)) << i;
        for (int k = 0; (form < 4 || form == 6) && k < 3; ++k)
          ASSERT_EQ(Bits(results[i].ln_phi[k]), Bits(scalar[i].result.ln_phi[k])) << i;
        for (int k = 0; form == 4 && k < 3; ++k)
          ASSERT_EQ(Bits(ln_phi[k][i]), Bits(scalar[i].result.ln_phi[k])) << i;
      }
    }
    // The program, on the states without a fault, shows the same coefficients.
    testing::TempDir dir;
    char line[96];
    std::snprintf(line, sizeof line, "%.9g %.9g\n", T, P);  // read back as the same floats
    std::string text = line;
    std::vector<const Evaluation*> shown;
    for (std::size_t i = 0; i < n; ++i) {
      if (scalar[i].fault) continue;
      std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", states[i].x_CO2, states[i].x_H2O,
                    states[i].x_NaCl);
      text += line;
      shown.push_back(&scalar[i]);
    }
    dir.Write("qnrun.dat", text);
    const testing::ChildResult result =
        testing::RunProgram(QUARN_EXECUTABLE, {.working_directory = dir.path().c_str()});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::string report = dir.Read("qnout.dat");
    std::size_t at = report.find("------\r\n") + 8;
    for (const Evaluation* e : shown) {
      for (int k = 0; k < 3; ++k) {
        std::string field(14, ' ');
        RenderExponentField(e->result.phi[k], 14, 8, field.data());
        ASSERT_EQ(report.substr(at + 16 * (3 * k + 1) + 2, 14), field);
      }
      at += 146;
    }
  }
}

}  // namespace
}  // namespace quarn
