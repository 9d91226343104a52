// Open failures and the messages they map to.
#include "textio/open.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/support/process.hpp"

namespace quarn {
namespace {

struct OpenFailure {
  const char* name;
  std::function<void(const testing::TempDir&)> prepare;
  std::string file;
  OpenStatus status;
  int message;
  std::string os_text, text;
};

void Nothing(const testing::TempDir&) {}
void PrintTo(const OpenFailure& c, std::ostream* os) {
  *os << c.name;
}

const OpenFailure kOpenFailures[] = {
    {"missing_directory", Nothing, "gone/qnout.dat", OpenStatus::kUnknown, 29,
     "No such file or directory", "file not found"},
    {"path_through_a_file", [](const auto& d) { d.Write("plain", ""); }, "plain/qnout.dat",
     OpenStatus::kUnknown, 29, "Not a directory", "file not found"},
    {"name_too_long", Nothing, std::string(300, 'n'), OpenStatus::kUnknown, 43,
     "File name too long", "file name specification error"},
    {"no_access_at_all",
     [](const auto& d) {
       d.Write("qnrun.dat", "1 2\n");
       ::chmod(d.File("qnrun.dat").c_str(), 0);
     },
     "qnrun.dat", OpenStatus::kOld, 9, "Permission denied", "permission to access file denied"},
    {"socket",
     [](const auto& d) {
       const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
       sockaddr_un address{};
       address.sun_family = AF_UNIX;
       d.File("qnout.dat").copy(address.sun_path, sizeof address.sun_path - 1);
       ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
       ::close(s);
     },
     "qnout.dat", OpenStatus::kUnknown, 42, "No such device or address", "no such device"},
};

class OpenFailures : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFailures, MapToTheirMessages) {
  const OpenFailure& c = GetParam();
  testing::TempDir dir;
  c.prepare(dir);
  const int unit = c.status == OpenStatus::kOld ? 10 : 11;  // run file or report file
  const testing::ChildResult result = testing::RunInChild(
      [&c, unit] { Open(unit, c.file, c.status); },
      {.working_directory = dir.path().c_str(), .unprivileged = c.message == 9});
  EXPECT_EQ(result.exit_status, c.message);
  EXPECT_EQ(result.err, testing::StopMessage(c.os_text, c.message, c.text, unit, dir.File(c.file)));
}

INSTANTIATE_TEST_SUITE_P(Files, OpenFailures, ::testing::ValuesIn(kOpenFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarn
