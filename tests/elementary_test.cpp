// The correctly rounded functions: their edges against values from mpmath
// (tools/correctly_rounded.py), and, on random arguments, their two builds
// (plain and fused) and their slow paths against each other. The wide random
// comparison with mpmath is python/tests/test_elementary.py.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "elementary/cores.hpp"
#include "elementary/correctly_rounded.hpp"
#include "elementary/fixed_point.hpp"

namespace quarn::elementary {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
  Function function;
  double x, y, expected;
};

double Call(Function f, double x, double y) {
  switch (f) {
    case Function::kExp:
      return Exp(x);
    case Function::kLog:
      return Log(x);
    case Function::kPow:
      return Pow(x, y);
    case Function::kCos:
      return Cos(x);
    case Function::kAcos:
      return Acos(x);
  }
  return kNaN;
}

bool SameBits(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || Bits(a) == Bits(b);
}

// Thresholds of overflow and underflow, subnormal results, arguments next to 1
// and 0, exact powers and a midpoint (68718952449^1.5 = (2^18 - 1)^3, halfway
// between two doubles: to even), the ends of acos's domain.
// clang-format off
constexpr Case kEdges[] = {
    {Function::kExp, 0x1.62e42fefa39efp+9, 0x0.0p+0, 0x1.fffffffffff2ap+1023},
    {Function::kExp, 0x1.62e42fefa39f0p+9, 0x0.0p+0, kInf},
    {Function::kExp, -0x1.74910d52d3051p+9, 0x0.0p+0, 0x0.0000000000001p-1022},
    {Function::kExp, -0x1.74910d52d3052p+9, 0x0.0p+0, 0x0.0p+0},
    {Function::kExp, -0x1.6240000000000p+9, 0x0.0p+0, 0x0.e6cf6d08897acp-1022},
    {Function::kExp, -0x1.6200000000000p+9, 0x0.0p+0, 0x1.7c8ab2288c9abp-1022},
    {Function::kExp, 0x1.6200000000000p+9, 0x0.0p+0, 0x1.586f6bf260cf1p+1021},
    {Function::kExp, 0x1.56e1fc2f8f359p-997, 0x0.0p+0, 0x1.0000000000000p+0},
    {Function::kExp, -0x1.0000000000000p-54, 0x0.0p+0, 0x1.0000000000000p+0},
    {Function::kExp, -0x1.0000000000000p-53, 0x0.0p+0, 0x1.fffffffffffffp-1},
    {Function::kExp, 0x1.0000000000000p-53, 0x0.0p+0, 0x1.0000000000001p+0},
    {Function::kExp, 0x1.0000000000000p+0, 0x0.0p+0, 0x1.5bf0a8b145769p+1},
    {Function::kExp, -0x1.0000000000000p+0, 0x0.0p+0, 0x1.78b56362cef38p-2},
    {Function::kExp, 0x1.0000000000000p-1, 0x0.0p+0, 0x1.a61298e1e069cp+0},
    {Function::kExp, -0x1.f400000000000p+9, 0x0.0p+0, 0x0.0p+0},
    {Function::kExp, kInf, 0x0.0p+0, kInf},
    {Function::kExp, -kInf, 0x0.0p+0, 0x0.0p+0},
    {Function::kLog, 0x1.0000000000000p+1, 0x0.0p+0, 0x1.62e42fefa39efp-1},
    {Function::kLog, 0x1.0000000000000p-1, 0x0.0p+0, -0x1.62e42fefa39efp-1},
    {Function::kLog, 0x0.0000000000001p-1022, 0x0.0p+0, -0x1.74385446d71c3p+9},
    {Function::kLog, 0x1.fffffffffffffp+1023, 0x0.0p+0, 0x1.62e42fefa39efp+9},
    {Function::kLog, 0x1.0000000000001p+0, 0x0.0p+0, 0x1.fffffffffffffp-53},
    {Function::kLog, 0x1.fffffffffffffp-1, 0x0.0p+0, -0x1.0000000000000p-53},
    {Function::kLog, 0x1.4000000000000p+3, 0x0.0p+0, 0x1.26bb1bbb55516p+1},
    {Function::kLog, 0x0.0p+0, 0x0.0p+0, -kInf},
    {Function::kLog, -0x1.0000000000000p+0, 0x0.0p+0, kNaN},
    {Function::kLog, kInf, 0x0.0p+0, kInf},
    {Function::kLog, 0x1.0000000000001p-1022, 0x0.0p+0, -0x1.6232bdd7abcd2p+9},
    {Function::kLog, 0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},
    {Function::kPow, 0x1.0000000000000p+2, 0x1.8000000000000p+0, 0x1.0000000000000p+3},
    {Function::kPow, 0x1.2000000000000p+3, 0x1.4000000000000p+1, 0x1.e600000000000p+7},
    {Function::kPow, 0x1.ffff000020000p+35, 0x1.8000000000000p+0, 0x1.fffe800060000p+53},
    {Function::kPow, 0x1.0000000000000p+3, 0x1.5555555555555p-2, 0x1.0000000000000p+1},
    {Function::kPow, 0x0.0p+0, 0x1.4000000000000p+1, 0x0.0p+0},
    {Function::kPow, kInf, 0x1.8000000000000p+0, kInf},
    {Function::kPow, 0x0.0000000000001p-1022, 0x1.5555555555555p-2, 0x1.000000000003ep-358},
    {Function::kPow, 0x1.fffffffffffffp+1023, 0x1.5555555555555p-2, 0x1.428a2f98d7240p+341},
    {Function::kPow, 0x1.fffffffffffffp+1023, 0x1.8000000000000p+0, kInf},
    {Function::kPow, 0x1.0000000000000p+1, 0x1.4000000000000p+1, 0x1.6a09e667f3bcdp+2},
    {Function::kPow, 0x1.8293333333333p+9, 0x1.4000000000000p+1, 0x1.fb3c3c4d53756p+23},
    {Function::kPow, 0x1.8293333333333p+9, 0x1.8000000000000p+0, 0x1.4fe7856c5fbb0p+14},
    {Function::kPow, 0x1.0000000000000p+0, 0x1.5555555555555p-2, 0x1.0000000000000p+0},
    {Function::kPow, 0x1.b7cdfd9d7bdbbp-34, 0x1.5555555555555p-2, 0x1.e6b4b396428ecp-12},
    {Function::kPow, 0x1.b000000000000p+4, 0x1.5555555555555p-2, 0x1.8000000000000p+1},
    {Function::kCos, 0x0.0p+0, 0x0.0p+0, 0x1.0000000000000p+0},
    {Function::kCos, 0x1.12e0be826d695p-30, 0x0.0p+0, 0x1.0000000000000p+0},
    {Function::kCos, 0x1.921fb54442d18p+0, 0x0.0p+0, 0x1.1a62633145c07p-54},
    {Function::kCos, 0x1.5333333333333p+2, 0x0.0p+0, 0x1.1bd6f3f7432d5p-1},
    {Function::kCos, 0x1.0000000000000p+20, 0x0.0p+0, 0x1.e33ada92fe2aep-1},
    {Function::kCos, 0x1.e848000000000p+19, 0x0.0p+0, 0x1.df9df9906d32cp-1},
    {Function::kCos, -0x1.8000000000000p+1, 0x0.0p+0, -0x1.fae04be85e5d2p-1},
    {Function::kCos, 0x1.921fb54442d18p+1, 0x0.0p+0, -0x1.0000000000000p+0},
    {Function::kCos, 0x1.0000000000000p+62, 0x0.0p+0, -0x1.6c2b1f820c708p-1},
    {Function::kAcos, 0x0.0p+0, 0x0.0p+0, 0x1.921fb54442d18p+0},
    {Function::kAcos, 0x1.0000000000000p-1, 0x0.0p+0, 0x1.0c152382d7366p+0},
    {Function::kAcos, -0x1.0000000000000p-1, 0x0.0p+0, 0x1.0c152382d7366p+1},
    {Function::kAcos, 0x1.fffffffffffffp-1, 0x0.0p+0, 0x1.0000000000000p-26},
    {Function::kAcos, -0x1.fffffffffffffp-1, 0x0.0p+0, 0x1.921fb52442d18p+1},
    {Function::kAcos, 0x1.0000000000000p-60, 0x0.0p+0, 0x1.921fb54442d18p+0},
    {Function::kAcos, -0x1.0000000000000p+0, 0x0.0p+0, 0x1.921fb54442d18p+1},
    {Function::kAcos, 0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},
    {Function::kAcos, 0x1.fffeb074a771dp-1, 0x0.0p+0, 0x1.25160dad27316p-8},
    {Function::kCos, 0x1.0000000000000p+63, 0x0.0p+0, kNaN},
    {Function::kCos, kInf, 0x0.0p+0, kNaN},
    {Function::kAcos, 0x1.0000000000001p+0, 0x0.0p+0, kNaN},
    {Function::kLog, kNaN, 0x0.0p+0, kNaN},
    {Function::kPow, -0x1.0p+3, 0x1.5555555555555p-2, kNaN},
    {Function::kPow, -0x1.0p+1, 0x1.0p+1, 0x1.0p+2},
    {Function::kPow, -0x1.0p+1, 0x1.8p+1, -0x1.0p+3},
    {Function::kPow, kNaN, 0x0.0p+0, 0x1.0p+0},
};
// clang-format on

