// The SIMD lanes: their fast paths against the scalar correctly rounded
// functions, and every evaluation loop against the scalar call, bit for bit,
// faults included, on random states in and far out of the model's range. The
// loops of the processor at hand run through the batch calls; the lane code
// also runs at four and eight lanes in portable form, so that the eight-lane
// logic is checked on processors without AVX-512 too.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "elementary/correctly_rounded.hpp"
#include "elementary/lane_kernels.hpp"
#include "eos/batch_slice.hpp"
#include "eos/method_lanes.hpp"
#include "quarn/eos.hpp"
#include "tests/support/process.hpp"

namespace quarn {
namespace batch {
// A path by its name in test output.
void PrintTo(SimdPath path, std::ostream* out) {
  *out << SimdPathName(path);
}
}  // namespace batch

namespace {

namespace el = elementary::lanes;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint64_t Bits(double v) {
  return std::bit_cast<std::uint64_t>(v);
}

// Values every function must handle as the scalar one does.
// clang-format off
constexpr double kSpecials[] = {0.0, -0.0, kNaN, -kNaN, kInf, -kInf, 1.0, -1.0, 4.9e-324, 2.2e-308,
                                1.7976931348623157e308, 708.0, -708.0, 709.78, -745.2, 0x1p-300,
                                0x1p300, 8.0, 27.0, 0.125};
// clang-format on

// Arguments for the functions: uniform draws over a range, draws uniform in
// the exponent (every binade between 2^-1074 and 2^1023, either sign), and
// the special values.
std::vector<double> Arguments(std::mt19937_64& random, double low, double high, std::size_t n) {
  std::uniform_real_distribution<double> uniform(low, high);
  std::uniform_int_distribution<std::uint64_t> bits;
  std::vector<double> out;
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(uniform(random));
    out.push_back(std::bit_cast<double>(bits(random)));
  }
  for (double special : kSpecials) out.push_back(special);
  while (out.size() % 8 != 0) out.push_back(1.5);
  return out;
}

enum class Function { kExp, kLog, kOneThirdPower, kPower1_5, kPower2_5 };

double Scalar(Function f, double x) {
  constexpr double kExponents[] = {0.0, 0.0, 1.0 / 3.0, 1.5, 2.5};
  return f == Function::kExp   ? elementary::Exp(x)
         : f == Function::kLog ? elementary::Log(x)
                               : elementary::Pow(x, kExponents[static_cast<int>(f)]);
}

template <class S>
typename S::D InLanes(Function f, typename S::D x, typename S::I& declined) {
  typename S::D p15, p25;
  if (f == Function::kExp) return el::Exp<S>(x, declined);
  if (f == Function::kLog) return el::Log<S>(x, declined);
  if (f == Function::kOneThirdPower) return el::OneThirdPower<S>(x, declined);
  el::SquareRootPowers<S>(x, p15, p25, declined);
  return f == Function::kPower1_5 ? p15 : p25;
}

// Counts of lanes: accepted with the scalar bits, accepted with other bits,
// and declined; and of the arguments the fast path should take, how many it did.
struct Tally {
  long same = 0, different = 0, declined = 0, ordinary = 0, ordinary_accepted = 0;
};

template <class S>
Tally Compare(Function f, const std::vector<double>& arguments, double low, double high) {
  constexpr int N = S::kLanes;
  Tally tally;
  for (std::size_t i = 0; i < arguments.size(); i += N) {
    typename S::D x;
    for (int k = 0; k < N; ++k) x[k] = arguments[i + k];
    typename S::I declined = {};
    const typename S::D y = InLanes<S>(f, x, declined);
    for (int k = 0; k < N; ++k) {
      const bool ordinary = x[k] >= low && x[k] <= high;
      tally.ordinary += ordinary;
      if (declined[k]) {
        ++tally.declined;
        continue;
      }
      tally.ordinary_accepted += ordinary;
      if (Bits(y[k]) == Bits(Scalar(f, x[k])))
        ++tally.same;
      else
        ++tally.different;
    }
  }
  return tally;
}

template <class S>
void CheckFunctions() {
  std::mt19937_64 random(20);
  const std::size_t n = static_cast<std::size_t>(testing::ScaledCount(100000));
  struct Case {
    Function f;
    double low, high;  // where every argument is the fast path's to take
  };
  for (const Case c : {Case{Function::kExp, -707.0, 707.0}, Case{Function::kLog, 0x1p-1020, 1e300},
                       Case{Function::kOneThirdPower, 0x1p-1020, 1e300},
                       Case{Function::kPower1_5, 0x1p-299, 0x1p299},
                       Case{Function::kPower2_5, 0x1p-299, 0x1p299}}) {
    const Tally tally = Compare<S>(c.f, Arguments(random, c.low, c.high, n), c.low, c.high);
    EXPECT_EQ(tally.different, 0) << static_cast<int>(c.f);
    EXPECT_GT(tally.same, static_cast<long>(n)) << static_cast<int>(c.f);
    // The fast path declines few of the arguments it takes (a failed rounding
    // test is rare: about 2^-60 for exp and log); exact powers and midpoints,
    // which the slow path settles, are among the specials only.
    EXPECT_GE(tally.ordinary_accepted, tally.ordinary - 4) << static_cast<int>(c.f);
  }
  // What the fast paths never take: NaN and infinities; for exp, the edges of
  // its range; for log and the powers, zero, negatives and subnormals.
  auto expect_declined = [](Function f, double x) {
    typename S::I declined = {};
    InLanes<S>(f, el::Splat<S>(x), declined);
    EXPECT_EQ(S::Mask(declined), (1u << S::kLanes) - 1) << x << " " << static_cast<int>(f);
  };
  for (const double x : {kNaN, kInf, -kInf, 710.0, -746.0}) expect_declined(Function::kExp, x);
  for (const double x : {kNaN, kInf, -kInf, 0.0, -0.0, -1.0, 4.9e-324}) {
    for (Function f : {Function::kLog, Function::kOneThirdPower, Function::kPower1_5})
      expect_declined(f, x);
  }
}

TEST(LaneFunctions, FourPortableLanesGiveTheScalarBits) {
  CheckFunctions<el::GenericLanes<4>>();
}
TEST(LaneFunctions, EightPortableLanesGiveTheScalarBits) {
  CheckFunctions<el::GenericLanes<8>>();
}

// The hard cases (tests/data/hard_cases, each certified with mpmath by
// tools/error_budget.py): arguments whose exact value lies so close to a
// rounding boundary that every correct fast path declines them. The scalar fast
// paths (both builds) and the lanes (four and eight) must decline every one: a
// rounding test made tighter than its error bound would accept some, and with
// them, some day, a wrong double.
std::vector<double> HardCases(const std::string& function) {
  std::vector<double> out;
  std::ifstream file(std::string(QUARN_SOURCE_DIR) + "/tests/data/hard_cases/" + function + ".txt");
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line[0] != '#') out.push_back(std::strtod(line.c_str(), nullptr));
  }
  return out;
}

