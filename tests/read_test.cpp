// The free-format reader and the conversion of its numeric tokens.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>

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

}  // namespace
}  // namespace quarn
