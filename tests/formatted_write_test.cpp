#include "textio/formatted_write.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "tests/child_process.hpp"
#include "tests/stop_messages.hpp"
#include "textio/open.hpp"

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

// Files: CR LF after each record, and the first record cuts an older, longer file.
TEST(WriteRecords, FileRecordsReplaceAnOlderLongerFile) {
  testing::TempDir dir;
  dir.Write("qnout.dat", std::string(5000, 'x') + "\r\n");
  const testing::ChildResult result = testing::RunInChild(
      [] {
        Channel& report = Open(11, "qnout.dat", OpenStatus::kUnknown);
        constexpr EditItem kTwoLines[] = {Text("first  "), Slash(), Text("second")};
        WriteFormatted(report, kTwoLines, {});
        WriteEmptyRecord(report);
      },
      {.working_directory = dir.path()});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(dir.Read("qnout.dat"), "first  \r\nsecond\r\n\r\n");
}

TEST(WriteRecords, ConsoleRecordsEndWithLineFeed) {
  const testing::ChildResult result = testing::RunInChild([] {
    constexpr EditItem kLine[] = {A(6)};
    WriteFormatted(ConsoleChannel(), kLine, {"abc"});
    WriteEmptyRecord(ConsoleChannel());
  });
  EXPECT_EQ(result.out, "   abc\n\n");
}

TEST(WriteRecords, FullDeviceIsMessage38) {
  testing::TempDir dir;
  ASSERT_EQ(::symlink("/dev/full", dir.File("qnout.dat").c_str()), 0);
  const testing::ChildResult result = testing::RunInChild(
      [] {
        constexpr EditItem kLine[] = {Text("line")};
        WriteFormatted(Open(11, "qnout.dat", OpenStatus::kUnknown), kLine, {});
      },
      {.working_directory = dir.path()});
  EXPECT_EQ(result.exit_status, 38);
  EXPECT_EQ(result.err, testing::StopMessage("No space left on device", 38, "error during write",
                                             11, dir.File("qnout.dat")));
}

TEST(WriteRecords, ReadOnlyFileIsMessage47AndStaysUnchanged) {
  testing::TempDir dir;
  dir.Write("qnout.dat", "old report\r\n");
  ASSERT_EQ(::chmod(dir.File("qnout.dat").c_str(), 0444), 0);
  const testing::ChildResult result = testing::RunInChild(
      [] {
        constexpr EditItem kLine[] = {Text("line")};
        WriteFormatted(Open(11, "qnout.dat", OpenStatus::kUnknown), kLine, {});
      },
      {.working_directory = dir.path(), .unprivileged = true});
  EXPECT_EQ(result.exit_status, 47);
  EXPECT_EQ(result.err,
            testing::StopMessage("", 47, "write to READONLY file", 11, dir.File("qnout.dat")));
  EXPECT_EQ(dir.Read("qnout.dat"), "old report\r\n");
}

TEST(WriteRecords, ClosedConsolePipeIsMessage38) {
  const testing::ChildResult result = testing::RunInChild(
      [] {
        std::signal(SIGPIPE, SIG_IGN);
        WriteEmptyRecord(ConsoleChannel());
      },
      {.stdout_to_closed_pipe = true});
  EXPECT_EQ(result.exit_status, 38);
  EXPECT_EQ(result.err,
            testing::StopMessage("Broken pipe", 38, "error during write", 6, "/dev/stdout"));
}

}  // namespace
}  // namespace quarn