struct HardCaseFile {
  const char* name;
  Function f;
  std::size_t at_least;  // the file's size when written, so that a lost file fails
};
constexpr HardCaseFile kHardCaseFiles[] = {{"exp", Function::kExp, 900},
                                           {"log", Function::kLog, 250},
                                           {"one_third_power", Function::kOneThirdPower, 120},
                                           {"power_1_5", Function::kPower1_5, 20},
                                           {"power_2_5", Function::kPower2_5, 16}};

int slow_paths_seen = 0;

template <class S>
int LanesAccepting(Function f, const std::vector<double>& xs) {
  int accepted = 0;
  for (const double x : xs) {
    typename S::I declined = {};
    InLanes<S>(f, el::Splat<S>(x), declined);
    accepted += S::Mask(declined) != (1u << S::kLanes) - 1;
  }
  return accepted;
}

TEST(LaneFunctions, DeclineEveryHardCaseTheScalarFastPathDeclines) {
  for (const HardCaseFile& file : kHardCaseFiles) {
    const std::vector<double> xs = HardCases(file.name);
    ASSERT_GE(xs.size(), file.at_least) << file.name;
    elementary::SetSlowPathObserver(
        [](elementary::Function, double, double) { ++slow_paths_seen; });
    for (const elementary::Path path : {elementary::Path::kPlain, elementary::Path::kFused}) {
      if (!elementary::SelectPath(path)) continue;
      slow_paths_seen = 0;
      for (const double x : xs) Scalar(file.f, x);
      EXPECT_EQ(slow_paths_seen, static_cast<int>(xs.size()))
          << file.name << ": the scalar fast path accepted a hard case";
    }
    elementary::SetSlowPathObserver(nullptr);
    elementary::SelectPath(elementary::Path::kFused) ||
        elementary::SelectPath(elementary::Path::kPlain);
    EXPECT_EQ(LanesAccepting<el::GenericLanes<4>>(file.f, xs), 0) << file.name;
    EXPECT_EQ(LanesAccepting<el::GenericLanes<8>>(file.f, xs), 0) << file.name;
  }
}