TEST(Elementary, EdgesAreCorrectlyRounded) {
  for (Path path : {Path::kPlain, Path::kFused}) {
    if (!SelectPath(path)) continue;
    for (const Case& c : kEdges)
      EXPECT_TRUE(SameBits(Call(c.function, c.x, c.y), c.expected))
          << static_cast<int>(c.function) << " " << std::hexfloat << c.x << " " << c.y << " gives "
          << Call(c.function, c.x, c.y) << ", not " << c.expected;
  }
  SelectPath(Path::kFused) || SelectPath(Path::kPlain);
}

// Random arguments over the ranges the method meets and well beyond.
double Draw(Function f, std::mt19937_64& random, double& y) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double u = unit(random);
  y = 0.0;
  switch (f) {
    case Function::kExp:
      return -745.0 + 1455.0 * u;
    case Function::kLog:
      return std::exp2(-1074.0 + 2097.0 * u) * (1.0 + unit(random));
    case Function::kPow: {
      constexpr double kExponents[] = {2.5, 1.5, 1.0 / 3.0, 0.75, -1.5};
      y = kExponents[random() % 5];
      return std::exp2(-300.0 + 600.0 * u) * (1.0 + unit(random));
    }
    case Function::kCos:
      return (u - 0.5) * (random() % 2 ? 12.0 : 2.0e6);
    case Function::kAcos:
      return 2.0 * u - 1.0;
  }
  return 0.0;
}

