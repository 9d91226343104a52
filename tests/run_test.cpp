// The built program, run in temporary directories: report file, console,
// standard error and exit status compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/process.hpp"

namespace quarn {
namespace {

using Lines = std::vector<std::string>;

const Lines kBanner = {
    "",
    "",
    "  Program Quarn",
    "     Computes fugacity coefficients at P > 500 bar and",
    "     T from 350-600 C in the sytem H2O-CO2-NaCl",
    "",
    "  I/O file names",
    "     -Input file  = \"qnrun.dat\"",
    "     -Output file = \"qnout.dat\"",
    "",
    "  Input file format",
    "     -Line 1: T(C), P(bars) [free format]",
    "     -Additional lines: X(CO2), X(H2O), and X(NaCl) triplets [free format]",
    "",
    "",
};

const std::string kTitles =
    "    XCO2            phiCO2          fCO2            XH2O            phiH2O          fH2O    "
    "        XNaCl           phiNaCl         fNaCl";
const std::string kDashes =
    "    ------          ------          ------          ------          ------          ------"
    "          ------          ------          ------";
const std::string kLine1 =
    "  0.10000000E+00  0.50069266E+01  0.10013853E+04  0.89000000E+00  0.34083452E+00  "
    "0.60668545E+03  0.10000000E-01  0.50611761E+00  0.10122352E+02";
const std::string kLine2 =
    "  0.30000000E+00  0.32311520E+01  0.19386912E+04  0.60000000E+00  0.40791961E+00  "
    "0.48950353E+03  0.10000000E+00  0.26871917E+00  0.53743834E+02";
const std::string kExample = "500 2000\n0.1 0.89 0.01\n0.3,0.6,0.1\n";
const Lines kHeader = {"  500. DegC   2000. Bars    ", "", kTitles, kDashes};
const Lines kExampleReport = {kHeader[0], "", kTitles, kDashes, kLine1, kLine2};

std::string Joined(const Lines& lines, std::size_t count, const char* line_end) {
  std::string text;
  for (std::size_t i = 0; i < count && i < lines.size(); ++i) text += lines[i] + line_end;
  return text;
}

struct QuarnRun {
  testing::TempDir dir;
  testing::TempDir bin;
  testing::ChildResult result;

