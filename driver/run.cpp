#include "driver/run.hpp"

#include <array>

#include "textio/report_formats.hpp"
#include "quarn/eos.hpp"
#include "textio/channel.hpp"
#include "textio/formatted_write.hpp"
#include "textio/free_format_read.hpp"
#include "textio/open.hpp"
#include "textio/termination.hpp"

namespace quarn {
namespace {

constexpr int kRunFileUnit = 10;
constexpr int kReportFileUnit = 11;
constexpr const char* kRunFileName = "qnrun.dat";
constexpr const char* kReportFileName = "qnout.dat";

// A read whose failure ends the run; true when every target was processed.
bool Read(Channel& channel, std::initializer_list<ReadTarget> targets, bool return_on_end_of_file) {
  const ReadStatus status = ReadFreeFormat(channel, targets, return_on_end_of_file);
  if (status.result == ReadResult::kFailed) {
    FatalStop({status.error.message, channel.unit, status.error.os_error});
  }
  return status.result == ReadResult::kComplete;
}

void WriteBanner(Channel& console) {
  WriteEmptyRecord(console);
  WriteEmptyRecord(console);
  WriteFormatted(console, report::kA15, {"  Program Quarn"});
  WriteFormatted(console, report::kA54, {"    Computes fugacity coefficients at P > 500 bar and"});
  WriteFormatted(console, report::kA47, {"    T from 350-600 C in the sytem H2O-CO2-NaCl"});
  WriteEmptyRecord(console);
  WriteFormatted(console, report::kA16, {"  I/O file names"});
  WriteFormatted(console, report::kA31, {"  -Input file  = \"qnrun.dat\""});
  WriteFormatted(console, report::kA31, {"  -Output file = \"qnout.dat\""});
  WriteEmptyRecord(console);
  WriteFormatted(console, report::kA19, {"  Input file format"});
  WriteFormatted(console, report::kA41, {"    -Line 1: T(C), P(bars) [free format]"});
  WriteFormatted(console, report::kA39A35,
                 {"    -Additional lines: X(CO2), X(H2O),", " and X(NaCl) triplets [free format]"});
  WriteEmptyRecord(console);
  WriteEmptyRecord(console);
}

}  // namespace

void RunQuarn() {
  Channel& run_file = Open(kRunFileUnit, kRunFileName, OpenStatus::kOld);
  Channel& report_file = Open(kReportFileUnit, kReportFileName, OpenStatus::kUnknown);
  Channel& console = ConsoleChannel();

  WriteBanner(console);

  float T = 0.0f;  // degrees Celsius, kept in 32 bits
  float P = 0.0f;  // bar, kept in 32 bits
  Read(run_file, {T, P}, false);

  WriteFormatted(report_file, report::kConditions, {T, P});
  WriteFormatted(console, report::kConditions, {T, P});
  WriteFormatted(report_file, report::kHeading, {});
  WriteFormatted(console, report::kHeading, {});

  const Conditions conditions(KelvinFromCelsius(T), AtmFromBar(P));
  const double P_bar = static_cast<double>(P);

  std::array<double, 3> x = {0.0, 0.0, 0.0};
  RenderedRecords result_line;
  while (Read(run_file, {x[0], x[1], x[2]}, true)) {
    const Evaluation evaluation = conditions.Evaluate({x[0], x[1], x[2]});
    if (evaluation.fault)
      MathFatalStop(evaluation.fault.number, MathFunctionName(evaluation.fault.function));
    const std::array<double, 3>& phi = evaluation.result.phi;
    std::array<double, 3> f;
    for (int i = 0; i < 3; ++i) f[i] = FugacityBar(x[i], phi[i], P_bar);
    const std::array<FormatValue, 9> values = {x[0], phi[0], f[0],   x[1], phi[1],
                                               f[1], x[2],   phi[2], f[2]};
    // The same formatted write to both outputs: render once, write twice.
    RenderFormat(report::kResult, values, result_line);
    WriteRecords(console, result_line);
    WriteRecords(report_file, result_line);
  }
  Stop();
}

}  // namespace quarn
