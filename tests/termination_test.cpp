#include "textio/termination.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "tests/support/process.hpp"
#include "textio/channel.hpp"
#include "textio/free_format_read.hpp"
#include "textio/open.hpp"

namespace quarn {
namespace {

TEST(Stops, NormalStopPrintsNothing) {
  const testing::ChildResult result = testing::RunInChild([] { Stop(); });
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST(Stops, FatalStopWithAndWithoutTheSystemsText) {
  const testing::ChildResult with_os = testing::RunInChild([] {
    FatalStop({39, kConsoleUnit, EIO});
  });
  EXPECT_EQ(with_os.exit_status, 39);
  EXPECT_EQ(with_os.err,
            "quarn: Input/output error\r\n"
            "quarn: severe (39): error during read, unit 6, file /dev/stdout\r\n");
  const testing::ChildResult without_os = testing::RunInChild([] { FatalStop({22, 6}); });
  EXPECT_EQ(without_os.exit_status, 22);
  EXPECT_EQ(without_os.err,
            "quarn: severe (22): input record too long, unit 6, file /dev/stdout\r\n");
}

struct OpenFailureCase {
  const char* name;
  std::function<void(const testing::TempDir&)> prepare;
  std::string file;
  OpenStatus status;
  bool unprivileged;
  int message;
  std::string os_text;
  std::string message_text;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const OpenFailureCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kLongName(300, 'n');

const OpenFailureCase kOpenFailures[] = {
    {"missing_directory", [](const auto&) {}, "gone/qnout.dat", OpenStatus::kUnknown, false, 29,
     "No such file or directory", "file not found"},
    {"path_through_a_file", [](const auto& d) { d.Write("plain", ""); }, "plain/qnout.dat",
     OpenStatus::kUnknown, false, 29, "Not a directory", "file not found"},
    {"name_too_long", [](const auto&) {}, kLongName, OpenStatus::kUnknown, false, 43,
     "File name too long", "file name specification error"},
    {"no_access_at_all",
     [](const auto& d) {
       d.Write("qnrun.dat", "1 2\n");
       ::chmod(d.File("qnrun.dat").c_str(), 0);
     },
     "qnrun.dat", OpenStatus::kOld, true, 9, "Permission denied",
     "permission to access file denied"},
    {"socket",
     [](const auto& d) {
       const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
       sockaddr_un address{};
       address.sun_family = AF_UNIX;
       d.File("qnout.dat").copy(address.sun_path, sizeof address.sun_path - 1);
       ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
       ::close(s);
     },
     "qnout.dat", OpenStatus::kUnknown, false, 42, "No such device or address", "no such device"},
};

class OpenFailures : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailures, MapToTheirMessages) {
  const OpenFailureCase& c = GetParam();
  testing::TempDir dir;
  c.prepare(dir);
  const int unit = c.status == OpenStatus::kOld ? 10 : 11;  // run file or report file
  const testing::ChildResult result =
      testing::RunInChild([&c, unit] { Open(unit, c.file, c.status); },
                          {.working_directory = dir.path(), .unprivileged = c.unprivileged});
  EXPECT_EQ(result.exit_status, c.message);
  EXPECT_EQ(result.err,
            testing::StopMessage(c.os_text, c.message, c.message_text, unit, dir.File(c.file)));
}

INSTANTIATE_TEST_SUITE_P(Files, OpenFailures, ::testing::ValuesIn(kOpenFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Open, TooManyOpenFilesIsAnOpenFailure) {
  testing::TempDir dir;
  dir.Write("qnrun.dat", "");
  const testing::ChildResult result = testing::RunInChild(
      [] {
        const rlimit limit{3, 3};  // standard input, output and error only
        ::setrlimit(RLIMIT_NOFILE, &limit);
        Open(10, "qnrun.dat", OpenStatus::kOld);
      },
      {.working_directory = dir.path()});
  EXPECT_EQ(result.exit_status, 30);
  EXPECT_EQ(result.err, testing::StopMessage("Too many open files", 30, "open failure", 10,
                                             dir.File("qnrun.dat")));
}

TEST(Open, RefusedWriteAccessFallsBackToReadOnly) {
  testing::TempDir dir;
  dir.Write("qnrun.dat", "1 2\n");
  ::chmod(dir.File("qnrun.dat").c_str(), 0444);
  const testing::ChildResult result = testing::RunInChild(
      [] {
        Channel& run = Open(10, "qnrun.dat", OpenStatus::kOld);
        float T = 0, P = 0;
        ReadFreeFormat(run, {T, P}, false);
        if (!run.read_only || T != 1 || P != 2) std::_Exit(1);
      },
      {.working_directory = dir.path(), .unprivileged = true});
  EXPECT_EQ(result.exit_status, 0) << result.err;
}

}  // namespace
}  // namespace quarn