// Random states: half of them in the model's range, the rest anywhere (below
// 0 K, negative and zero pressures, negative, zero, huge, infinite and NaN
// fractions, the special compositions), with temperatures in runs of random
// length so that the loops meet shared and lane temperature terms.
struct States {
  std::vector<double> T_K, P_atm;
  std::vector<Composition> x;
};

States RandomStates(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 15), run_length(1, 24);
  const double odd_values[] = {0.0,  -0.0, 1.0, -1e-300, 1e-9, 1e-7, 1e300,
                               kInf, kNaN, 0.5, -0.25,   2.0,  1e-12};
  auto odd = [&] { return odd_values[pick(random) % 13]; };
  States s;
  double T_K = 773.15, P_atm = 2000.0;
  int left = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const bool in_range = unit(random) < 0.5;
    if (left-- <= 0) {
      left = run_length(random) > 20 ? 200 : run_length(random);
      T_K = in_range            ? 273.15 + 300.0 + 400.0 * unit(random)
            : pick(random) == 0 ? odd() * 1000.0
                                : -500.0 + 5000.0 * unit(random);
    }
    P_atm = in_range || pick(random) > 2 ? 50.0 + 6000.0 * unit(random)
            : pick(random) == 0          ? odd() * 1e4
                                         : -1000.0 + 1e6 * unit(random);
    Composition x;
    if (in_range) {
      x.x_NaCl = 0.3 * unit(random) * unit(random);
      x.x_CO2 = (1.0 - x.x_NaCl) * unit(random);
      x.x_H2O = 1.0 - x.x_NaCl - x.x_CO2;
      if (pick(random) == 0) x.x_NaCl = 0.0;
    } else {
      double* fields[3] = {&x.x_CO2, &x.x_H2O, &x.x_NaCl};
      for (double* f : fields) *f = pick(random) < 4 ? odd() : -0.5 + 2.0 * unit(random);
      if (pick(random) == 0) x = {0.0, 0.0, 1.0};          // salt only
      if (pick(random) == 0) x = {1.0 - 1e-9, 0.0, 1e-9};  // no solvent
    }
    s.T_K.push_back(T_K);
    s.P_atm.push_back(P_atm);
    s.x.push_back(x);
  }
  return s;
}

// Temperatures in runs of whole blocks (eight states) that change inside a
// group of blocks, faulty ones among them: below 0 K, zero, infinite, NaN,
// tiny and too large for the powers. A block whose one temperature differs
// from the shared terms that an earlier block of its group still uses keeps
// terms of its own; every state must still give the scalar call's bits and
// faults.
States BlockRunStates() {
  const double T_K[] = {773.15, 873.15, -100.0, 773.15, 0.0,    kInf, 873.15,
                        kNaN,   1e300,  650.0,  1e-300, 773.15, -kInf};
  const Composition x[] = {
      {0.1, 0.85, 0.05}, {0.5, 0.45, 0.05}, {0.02, 0.9, 0.08}, {0.9, 0.1, 0.0}, {0.3, 0.6, 0.1}};
  States s;
  std::size_t draw = 0;
  for (int repeat = 0; repeat < 4; ++repeat) {
    for (double T : T_K) {
      for (int k = 0; k < 8; ++k, ++draw) {
        s.T_K.push_back(T);
        s.P_atm.push_back(500.0 + 250.0 * static_cast<double>(draw % 7));
        s.x.push_back(x[draw % 5]);
      }
    }
  }
  return s;
}