constexpr Function kFunctions[] = {Function::kExp, Function::kLog, Function::kPow, Function::kCos,
                                   Function::kAcos};

TEST(Elementary, PlainAndFusedBuildsGiveTheSameBits) {
  if (!SelectPath(Path::kFused)) GTEST_SKIP() << "no fused multiply-add here";
  std::mt19937_64 random(18);
  for (Function f : kFunctions) {
    for (int i = 0; i < 200000; ++i) {
      double y;
      const double x = Draw(f, random, y);
      SelectPath(Path::kFused);
      const double fused = Call(f, x, y);
      SelectPath(Path::kPlain);
      const double plain = Call(f, x, y);
      ASSERT_TRUE(SameBits(fused, plain)) << static_cast<int>(f) << " " << std::hexfloat << x;
    }
  }
  SelectPath(Path::kFused);
}

double Slow(Function f, double x, double y) {
  switch (f) {
    case Function::kExp:
      return SlowExp(x);
    case Function::kLog:
      return SlowLog(x);
    case Function::kPow:
      return SlowPow(x, y);
    case Function::kCos:
      return SlowCos(x);
    case Function::kAcos: {
      // Start the Newton steps from a value 2^-60 off, as the fast path's can be.
      const double y0 = Acos(x);
      return SlowAcos(x, {y0, y0 * 0x1p-60});
    }
  }
  return kNaN;
}

TEST(Elementary, SlowPathsAgreeWithTheFastPaths) {
  std::mt19937_64 random(1806);
  for (Function f : kFunctions) {
    for (int i = 0; i < 3000; ++i) {
      double y;
      const double x = Draw(f, random, y);
      if (f == Function::kExp && (x < -708.0 || x > 708.0)) continue;  // the edges' own tests
      ASSERT_TRUE(SameBits(Slow(f, x, y), Call(f, x, y)))
          << static_cast<int>(f) << " " << std::hexfloat << x << " " << y;
    }
  }
}