  void Start(testing::ChildOptions options = {}) {
    options.working_directory = dir.path().c_str();
    std::string program = QUARN_EXECUTABLE;
    if (options.unprivileged) {
      // The build tree may be out of reach of an unprivileged user: run a copy.
      program = bin.File("quarn");
      std::filesystem::copy_file(QUARN_EXECUTABLE, program);
      ::chmod(program.c_str(), 0755);
    }
    result = testing::RunProgram(program, options);
  }
  std::string Path(const char* name) const { return dir.File(name); }
};

// One run: the run file, what is there before, and what must come out. The
// status is the stop's message number too; the console shows the banner and
// then `console`'s lines, or nothing at all.
struct RunCase {
  const char* name;
  std::string run_file;
  std::function<void(QuarnRun&)> prepare;
  testing::ChildOptions options;
  int status;
  std::string os_text;           // the system's line of the stop, if any
  int unit;                      // the unit in the stop's message
  std::optional<Lines> report;   // the report file's lines; nullopt: not looked at
  std::optional<Lines> console;  // nullopt: the console shows nothing (or is not looked at)
};

void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

void OlderReport(QuarnRun& run) {
  run.dir.Write("qnout.dat", "older report\r\n");
}
void Chmod(QuarnRun& run, const char* file, mode_t mode) {
  if (std::string(file) == "qnout.dat") OlderReport(run);
  ::chmod(run.Path(file).c_str(), mode);
}
void SocketAsReport(QuarnRun& run) {
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  run.Path("qnout.dat").copy(address.sun_path, sizeof address.sun_path - 1);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::close(s);
}

// clang-format off
const std::map<int, std::string> kMessageTexts = {
    {9, "permission to access file denied"}, {22, "input record too long"}, {24, "end-of-file during read"},
    {29, "file not found"}, {30, "open failure"}, {38, "error during write"}, {42, "no such device"},
    {47, "write to READONLY file"}, {59, "list-directed I/O syntax error"}, {64, "input conversion error"}};
// clang-format on

const Lines kOlder = {"older report"};
const Lines kUpToLine1 = {kHeader[0], "", kTitles, kDashes, kLine1};
const Lines kWide = {" ***** DegC  ****** Bars    ", "", kTitles, kDashes};
const Lines kNothing = {};
const std::nullopt_t kNone = std::nullopt;
const long kHeaderBytes = static_cast<long>(Joined(kHeader, 4, "\r\n").size());
const std::string kLong = "0." + std::string(60'000'000, '3');
const std::string kCut = "500 2000\n0.1 0.89 0.01\n";

// clang-format off
const RunCase kRunCases[] = {
    {"worked_example_over_a_longer_report", kExample, [](QuarnRun& r) { r.dir.Write("qnout.dat", std::string(20000, '#') + "\r\n"); },
     {}, 0, "", 0, kExampleReport, kExampleReport},
    {"crlf_line_ends", "500 2000\r\n0.1 0.89 0.01\r\n0.3,0.6,0.1\r\n", {}, {}, 0, "", 0, kExampleReport, kExampleReport},
    {"last_line_without_line_end", "500 2000\n0.1 0.89 0.01\n0.3,0.6,0.1", {}, {}, 0, "", 0, kExampleReport, kExampleReport},
    {"read_only_run_file", kExample, [](QuarnRun& r) { Chmod(r, "qnrun.dat", 0444); }, {.unprivileged = true}, 0, "", 0,
     kExampleReport, kExampleReport},
    {"first_line_only", "500 2000", {}, {}, 0, "", 0, kHeader, kHeader},
    {"too_wide_conditions", "12345 -123456\n", {}, {}, 0, "", 0, kWide, kWide},
    {"missing_run_file", "", [](QuarnRun& r) { ::unlink(r.Path("qnrun.dat").c_str()); }, {}, 29, "No such file or directory", 10,
     kNothing, kNone},
    {"run_file_out_of_reach", kExample, [](QuarnRun& r) { Chmod(r, "qnrun.dat", 0); }, {.unprivileged = true}, 9,
     "Permission denied", 10, kNone, kNone},
    {"report_is_a_directory", kExample, [](QuarnRun& r) { ::mkdir(r.Path("qnout.dat").c_str(), 0755); }, {}, 30,
     "Is a directory", 11, kNone, kNone},
    {"report_is_a_socket", kExample, SocketAsReport, {}, 42, "No such device or address", 11, kNone, kNone},
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's runtime needs descriptors of its own
    {"no_free_descriptor", kExample, {}, {.close_stdin = true, .open_files_limit = 3}, 30, "Too many open files", 10, kNothing, kNone},
#endif
    {"empty_run_file", "", OlderReport, {}, 24, "", 10, kOlder, kNothing},
    {"one_value", "500\n", OlderReport, {}, 24, "", 10, kOlder, kNothing},
    {"letters", "abc 2000\n", OlderReport, {}, 59, "", 10, kOlder, kNothing},
    {"too_large_for_single", "1e39 2000\n", OlderReport, {}, 64, "", 10, kOlder, kNothing},
    {"quoted", "'500' 2000\n", OlderReport, {}, 64, "", 10, kOlder, kNothing},
    {"read_only_report", kExample, [](QuarnRun& r) { Chmod(r, "qnout.dat", 0444); }, {.unprivileged = true}, 47, "", 11,
     kOlder, kNothing},
    {"malformed_composition", kCut + "0.1 x 0.2\n0.3,0.6,0.1\n", {}, {}, 59, "", 10, kUpToLine1, kUpToLine1},
    {"composition_out_of_range", kCut + "0.1 1e400 0.2\n", {}, {}, 64, "", 10, kUpToLine1, kUpToLine1},
    {"composition_cut_off_by_the_end", kCut + "0.5 0.5\n", {}, {}, 24, "", 10, kUpToLine1, kUpToLine1},
    {"full_report_device", kExample, [](QuarnRun& r) { ::symlink("/dev/full", r.Path("qnout.dat").c_str()); }, {}, 38,
     "No space left on device", 11, kNone, kNothing},
    // The report may grow by the header only: the first result line fails
    // there after it has been shown on the console.
    {"report_past_the_file_size_limit", kCut, {}, {.file_size_limit = kHeaderBytes}, 38, "File too large", 11, kHeader, kUpToLine1},
    {"console_gone", kExample, {}, {.stdout_to_closed_pipe = true}, 38, "Broken pipe", 6, kNone, kNone},
    // The run file must not take the console's descriptor.
    {"console_closed", kExample, {}, {.close_stdout = true}, 38, "Bad file descriptor", 6, kNone, kNone},
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory needs more address space
    // Under a limit of the address space a 60 MB number converts without another
    // copy of it, or its line's buffer cannot grow: message 22, whole lines only.
    {"long_number_fits", kCut + kLong + " 0.6 0.1\n", {}, {.address_space_limit = 110L << 20}, 0, "", 0, kNone, kNone},
    {"long_number_too_long", kCut + kLong + " 0.6 0.1\n", {}, {.address_space_limit = 48L << 20}, 22, "", 10, kUpToLine1,
     kUpToLine1},
#endif
};
// clang-format on

class Runs : public ::testing::TestWithParam<RunCase> {};

TEST_P(Runs, GiveTheirReportConsoleAndStop) {
  const RunCase& c = GetParam();
  QuarnRun run;
  run.dir.Write("qnrun.dat", c.run_file);
  if (c.prepare) c.prepare(run);
  run.Start(c.options);
  EXPECT_EQ(run.result.exit_status, c.status);
  const std::string path =
      c.unit == 6 ? "/dev/stdout" : run.Path(c.unit == 10 ? "qnrun.dat" : "qnout.dat");
  EXPECT_EQ(run.result.err, c.status == 0
                                ? ""
                                : testing::StopMessage(c.os_text, c.status,
                                                       kMessageTexts.at(c.status), c.unit, path));
  if (c.report) {
    EXPECT_EQ(run.dir.Read("qnout.dat"), Joined(*c.report, c.report->size(), "\r\n"));
  }
  if (c.console || c.status != 0) {
    EXPECT_EQ(run.result.out,
              c.console ? Joined(kBanner, kBanner.size(), "\n") + Joined(*c.console, 9, "\n") : "");
  }
  if (c.status != 29 && c.status != 9) {
    EXPECT_EQ(run.dir.Read("qnrun.dat"), c.run_file);  // the run file is only ever read
  }
}

INSTANTIATE_TEST_SUITE_P(Quarn, Runs, ::testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Quarn, MathOverflowKeepsEarlierLines) {
  QuarnRun run;
  run.dir.Write("qnrun.dat", "350 500\n0.1 0.89 0.01\n0.9 0 0.1\n0.3 0.6 0.1\n");
  run.Start();
  EXPECT_EQ(run.result.exit_status, 3);
  EXPECT_EQ(run.result.err, "quarn: severe (6203): exp: OVERFLOW error\r\n");
  const std::string report = run.dir.Read("qnout.dat");
  const std::string header =
      Joined({"  350. DegC    500. Bars    ", "", kTitles, kDashes}, 4, "\r\n");
  ASSERT_EQ(report.substr(0, header.size()), header);
  EXPECT_EQ(report.size(), header.size() + 146);  // the first composition's line, and no other
}

// A run file that is a named pipe: the run ends when its writer closes it.
TEST(Quarn, RunFileFedThroughAPipe) {
  QuarnRun run;
  ASSERT_EQ(::mkfifo(run.Path("qnrun.dat").c_str(), 0644), 0);
  std::thread writer([&run] {
    const int fd = ::open(run.Path("qnrun.dat").c_str(), O_WRONLY);
    EXPECT_EQ(::write(fd, kExample.data(), kExample.size()), static_cast<ssize_t>(kExample.size()));
    ::close(fd);
  });
  run.Start();
  writer.join();
  EXPECT_EQ(run.result.exit_status, 0) << run.result.err;
  EXPECT_EQ(run.dir.Read("qnout.dat"), Joined(kExampleReport, 6, "\r\n"));
}

}  // namespace
}  // namespace quarn
