#include "textio/free_format_read.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/stop_capture.hpp"

namespace quarn {
namespace {

constexpr double kUntouched = 7.0;  // every target's value before the read
constexpr int kStatus0 = 1000;      // expected: the read returns 0
constexpr int kStatusEof = 1001;    // expected: the read returns -1

struct ReadCase {
  const char* name;
  std::string input;
  bool single;  // two 32-bit targets (the first line) or three 64-bit ones
  bool return_on_eof;
  int expected;                // kStatus0, kStatusEof or the message number of the stop
  std::vector<double> values;  // the targets afterwards, when the read returned
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

const ReadCase kReadCases[] = {
    // The first line: temperature and pressure.
    {"crlf", "400 1000\r\n", true, false, kStatus0, {400, 1000}},
    {"lf", "400 1000\n", true, false, kStatus0, {400, 1000}},
    {"comma", "400,1000\n", true, false, kStatus0, {400, 1000}},
    {"comma_with_blanks", "400 , 1000\n", true, false, kStatus0, {400, 1000}},
    {"tabs", "\t400\t1000\n", true, false, kStatus0, {400, 1000}},
    {"split_over_two_lines", "400\n1000\n", true, false, kStatus0, {400, 1000}},
    {"extra_value_ignored", "400 1000 999\n", true, false, kStatus0, {400, 1000}},
    {"comma_separates_thousands", "400 1,000\n", true, false, kStatus0, {400, 1}},
    {"empty_file", "", true, false, 24, {}},
    {"only_blank_lines", "\n  \n", true, false, 24, {}},
    {"one_value_then_end", "400\n", true, false, 24, {}},
    {"last_line_without_line_end_is_read", "400 1000", true, false, kStatus0, {400, 1000}},
    {"last_line_without_line_end_cr_dropped", "400 1000\r", true, false, kStatus0, {400, 1000}},
    {"one_value_without_line_end", "400", true, false, 24, {}},
    {"too_large_for_single", "1e39 1\n", true, false, 64, {}},
    {"tiny_single_is_zero", "1e-50 1\n", true, false, kStatus0, {0, 1}},
    {"rounds_in_single", "16777217 400.1\n", true, false, kStatus0, {16777216, 400.1000061035156}},
    // Compositions.
    {"no_more_lines", "", false, true, kStatusEof, {kUntouched, kUntouched, kUntouched}},
    {"blank_lines_then_end",
     "\n \t\n\n",
     false,
     true,
     kStatusEof,
     {kUntouched, kUntouched, kUntouched}},
    {"ctrl_z_record", "\x1a\n", false, true, kStatusEof, {kUntouched, kUntouched, kUntouched}},
    {"ctrl_z_record_crlf",
     "\x1a\r\n0.1 0.2 0.3\n",
     false,
     true,
     kStatusEof,
     {kUntouched, kUntouched, kUntouched}},
    {"incomplete_composition_at_end", "0.5 0.5\n", false, true, 24, {}},
    {"incomplete_composition_without_line_end", "0.5 0.5", false, true, 24, {}},
    {"null_at_end", "0.5,\n", false, true, 24, {}},
    {"last_composition_without_line_end", "0.1 0.2 0.3", false, true, kStatus0, {0.1, 0.2, 0.3}},
    {"repeat", "3*0.3333\n", false, true, kStatus0, {0.3333, 0.3333, 0.3333}},
    {"repeat_beyond_targets", "5*0.5\n", false, true, kStatus0, {0.5, 0.5, 0.5}},
    {"repeat_then_value", "2*0.5 9\n", false, true, kStatus0, {0.5, 0.5, 9}},
    {"repeated_nulls", "0.1 2*\n", false, true, kStatus0, {0.1, kUntouched, kUntouched}},
    {"repeated_nulls_then_comma", "2*,0.5\n", false, true, kStatus0, {kUntouched, kUntouched, 0.5}},
    {"repeat_count_zero", "0*1 2 3\n", false, true, 59, {}},
    {"repeat_of_logical", "3*T\n", false, true, kStatus0, {-1, -1, -1}},
    {"null_between_commas", "0.5,,0.2\n", false, true, kStatus0, {0.5, kUntouched, 0.2}},
    {"null_with_blanks_between_commas",
     "0.5, ,0.2\n",
     false,
     true,
     kStatus0,
     {0.5, kUntouched, 0.2}},
    {"leading_comma_is_null", ",0.2,0.3\n", false, true, kStatus0, {kUntouched, 0.2, 0.3}},
    {"comma_after_comma_across_records",
     "0.1,\n,0.3\n",
     false,
     true,
     kStatus0,
     {0.1, kUntouched, 0.3}},
    {"comma_after_value_across_records", "0.1\n,0.2,0.3\n", false, true, kStatus0, {0.1, 0.2, 0.3}},
    {"slash_ends_read", "0.5 0.3 /\n", false, true, kStatus0, {0.5, 0.3, kUntouched}},
    {"slash_after_value", "0.2 0.8/ 9\n", false, true, kStatus0, {0.2, 0.8, kUntouched}},
    {"lone_slash", "/\n", false, true, kStatus0, {kUntouched, kUntouched, kUntouched}},
    {"exponent_spellings", "1.0D-1 1.0q-1 1.0-1\n", false, true, kStatus0, {0.1, 0.1, 0.1}},
    {"logicals", "T F .true.\n", false, true, kStatus0, {-1, 0, -1}},
    {"lower_case_logicals", "t .f. false\n", false, true, kStatus0, {-1, 0, 0}},
    {"character_constant", "'a' 1 2\n", false, true, 64, {}},
    {"double_quoted_constant", "1 \"b\" 2\n", false, true, 64, {}},
    {"complex_takes_real_part", "(0.5,0.1) 2 3\n", false, true, kStatus0, {0.5, 2, 3}},
    {"complex_with_blanks_and_exponent",
     "( 0.5 ,-15.2E2) 2 3\n",
     false,
     true,
     kStatus0,
     {0.5, 2, 3}},
    {"complex_blank_after_comma", "(0.5, 1) 2 3\n", false, true, 59, {}},
    {"complex_bad_imaginary_part", "(0.5,x) 2 3\n", false, true, 59, {}},
    {"complex_unclosed", "(0.5,1 2 3\n", false, true, 59, {}},
    {"complex_empty_real_part", "(,1) 2 3\n", false, true, 59, {}},
    {"second_point", "0.1.2 1 2\n", false, true, 59, {}},
    {"letters", "abc\n", false, true, 59, {}},
    {"semicolon", "1;2 3 4\n", false, true, 59, {}},
    {"stray_parenthesis", "0.5) 1 1\n", false, true, 59, {}},
    {"too_large_for_double", "1e400 1 1\n", false, true, 64, {}},
    {"syntax_error_with_eof_return", "0.1 0..2 0.3\n", false, true, 59, {}},
};

class FreeFormatRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(FreeFormatRead, FillsTargetsOrStops) {
  const ReadCase& c = GetParam();
  testing::ChannelWithContent channel(c.input);
  float T = static_cast<float>(kUntouched), P = static_cast<float>(kUntouched);
  std::array<double, 3> x = {kUntouched, kUntouched, kUntouched};
  int status = 0;
  const int stop = testing::StopStatusOf([&] {
    status = c.single ? ReadFreeFormat(*channel, {T, P}, c.return_on_eof)
                      : ReadFreeFormat(*channel, {x[0], x[1], x[2]}, c.return_on_eof);
  });
  if (c.expected != kStatus0 && c.expected != kStatusEof) {
    EXPECT_EQ(stop, c.expected);
    return;
  }
  ASSERT_EQ(stop, -1) << "the read stopped the run";
  EXPECT_EQ(status, c.expected == kStatus0 ? kReadComplete : kReadEndOfFile);
  if (c.single) {
    EXPECT_EQ(T, static_cast<float>(c.values[0]));
    EXPECT_EQ(P, static_cast<float>(c.values[1]));
  } else {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(x[i], c.values[i]) << "target " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Records, FreeFormatRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FreeFormatReadSequence, EachReadStartsOnANewRecord) {
  testing::ChannelWithContent channel("400 1000 999\n0.2 0.8\n0.3 0.4 0.5\n\n0.1 0.2 0.3 0.4\n");
  float T = 0, P = 0;
  std::array<double, 3> x = {0, 0, 0};
  ASSERT_EQ(testing::StopStatusOf([&] {
              EXPECT_EQ(ReadFreeFormat(*channel, {T, P}, false), kReadComplete);
              EXPECT_EQ(T, 400.0f);
              EXPECT_EQ(P, 1000.0f);
              // A composition split over two lines; the rest of the second is lost.
              EXPECT_EQ(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true), kReadComplete);
              EXPECT_EQ(x, (std::array<double, 3>{0.2, 0.8, 0.3}));
              EXPECT_EQ(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true), kReadComplete);
              EXPECT_EQ(x, (std::array<double, 3>{0.1, 0.2, 0.3}));
              EXPECT_EQ(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true), kReadEndOfFile);
              EXPECT_EQ(x, (std::array<double, 3>{0.1, 0.2, 0.3}));
            }),
            -1);
}

TEST(FreeFormatReadSequence, RecordsLongerThanTheBufferAreRead) {
  // Values far apart on one line of several hundred kilobytes, then a normal line.
  const std::string blanks(300000, ' ');
  testing::ChannelWithContent channel("0.25" + blanks + "0.5" + blanks + "0.125\r\n1 2 3\n");
  std::array<double, 3> x = {0, 0, 0};
  ASSERT_EQ(testing::StopStatusOf([&] {
              EXPECT_EQ(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true), kReadComplete);
              EXPECT_EQ(x, (std::array<double, 3>{0.25, 0.5, 0.125}));
              EXPECT_EQ(ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true), kReadComplete);
              EXPECT_EQ(x, (std::array<double, 3>{1, 2, 3}));
            }),
            -1);
}

TEST(FreeFormatReadSequence, FailingSystemReadIsMessage39) {
  testing::ChannelWithContent channel("");
  ::close((*channel).fd);
  (*channel).fd = ::open(".", O_RDONLY | O_DIRECTORY);  // read() fails with EISDIR
  std::array<double, 3> x = {0, 0, 0};
  EXPECT_EQ(testing::StopStatusOf([&] { ReadFreeFormat(*channel, {x[0], x[1], x[2]}, true); }), 39);
}

}  // namespace
}  // namespace quarn
