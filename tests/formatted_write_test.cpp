#include "textio/formatted_write.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quarn {
namespace {

using namespace quarn::edit;

std::vector<std::string> Records(Format format, std::initializer_list<FormatValue> values) {
  RenderedRecords rendered;
  RenderFormat(format, std::span<const FormatValue>(values.begin(), values.size()), rendered);
  std::vector<std::string> records;
  for (std::size_t i = 0; i < rendered.size(); ++i) records.emplace_back(rendered[i]);
  return records;
}

TEST(RenderFormat, ItemsLeftToRight) {
  constexpr EditItem kFormat[] = {X(1), F(5, 0), Text(" DegC"), X(2), A(4), Text("  ")};
  EXPECT_EQ(Records(kFormat, {400.0f, "ab"}), (std::vector<std::string>{"  400. DegC    ab  "}));
}

TEST(RenderFormat, RecordBreaksAndTrailingSlash) {
  constexpr EditItem kFormat[] = {Text("a"), Slash(), Text("b"), Slash()};
  EXPECT_EQ(Records(kFormat, {}), (std::vector<std::string>{"a", "b", ""}));
}

TEST(RenderFormat, TrailingBlanksAreNotColumnsWritten) {
  constexpr EditItem kFormat[] = {Text("a"), X(5)};
  EXPECT_EQ(Records(kFormat, {}), (std::vector<std::string>{"a"}));
}

TEST(RenderFormat, GroupsRepeatTheirItems) {
  constexpr EditItem kFormat[] = {Text("<"), Group(3, 2), X(1), E(10, 2), Text(">")};
  EXPECT_EQ(Records(kFormat, {0.125, -0.5, 2.0}),
            (std::vector<std::string>{"<   0.13E+00  -0.50E+00   0.20E+01>"}));
}

}  // namespace
}  // namespace quarn