// Every field of the result and of the fault, against the scalar call.
void ExpectScalarBits(const States& s, std::size_t i, const Result& r, const Fault& fault,
                      const char* what, Method method = Method::kReportExact) {
  const Evaluation e = Evaluate(s.T_K[i], s.P_atm[i], s.x[i], method);
  ASSERT_EQ(fault.number, e.fault.number) << what << " state " << i;
  ASSERT_EQ(fault.function, e.fault.function) << what << " state " << i;
  if (e.fault) return;  // the result is not to be used
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(Bits(r.phi[k]), Bits(e.result.phi[k])) << what << " state " << i;
    ASSERT_EQ(Bits(r.ln_phi[k]), Bits(e.result.ln_phi[k])) << what << " state " << i;
  }
  ASSERT_EQ(Bits(r.Z), Bits(e.result.Z)) << what << " state " << i;
  ASSERT_EQ(Bits(r.V_cm3_per_mol), Bits(e.result.V_cm3_per_mol)) << what << " state " << i;
}

class BatchPaths : public ::testing::TestWithParam<batch::SimdPath> {
 protected:
  void SetUp() override {
    previous_ = batch::ActiveSimdPath();
    if (!batch::SelectSimdPath(GetParam()))
      GTEST_SKIP() << "this processor lacks " << batch::SimdPathName(GetParam());
  }
  void TearDown() override { batch::SelectSimdPath(previous_); }
  batch::SimdPath previous_ = batch::SimdPath::kScalar;
};

