#include "driver/report_formats.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "textio/formatted_write.hpp"

namespace quarn {
namespace {

RenderedRecords Render(Format format, std::span<const FormatValue> values) {
  RenderedRecords records;
  RenderFormat(format, values, records);
  return records;
}

TEST(ReportFormats, ConditionsLineAndTheEmptyLineAfterIt) {
  const std::array<FormatValue, 2> values = {500.0f, 2000.0f};
  const RenderedRecords records = Render(report::kConditions, values);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], "  500. DegC   2000. Bars    ");
  EXPECT_EQ(records[0].size(), 28u);
  EXPECT_EQ(records[1], "");
}

TEST(ReportFormats, TitlesAndDashesStandOverTheResultFields) {
  const RenderedRecords heading = Render(report::kHeading, {});
  ASSERT_EQ(heading.size(), 2u);
  const std::string_view titles = heading[0];
  const std::string_view dashes = heading[1];
  EXPECT_EQ(titles.size(), 137u);
  EXPECT_EQ(dashes.size(), 138u);
  const char* const kTitles[] = {"XCO2", "phiCO2", "fCO2",    "XH2O", "phiH2O",
                                 "fH2O", "XNaCl",  "phiNaCl", "fNaCl"};
  for (std::size_t k = 0; k < 9; ++k) {
    const std::size_t column = 16 * k + 4;  // 0-based: column 16k + 5
    EXPECT_EQ(titles.substr(column, std::string_view(kTitles[k]).size()), kTitles[k]);
    EXPECT_EQ(dashes.substr(column, 6), "------");
    const std::size_t gap = k == 0 ? 4 : 10;  // blanks before each group of dashes
    EXPECT_EQ(dashes.substr(column - gap, gap), std::string(gap, ' '));
  }
}

TEST(ReportFormats, ResultLineHasNineFieldsOfSixteenColumns) {
  const std::array<FormatValue, 9> values = {
      0.1, 5.006926626049168, 1001.3853252098336, -0.5, 1.0, 0.0, 1e100, 5e-324, 0.99999999995};
  const RenderedRecords line = Render(report::kResult, values);
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0],
            "  0.10000000E+00  0.50069266E+01  0.10013853E+04  -.50000000E+00  0.10000000E+01"
            "  0.00000000E+00  0.10000000+101  0.49406565-323  0.10000000E+01");
}

TEST(ReportFormats, BannerLineOfTwoTexts) {
  const std::array<FormatValue, 2> values = {"    -Additional lines: X(CO2), X(H2O),",
                                             " and X(NaCl) triplets [free format]"};
  const RenderedRecords line = Render(report::kA39A35, values);
  EXPECT_EQ(line[0], "     -Additional lines: X(CO2), X(H2O), and X(NaCl) triplets [free format]");
  EXPECT_EQ(line[0].size(), 74u);
}

}  // namespace
}  // namespace quarn