// ln x a few ulps from 1, where the log core rarely decides: x = 1 - k 2^-53
// and 1 + k 2^-52, the expected doubles from mpmath at 400 bits.
TEST(Elementary, LogNearOneOfTable) {
  const double cases[][2] = {
      {0x1.fffffffffffffp-1, -0x1.0000000000000p-53}, {0x1.0000000000001p+0, 0x1.fffffffffffffp-53},
      {0x1.ffffffffffffep-1, -0x1.0000000000001p-52}, {0x1.0000000000002p+0, 0x1.ffffffffffffep-52},
      {0x1.ffffffffffffdp-1, -0x1.8000000000001p-52}, {0x1.0000000000003p+0, 0x1.7fffffffffffep-51},
      {0x1.ffffffffffffcp-1, -0x1.0000000000001p-51}, {0x1.0000000000004p+0, 0x1.ffffffffffffcp-51},
      {0x1.ffffffffffffbp-1, -0x1.4000000000002p-51}, {0x1.0000000000005p+0, 0x1.3fffffffffffdp-50},
      {0x1.ffffffffffffap-1, -0x1.8000000000002p-51}, {0x1.0000000000006p+0, 0x1.7fffffffffffcp-50},
      {0x1.ffffffffffff9p-1, -0x1.c000000000003p-51}, {0x1.0000000000007p+0, 0x1.bfffffffffffap-50},
      {0x1.ffffffffffff3p-1, -0x1.a000000000005p-50}, {0x1.000000000000dp+0, 0x1.9fffffffffff5p-49},
      {0x1.fffffffffffefp-1, -0x1.1000000000005p-49}, {0x1.0000000000011p+0, 0x1.0fffffffffff7p-48},
      {0x1.fffffffffff9cp-1, -0x1.9000000000027p-47}, {0x1.0000000000064p+0, 0x1.8ffffffffffb2p-46},
      {0x1.fffffffffff00p-1, -0x1.0000000000040p-45}, {0x1.0000000000100p+0, 0x1.fffffffffff00p-45},
      {0x1.ffffffffffc18p-1, -0x1.f4000000001e8p-44}, {0x1.00000000003e8p+0, 0x1.f3ffffffffc2fp-43},
      {0x1.fffffffff0001p-1, -0x1.fffe000007fffp-38}, {0x1.000000000ffffp+0, 0x1.fffdfffff0002p-37},
      {0x1.ffffffffe0001p-1, -0x1.ffff00000ffffp-37}, {0x1.000000001ffffp+0, 0x1.fffeffffe0002p-36},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(SameBits(SlowLog(c[0]), c[1])) << std::hexfloat << c[0];
    EXPECT_TRUE(SameBits(Log(c[0]), c[1])) << std::hexfloat << c[0];
  }
}

// The slow path's rule near 1 against its fixed-point evaluation, an
// independent computation: every x within 4096 ulps of 1, then random ones
// out to the rule's edge at 2^-36 and just beyond it.
TEST(Elementary, LogNearOneAgreesWithTheFixedPointPath) {
  auto fixed_point = [](double x) {
    double result = kNaN;
    RoundFixed(LogFixed(x), FixedUnit(290), 0, result);
    return result;
  };
  std::vector<double> arguments;
  for (int k = 1; k <= 4096; ++k) {
    arguments.push_back(1.0 - k * 0x1p-53);
    arguments.push_back(1.0 + k * 0x1p-52);
  }
  std::mt19937_64 random(2026);
  std::uniform_int_distribution<std::int64_t> ulps(1, std::int64_t{1} << 18);
  for (int i = 0; i < 20000; ++i) {
    arguments.push_back(1.0 - static_cast<double>(ulps(random)) * 0x1p-53);
    arguments.push_back(1.0 + static_cast<double>(ulps(random)) * 0x1p-53);
  }
  for (double x : arguments) {
    ASSERT_TRUE(SameBits(SlowLog(x), fixed_point(x))) << std::hexfloat << x;
  }
}

TEST(Elementary, SlowPathsAreSeen) {
  static int seen = 0;
  SetSlowPathObserver([](Function, double, double) { ++seen; });
  // Each slow path reports its arguments while an observer is set, and only then.
  SlowLog(3.0);
  SetSlowPathObserver(nullptr);
  SlowLog(3.0);
  EXPECT_EQ(seen, 1);
}

}  // namespace
}  // namespace quarn::elementary