// A million states (by default) through the three batch forms.
TEST_P(BatchPaths, GiveTheScalarCallsBitsAndFaults) {
  const std::size_t n = static_cast<std::size_t>(testing::ScaledCount(1000000));
  const States s = RandomStates(n, 2026);
  std::vector<Result> results(n);
  std::vector<Fault> faults(n);
  // T and P per point, two threads.
  ASSERT_TRUE(EvaluateBatch(s.T_K, s.P_atm, s.x, results, faults, 2));
  long faulty = 0;
  for (std::size_t i = 0; i < n; ++i) {
    ExpectScalarBits(s, i, results[i], faults[i], "each conditions");
    faulty += faults[i].number != 0;
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(faulty, static_cast<long>(n / 50));  // the draws do reach the faults
  EXPECT_LT(faulty, static_cast<long>(n / 2));

  // One T and P for a part of the states: the part's first state's.
  const std::size_t part = n / 10;
  std::vector<Evaluation> shared;
  for (std::size_t i = 0; i < part; ++i) shared.push_back(Evaluate(s.T_K[0], s.P_atm[0], s.x[i]));
  ASSERT_TRUE(EvaluateBatch(s.T_K[0], s.P_atm[0], std::span(s.x).first(part),
                            std::span(results).first(part), std::span(faults).first(part), 1));
  for (std::size_t i = 0; i < part; ++i) {
    ASSERT_EQ(faults[i].number, shared[i].fault.number) << i;
    if (faults[i]) continue;
    for (int k = 0; k < 3; ++k) ASSERT_EQ(Bits(results[i].phi[k]), Bits(shared[i].result.phi[k]));
    ASSERT_EQ(Bits(results[i].Z), Bits(shared[i].result.Z));
  }

  // Columns, a part of odd length with the ln phi columns left out.
  const std::size_t m = part + 3;
  std::vector<double> x[3], out[5];
  for (std::size_t i = 0; i < m; ++i) {
    x[0].push_back(s.x[i].x_CO2);
    x[1].push_back(s.x[i].x_H2O);
    x[2].push_back(s.x[i].x_NaCl);
  }
  for (auto& c : out) c.assign(m, 0.0);
  const StateColumns in = {std::span(s.T_K).first(m), std::span(s.P_atm).first(m), x[0], x[1],
                           x[2]};
  const ResultColumns columns = {out[0], out[1], out[2],
                                 out[3], out[4], std::span(faults).first(m)};
  ASSERT_TRUE(EvaluateBatch(in, columns, 1));
  for (std::size_t i = 0; i < m; ++i) {
    const Evaluation e = Evaluate(s.T_K[i], s.P_atm[i], s.x[i]);
    ASSERT_EQ(faults[i].number, e.fault.number) << i;
    if (e.fault) continue;
    for (int k = 0; k < 3; ++k) ASSERT_EQ(Bits(out[k][i]), Bits(e.result.phi[k])) << i;
    ASSERT_EQ(Bits(out[3][i]), Bits(e.result.Z)) << i;
    ASSERT_EQ(Bits(out[4][i]), Bits(e.result.V_cm3_per_mol)) << i;
  }
}

// Many compositions at one set of conditions, by either method: runs of 1 to
// 37 draws (every remainder of the lanes) as batches of the conditions of
// their first draw.
TEST_P(BatchPaths, ConditionsGiveEachMethodsBitsForManyCompositions) {
  const std::size_t n = static_cast<std::size_t>(testing::ScaledCount(200000));
  States s = RandomStates(n, 31);
  for (std::size_t begin = 0, length = 1; begin < n; begin += length, length = length % 37 + 1) {
    for (std::size_t i = begin; i < std::min(n, begin + length); ++i) {
      s.T_K[i] = s.T_K[begin];
      s.P_atm[i] = s.P_atm[begin];
    }
  }
  std::vector<Result> results(n);
  std::vector<Fault> faults(n);
  for (Method method : {Method::kReportExact, Method::kUnrounded}) {
    for (std::size_t begin = 0, length = 1; begin < n; begin += length, length = length % 37 + 1) {
      const std::size_t m = std::min(length, n - begin);
      const Conditions conditions(s.T_K[begin], s.P_atm[begin]);
      ASSERT_TRUE(conditions.EvaluateBatch(std::span(s.x).subspan(begin, m),
                                           std::span(results).subspan(begin, m),
                                           std::span(faults).subspan(begin, m), method));
    }
    for (std::size_t i = 0; i < n; ++i) {
      ExpectScalarBits(s, i, results[i], faults[i], "conditions", method);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  const Conditions conditions(773.15, 2000.0);
  EXPECT_FALSE(conditions.EvaluateBatch(s.x, std::span(results).first(3), faults));
}

TEST_P(BatchPaths, BlocksOfChangingTemperatureGiveTheScalarBits) {
  const States s = BlockRunStates();
  const std::size_t n = s.T_K.size();
  std::vector<Result> results(n);
  std::vector<Fault> faults(n);
  ASSERT_TRUE(EvaluateBatch(s.T_K, s.P_atm, s.x, results, faults, 1));
  std::size_t faulty = 0;
  for (std::size_t i = 0; i < n; ++i) {
    ExpectScalarBits(s, i, results[i], faults[i], "blocks of one temperature");
    faulty += faults[i].number != 0;
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Of the thirteen, -100 K, 1e300 K and -inf end in a fault of the powers;
  // 0 K, inf and NaN give NaN numbers without one, as the scalar call does.
  EXPECT_EQ(faulty, 4u * 8u * 3u);
}

INSTANTIATE_TEST_SUITE_P(EveryPath, BatchPaths,
                         ::testing::Values(batch::SimdPath::kScalar, batch::SimdPath::kAvx2,
                                           batch::SimdPath::kAvx512),
                         [](const auto& info) { return batch::SimdPathName(info.param); });

// The lane loop in portable form at four and eight lanes, on an array of
// compositions with T and P per point.
template <class S>
void CheckPortableLoop(Method method, const States& s) {
  const std::size_t n = s.T_K.size();
  std::vector<Result> results(n);
  std::vector<Fault> faults(n);
  auto field = [&](std::size_t offset) {
    return batch::OutColumn{reinterpret_cast<double*>(results.data()) + offset, 8};
  };
  const double* x = reinterpret_cast<const double*>(s.x.data());
  const batch::Slice slice = {{s.T_K.data(), 1},
                              {s.P_atm.data(), 1},
                              {x, 3},
                              {x + 1, 3},
                              {x + 2, 3},
                              {field(0), field(1), field(2)},
                              field(3),
                              field(4),
                              {field(5), field(6), field(7)},
                              faults.data(),
                              method};
  batch::LaneKernel<S>::Evaluate(slice, 0, n);
  for (std::size_t i = 0; i < n; ++i) {
    ExpectScalarBits(s, i, results[i], faults[i], "portable lanes", method);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

States PortableLoopStates() {
  return RandomStates(static_cast<std::size_t>(testing::ScaledCount(200000)) + 5, 8);
}

TEST(PortableLaneLoop, FourLanesGiveTheScalarCallsBits) {
  CheckPortableLoop<el::GenericLanes<4>>(Method::kReportExact, PortableLoopStates());
}
TEST(PortableLaneLoop, EightLanesGiveTheScalarCallsBits) {
  CheckPortableLoop<el::GenericLanes<8>>(Method::kReportExact, PortableLoopStates());
}
TEST(PortableLaneLoop, FourAndEightLanesGiveTheUnroundedScalarBits) {
  const States s = PortableLoopStates();
  CheckPortableLoop<el::GenericLanes<4>>(Method::kUnrounded, s);
  CheckPortableLoop<el::GenericLanes<8>>(Method::kUnrounded, s);
}

TEST(PortableLaneLoop, BlocksOfChangingTemperatureGiveTheScalarBits) {
  const States s = BlockRunStates();
  for (Method method : {Method::kReportExact, Method::kUnrounded}) {
    CheckPortableLoop<el::GenericLanes<4>>(method, s);
    CheckPortableLoop<el::GenericLanes<8>>(method, s);
  }
}

// Without QUARN_SIMD the widest path the processor offers is in use.
TEST(SimdPath, TheWidestOfferedIsTheDefault) {
  if (std::getenv("QUARN_SIMD")) GTEST_SKIP() << "QUARN_SIMD is set";
  const batch::SimdPath widest =
      batch::Supports(batch::SimdPath::kAvx512) ? batch::SimdPath::kAvx512
      : batch::Supports(batch::SimdPath::kAvx2) ? batch::SimdPath::kAvx2
                                                : batch::SimdPath::kScalar;
  EXPECT_EQ(batch::ActiveSimdPath(), widest);
  EXPECT_TRUE(batch::Supports(batch::SimdPath::kScalar));
}

// Each loop the processor offers passes its self-test; one bit wrong fails it.
TEST(SimdSelfTest, PassesOnEveryOfferedLoopAndFailsOnOneWrongBit) {
  for (batch::SimdPath path :
       {batch::SimdPath::kScalar, batch::SimdPath::kAvx2, batch::SimdPath::kAvx512}) {
    if (!batch::Supports(path)) {
      EXPECT_FALSE(batch::PassesSelfTest(path)) << batch::SimdPathName(path);
      continue;
    }
    EXPECT_TRUE(batch::PassesSelfTest(path)) << batch::SimdPathName(path);
    if (path != batch::SimdPath::kScalar) {
      EXPECT_FALSE(batch::PassesSelfTest(path, true)) << batch::SimdPathName(path);
    }
  }
}

// The environment of a test, put back as it was afterwards.
class Environment {
 public:
  // A null value unsets the variable.
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
    batch::ResolveSimdPath();
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The choice of loop, by what the processor offers, QUARN_SIMD and the
// self-test: {QUARN_SIMD, the loop whose self-test is spoiled, the loop
// expected, words of the note ("" for none)}.
TEST(SimdSelfTest, AFailingLoopGivesWayToTheNextAndSaysSo) {
  using batch::SimdPath;
  const bool avx2 = batch::Supports(SimdPath::kAvx2), avx512 = batch::Supports(SimdPath::kAvx512);
  const SimdPath widest = avx512 ? SimdPath::kAvx512 : avx2 ? SimdPath::kAvx2 : SimdPath::kScalar;
  const SimdPath next = widest == SimdPath::kAvx512 ? SimdPath::kAvx2 : SimdPath::kScalar;
  const struct {
    const char *simd, *spoiled;
    SimdPath expected;
    const char* words;
  } rows[] = {
      {nullptr, "none", widest, ""},
      {"scalar", "none", SimdPath::kScalar, ""},
      {"sse9", "none", widest, "QUARN_SIMD=sse9 names no evaluation loop"},
      {"avx512", "none", widest, avx512 ? "" : "QUARN_SIMD=avx512: this processor lacks it"},
      {nullptr, batch::SimdPathName(widest), widest == SimdPath::kScalar ? widest : next,
       widest == SimdPath::kScalar ? "" : "loop gave other bits than the scalar loop"},
      {"avx2", "avx2", avx2 ? SimdPath::kScalar : widest,
       avx2 ? "the avx2 loop gave other bits than the scalar loop in its self-test; the scalar "
              "loop is in use"
            : "this processor lacks it"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << (row.simd ? row.simd : "(unset)") << " " << row.spoiled);
    Environment environment;
    environment.Set("QUARN_SIMD", row.simd);
    environment.Set("QUARN_SIMD_SELF_TEST_FAULT", row.spoiled);
    batch::ResolveSimdPath();
    EXPECT_EQ(batch::ActiveSimdPath(), row.expected);
    const std::string note = batch::SimdPathNote();
    if (*row.words) {
      EXPECT_NE(note.find(row.words), std::string::npos) << note;
    } else {
      EXPECT_EQ(note, "");
    }
  }
}

}  // namespace
}  // namespace quarn
