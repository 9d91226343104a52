// The built program, run in temporary directories: report file, console,
// standard error and exit status compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.hpp"

namespace quarn {
namespace {

const std::vector<std::string> kBanner = {
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

// The report of the worked example: 500 C, 2000 bar, two compositions.
const std::vector<std::string> kExampleReport = {
    "  500. DegC   2000. Bars    ",
    "",
    kTitles,
    kDashes,
    "  0.10000000E+00  0.50069266E+01  0.10013853E+04  0.89000000E+00  0.34083452E+00  "
    "0.60668545E+03  0.10000000E-01  0.50611761E+00  0.10122352E+02",
    "  0.30000000E+00  0.32311520E+01  0.19386912E+04  0.60000000E+00  0.40791961E+00  "
    "0.48950353E+03  0.10000000E+00  0.26871917E+00  0.53743834E+02",
};

std::string Lines(const std::vector<std::string>& lines, const char* line_end) {
  std::string text;
  for (const std::string& line : lines) text += line + line_end;
  return text;
}
std::string FileText(const std::vector<std::string>& lines) {
  return Lines(lines, "\r\n");
}
std::string ConsoleText(const std::vector<std::string>& lines) {
  return Lines(lines, "\n");
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> First(const std::vector<std::string>& lines, std::size_t n) {
  return {lines.begin(), lines.begin() + static_cast<long>(n)};
}

struct QuarnRun {
  testing::TempDir dir;
  testing::TempDir bin;
  testing::ChildResult result;

  QuarnRun() = default;  // files written by the test, then Start()
  explicit QuarnRun(const std::string& run_file, testing::ChildOptions options = {}) {
    dir.Write("qnrun.dat", run_file);
    Start(options);
  }
  void Start(testing::ChildOptions options = {}) {
    options.working_directory = dir.path();
    std::string program = QUARN_EXECUTABLE;
    if (options.unprivileged) {
      // The build tree may be out of reach of an unprivileged user: run a copy.
      program = bin.File("quarn");
      std::filesystem::copy_file(QUARN_EXECUTABLE, program);
      ::chmod(program.c_str(), 0755);
    }
    result = testing::RunProgram(program, options);
  }
  std::string Report() const { return dir.Read("qnout.dat"); }
  std::string Path(const char* name) const { return dir.File(name); }
};

using testing::StopMessage;

// The worked example, spelled with LF or CR LF line ends, or without the last
// line end, over an older and longer report: exactly the six lines, every time.
TEST(Quarn, WorkedExample) {
  for (const char* run_file :
       {"500 2000\n0.1 0.89 0.01\n0.3,0.6,0.1\n", "500 2000\r\n0.1 0.89 0.01\r\n0.3,0.6,0.1\r\n",
        "500 2000\n0.1 0.89 0.01\n0.3,0.6,0.1"}) {
    QuarnRun run;
    run.dir.Write("qnrun.dat", run_file);
    run.dir.Write("qnout.dat", std::string(20000, '#') + "\r\n");
    run.Start();
    EXPECT_EQ(run.result.exit_status, 0) << run_file;
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.Report(), FileText(kExampleReport));
    EXPECT_EQ(run.result.out, ConsoleText(Concat(kBanner, kExampleReport)));
  }
}

TEST(Quarn, FirstLineOnly) {
  const std::vector<std::string> header = {"  450. DegC   2000. Bars    ", "", kTitles, kDashes};
  for (const char* run_file : {"450 2000\n", "450 2000"}) {
    QuarnRun run(run_file);
    EXPECT_EQ(run.result.exit_status, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_EQ(run.Report(), FileText(header));
    EXPECT_EQ(run.result.out, ConsoleText(Concat(kBanner, header)));
  }
}

TEST(Quarn, MissingRunFileStopsBeforeTheBanner) {
  QuarnRun run;
  run.Start();
  EXPECT_EQ(run.result.exit_status, 29);
  EXPECT_EQ(run.result.out, "");
  EXPECT_EQ(run.result.err, StopMessage("No such file or directory", 29, "file not found", 10,
                                        run.Path("qnrun.dat")));
  EXPECT_NE(::access(run.Path("qnout.dat").c_str(), F_OK), 0);
}

TEST(Quarn, ReportPathThatIsADirectory) {
  QuarnRun run;
  run.dir.Write("qnrun.dat", "500 2000\n");
  ::mkdir(run.Path("qnout.dat").c_str(), 0755);
  run.Start();
  EXPECT_EQ(run.result.exit_status, 30);
  EXPECT_EQ(run.result.out, "");
  EXPECT_EQ(run.result.err,
            StopMessage("Is a directory", 30, "open failure", 11, run.Path("qnout.dat")));
}

// Failures after the banner and before the report's first line: an older
// report stays as it was.
struct StopBeforeTheReport {
  const char* name;
  const char* run_file;
  bool read_only_report;
  int message;
  const char* text;
  int unit;
};

TEST(Quarn, StopsBeforeTheReportKeepAnOlderReport) {
  const StopBeforeTheReport cases[] = {
      {"empty_run_file", "", false, 24, "end-of-file during read", 10},
      {"one_value", "500\n", false, 24, "end-of-file during read", 10},
      {"letters", "abc 2000\n", false, 59, "list-directed I/O syntax error", 10},
      {"second_point", "500 20.0.0\n", false, 59, "list-directed I/O syntax error", 10},
      {"too_large_for_single", "1e39 2000\n", false, 64, "input conversion error", 10},
      {"quoted", "'500' 2000\n", false, 64, "input conversion error", 10},
      {"read_only_report", "500 2000\n", true, 47, "write to READONLY file", 11},
  };
  for (const StopBeforeTheReport& c : cases) {
    QuarnRun run;
    run.dir.Write("qnrun.dat", c.run_file);
    run.dir.Write("qnout.dat", "older report\r\n");
    if (c.read_only_report) ::chmod(run.Path("qnout.dat").c_str(), 0444);
    run.Start({.unprivileged = c.read_only_report});
    EXPECT_EQ(run.result.exit_status, c.message) << c.name;
    EXPECT_EQ(run.result.out, ConsoleText(kBanner)) << c.name;
    EXPECT_EQ(run.result.err, StopMessage("", c.message, c.text, c.unit,
                                          run.Path(c.unit == 10 ? "qnrun.dat" : "qnout.dat")))
        << c.name;
    EXPECT_EQ(run.Report(), "older report\r\n") << c.name;
  }
}

TEST(Quarn, MalformedCompositionKeepsEarlierLines) {
  for (const char* bad : {"0.1 x 0.2\n", "0.1 1e400 0.2\n"}) {
    QuarnRun run(std::string("500 2000\n0.1 0.89 0.01\n") + bad + "0.3,0.6,0.1\n");
    const int message = std::string(bad).find('x') != std::string::npos ? 59 : 64;
    EXPECT_EQ(run.result.exit_status, message);
    EXPECT_EQ(run.Report(), FileText(First(kExampleReport, 5)));
    EXPECT_EQ(run.result.out, ConsoleText(Concat(kBanner, First(kExampleReport, 5))));
  }
}

TEST(Quarn, IncompleteLastCompositionIsAnError) {
  QuarnRun run("500 2000\n0.1 0.89 0.01\n0.5 0.5\n");
  EXPECT_EQ(run.result.exit_status, 24);
  EXPECT_EQ(run.result.err,
            StopMessage("", 24, "end-of-file during read", 10, run.Path("qnrun.dat")));
  EXPECT_EQ(run.Report(), FileText(First(kExampleReport, 5)));
}

TEST(Quarn, MathOverflowKeepsEarlierLines) {
  QuarnRun run("350 500\n0.1 0.89 0.01\n0.9 0 0.1\n0.3 0.6 0.1\n");
  EXPECT_EQ(run.result.exit_status, 3);
  EXPECT_EQ(run.result.err, "quarn: severe (6203): exp: OVERFLOW error\r\n");
  const std::string report = run.Report();
  const std::string header = FileText({"  350. DegC    500. Bars    ", "", kTitles, kDashes});
  ASSERT_EQ(report.substr(0, header.size()), header);
  const std::string result_line = report.substr(header.size());
  EXPECT_EQ(result_line.size(), 144u + 2);  // the first composition's line, and no other
  EXPECT_EQ(result_line.substr(0, 16), "  0.10000000E+00");
  EXPECT_EQ(run.result.out,
            ConsoleText(kBanner) +
                ConsoleText({"  350. DegC    500. Bars    ", "", kTitles, kDashes}) +
                result_line.substr(0, 144) + "\n");
}

TEST(Quarn, FullReportDeviceIsMessage38AfterTheBanner) {
  QuarnRun run;
  run.dir.Write("qnrun.dat", "500 2000\n0.1 0.89 0.01\n");
  ::symlink("/dev/full", run.Path("qnout.dat").c_str());
  run.Start();
  EXPECT_EQ(run.result.exit_status, 38);
  // The conditions line goes to the report file first: the console never sees it.
  EXPECT_EQ(run.result.out, ConsoleText(kBanner));
  EXPECT_EQ(run.result.err, StopMessage("No space left on device", 38, "error during write", 11,
                                        run.Path("qnout.dat")));
}

TEST(Quarn, ResultLinesGoToTheConsoleFirst) {
  // The report may grow by the header only: the first result line fails there
  // after it has been shown on the console.
  const long header_bytes = static_cast<long>(FileText(First(kExampleReport, 4)).size());
  QuarnRun run("500 2000\n0.1 0.89 0.01\n", {.file_size_limit = header_bytes});
  EXPECT_EQ(run.result.exit_status, 38);
  EXPECT_EQ(run.result.out, ConsoleText(Concat(kBanner, First(kExampleReport, 5))));
  EXPECT_EQ(run.Report(), FileText(First(kExampleReport, 4)));
  EXPECT_EQ(run.result.err,
            StopMessage("File too large", 38, "error during write", 11, run.Path("qnout.dat")));
}

TEST(Quarn, ConsoleThatGoesAwayIsMessage38) {
  QuarnRun run("500 2000\n0.1 0.89 0.01\n", {.stdout_to_closed_pipe = true});
  EXPECT_EQ(run.result.signal, 0);
  EXPECT_EQ(run.result.exit_status, 38);
  EXPECT_EQ(run.result.err, StopMessage("Broken pipe", 38, "error during write", 6, "/dev/stdout"));
}

TEST(Quarn, ClosedConsoleNeverWritesIntoTheRunFile) {
  QuarnRun run;
  const std::string run_file = "500 2000\n0.1 0.89 0.01\n";
  run.dir.Write("qnrun.dat", run_file);
  run.result = testing::RunInChild(
      [] {
        ::close(STDOUT_FILENO);
        ::execl(QUARN_EXECUTABLE, QUARN_EXECUTABLE, static_cast<char*>(nullptr));
      },
      {.working_directory = run.dir.path()});
  EXPECT_EQ(run.result.exit_status, 38);
  EXPECT_EQ(run.result.err,
            StopMessage("Bad file descriptor", 38, "error during write", 6, "/dev/stdout"));
  EXPECT_EQ(run.dir.Read("qnrun.dat"), run_file);
}

TEST(Quarn, ConditionsTooWideForTheirFields) {
  QuarnRun run("12345 -123456\n");
  EXPECT_EQ(run.result.exit_status, 0);
  EXPECT_EQ(run.Report(), FileText({" ***** DegC  ****** Bars    ", "", kTitles, kDashes}));
}

std::vector<std::string> ReportLines(const std::string& report) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = report.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(report.substr(start, end - start));
  return lines;
}

// Spellings of the same compositions must give the same report.
struct SameReport {
  const char* name;
  const char* run_file;
  const char* same_as;
};

TEST(Quarn, EquivalentRunFilesGiveTheSameReport) {
  const SameReport cases[] = {
      {"fourth_value_ignored", "500 2000\n0.1 0.89 0.01 7\n", "500 2000\n0.1 0.89 0.01\n"},
      {"split_composition", "500 2000\n0.1 0.89\n0.01 5 5\n0.3 0.6 0.1\n",
       "500 2000\n0.1 0.89 0.01\n0.3 0.6 0.1\n"},
      {"blank_lines", "500 2000\n\n0.1 0.89 0.01\n  \n\n", "500 2000\n0.1 0.89 0.01\n"},
      {"slash_keeps_previous", "500 2000\n0.1 0.89 0.01\n0.3 0.6 /\n",
       "500 2000\n0.1 0.89 0.01\n0.3 0.6 0.01\n"},
      {"slash_on_first_is_zero", "500 2000\n0.2 0.8 /\n", "500 2000\n0.2 0.8 0\n"},
      {"null_keeps_previous", "500 2000\n0.1 0.89 0.01\n0.3,,0.1\n",
       "500 2000\n0.1 0.89 0.01\n0.3 0.89 0.1\n"},
      {"ctrl_z_ends_input", "500 2000\n0.1 0.89 0.01\n\x1a\n0.3 0.6 0.1\n",
       "500 2000\n0.1 0.89 0.01\n"},
  };
  for (const SameReport& c : cases) {
    QuarnRun run(c.run_file);
    QuarnRun reference(c.same_as);
    EXPECT_EQ(run.result.exit_status, 0) << c.name;
    EXPECT_EQ(run.Report(), reference.Report()) << c.name;
    EXPECT_EQ(run.result.out, reference.result.out) << c.name;
  }
}

TEST(Quarn, NegativeMoleFractionIsShownWithoutLeadingZero) {
  QuarnRun run("500 2000\n-0.1 0.9 0.2\n");
  const std::vector<std::string> lines = ReportLines(run.Report());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4].substr(0, 16), "  -.10000000E+00");
}

// A run file that is a named pipe: the run ends when its writer closes it.
TEST(Quarn, RunFileFedThroughAPipe) {
  QuarnRun run;
  ASSERT_EQ(::mkfifo(run.Path("qnrun.dat").c_str(), 0644), 0);
  std::thread writer([&run] {
    const int fd = ::open(run.Path("qnrun.dat").c_str(), O_WRONLY);
    const std::string text = "500 2000\n0.1 0.89 0.01\n0.3,0.6,0.1\n";
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
  });
  run.Start();
  writer.join();
  EXPECT_EQ(run.result.exit_status, 0) << run.result.err;
  EXPECT_EQ(run.Report(), FileText(kExampleReport));
}

TEST(Quarn, NoFreeDescriptorIsTooManyOpenFiles) {
  QuarnRun run("500 2000\n", {.close_stdin = true, .open_files_limit = 3});
  EXPECT_EQ(run.result.exit_status, 30);
  EXPECT_EQ(run.result.err,
            StopMessage("Too many open files", 30, "open failure", 10, run.Path("qnrun.dat")));
}

#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory needs more address space
// Under a limit of the address space a long line either fits its buffer, and a
// 60 MB number in it converts without another copy, or the buffer cannot grow:
// message 22. Either way the report holds whole lines only.
TEST(Quarn, LongNumbersUnderAnAddressSpaceLimit) {
  const std::string token = "0." + std::string(60'000'000, '3');
  for (const auto& [limit, status] : {std::pair{110L << 20, 0}, std::pair{48L << 20, 22}}) {
    QuarnRun run("500 2000\n0.1 0.89 0.01\n" + token + " 0.6 0.1\n",
                 {.address_space_limit = limit});
    EXPECT_EQ(run.result.exit_status, status) << run.result.err;
    const std::vector<std::string> lines = ReportLines(run.Report());
    ASSERT_EQ(lines.size(), status == 0 ? 6u : 5u);
    EXPECT_EQ(run.Report().size() % 146, (28 + 2 + 0 + 2 + 137 + 2 + 138 + 2) % 146);
    if (status == 22) {
      EXPECT_EQ(run.result.err,
                StopMessage("", 22, "input record too long", 10, run.Path("qnrun.dat")));
    } else {
      EXPECT_EQ(lines[5].substr(0, 16), "  0.33333333E+00");
    }
  }
}
#endif

}  // namespace
}  // namespace quarn
