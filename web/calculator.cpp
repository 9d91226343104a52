// The calculator's WebAssembly interface: plain C functions over numbers and a
// shared buffer, for the page's JavaScript. Every number is the library's own
// (the project's correctly rounded elementary functions, the method's order of
// operations), so the page shows the console program's digits.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quarn/eos.hpp"
#include "quarn/equilibrium.hpp"
#include "quarn/fluid.hpp"
#include "quarn/internal/records.hpp"

namespace {

// Numbers out to the page: see each function for its layout.
double numbers[64];
// Longer rows of numbers out to the page (a section's row).
std::vector<double> row;
// Text out to the page, NUL-terminated.
std::string text;

// The state as the run file's reader keeps it: T and P in single precision
// when asked, widened back exactly.
struct State {
  double T_C, P_bar;
};

State Inputs(double T_C, double P_bar, int single_precision) {
  if (single_precision) {
    return {static_cast<double>(static_cast<float>(T_C)),
            static_cast<double>(static_cast<float>(P_bar))};
  }
  return {T_C, P_bar};
}

// The console's result line for a composition: x, phi and f of each species.
std::string ResultLine(const std::array<double, 3>& x, const quarn::Result& r, double P_bar) {
  std::array<double, 9> values;
  for (int i = 0; i < 3; ++i) {
    values[3 * i] = x[i];
    values[3 * i + 1] = r.phi[i];
    values[3 * i + 2] = quarn::FugacityBar(x[i], r.phi[i], P_bar);
  }
  return quarn::text::ResultLine(values);
}

// The console's message text of a failing function: "exp: OVERFLOW error".
std::string FaultText(const quarn::Fault& fault) {
  return quarn::text::MathErrorText(fault.number, quarn::MathFunctionName(fault.function));
}

// What follows a report line: nothing for one phase, else how the model
// splits the fluid, or why that is undecided.
std::string PhaseRemark(const quarn::FlashResult& r) {
  if (r.status == quarn::FlashStatus::kOnePhase) return "";
  if (r.status == quarn::FlashStatus::kUndecided) {
    return std::string(" | phases undecided: ") + quarn::UndecidedName(r.undecided);
  }
  return std::string(" | splits: ") + quarn::FlashStatusName(r.status);
}

// The page's form as the console's run file "qnrun.dat" (unit 10): the
// console's stop line for a value its reader refuses.
constexpr int kRunFileUnit = 10;
constexpr const char* kRunFileName = "qnrun.dat";

std::string StopLine(const quarn::text::RecordReader& reader, int message) {
  return "quarn: severe (" + std::to_string(message) + "): " + reader.MessageText(message);
}

// Up to three 64-bit values of one line of the page's run file, read as the
// console reads a composition (a slash ends the line before any value it
// lacks, which stays NaN). Returns 0, or the reader's message number with
// text the console's stop line.
int ReadLineValues(std::string_view line, std::array<double, 3>& values) {
  std::string record(line);
  record += " /\n";
  auto reader = quarn::text::RecordReader::FromText(record, kRunFileUnit, kRunFileName);
  values = {NAN, NAN, NAN};
  const quarn::text::ReadOutcome outcome = reader.ReadComposition(values);
  if (outcome.kind != quarn::text::ReadOutcome::Kind::kFailed) return 0;
  text = StopLine(reader, outcome.message);
  return outcome.message;
}

// The flash's answers as a figure sorts them: one phase, brine + CO2-rich,
// salt split, two phases with a phase beyond the cap, three phases, undecided.
int VerdictClass(const quarn::FlashResult& r) {
  const bool beyond = r.phases >= 2 && (r.domain & quarn::kPhaseBeyondCap) != 0;
  switch (r.status) {
    case quarn::FlashStatus::kOnePhase:
      return 0;
    case quarn::FlashStatus::kBrineAndCO2Rich:
      return beyond ? 3 : 1;
    case quarn::FlashStatus::kSaltSplit:
      return beyond ? 3 : 2;
    case quarn::FlashStatus::kThreePhases:
      return 4;
    case quarn::FlashStatus::kUndecided:
      break;
  }
  return 5;
}

// The list being computed a few records at a time, so that the page can show
// its lines as they come and stop it between them.
struct ListRun {
  std::string input;
  quarn::text::RecordReader reader = quarn::text::RecordReader::FromText("", 5, "the list");
  std::unique_ptr<quarn::Conditions> conditions;
  std::unique_ptr<quarn::EquilibriumConditions> phases;
  double P_bar = 0.0;
  int count = 0;
  bool done = true;
};
ListRun list;

}  // namespace

extern "C" {

// The buffer of numbers the functions below fill.
double* quarn_numbers() {
  return numbers;
}
// The text the last call left (a report line, a message or a table).
const char* quarn_text() {
  return text.c_str();
}

// The names of the numbers each call leaves, in their order, comma-separated:
// the page reads them by name.
constexpr const char* kEvaluateNames =
    "phi_CO2,phi_H2O,phi_NaCl,f_CO2,f_H2O,f_NaCl,Z,V,ln_phi_CO2,ln_phi_H2O,ln_phi_NaCl,T_K,P_atm,"
    "fault,fault_function";
constexpr const char* kFlashNames =
    "phases,beta,brine_x_CO2,brine_x_H2O,brine_x_NaCl,brine_wt_NaCl,co2_rich_x_CO2,"
    "co2_rich_x_H2O,co2_rich_x_NaCl,co2_rich_wt_NaCl,max_delta_ln_f,mass_balance,delta_G_RT,"
    "min_tpd,phase_beyond_cap,evaluations,beta_saline,saline_x_CO2,saline_x_H2O,saline_x_NaCl,"
    "saline_wt_NaCl";
const char* quarn_evaluate_names() {
  return kEvaluateNames;
}
const char* quarn_flash_names() {
  return kFlashNames;
}
constexpr const char* kCompositionNames = "x_CO2,x_H2O,x_NaCl";
const char* quarn_composition_names() {
  return kCompositionNames;
}

// The mole fractions, as quarn_composition_names names them, of a fluid of
// x_CO2 whose solvent has wt_NaCl weight percent NaCl: the library's
// conversion, the one its phase calculations use.
void quarn_from_salinity(double x_CO2, double wt_NaCl) {
  const quarn::Composition x = quarn::CompositionFromSalinity(x_CO2, wt_NaCl);
  numbers[0] = x.x_CO2;
  numbers[1] = x.x_H2O;
  numbers[2] = x.x_NaCl;
}

// One state; numbers as quarn_evaluate_names names them (the fault's function
// as its quarn::MathFunction). text: the console's report line, or its
// message for a failing elementary function. Returns the fault's number (0 for none).
int quarn_evaluate(double T_C, double P_bar, double x_CO2, double x_H2O, double x_NaCl,
                   int single_precision) {
  const State s = Inputs(T_C, P_bar, single_precision);
  const double T_K = quarn::KelvinFromCelsius(s.T_C), P_atm = quarn::AtmFromBar(s.P_bar);
  const std::array<double, 3> x = {x_CO2, x_H2O, x_NaCl};
  const quarn::Evaluation e = quarn::Evaluate(T_K, P_atm, {x_CO2, x_H2O, x_NaCl});
  for (int i = 0; i < 3; ++i) {
    numbers[i] = e.result.phi[i];
    numbers[3 + i] = quarn::FugacityBar(x[i], e.result.phi[i], s.P_bar);
    numbers[8 + i] = e.result.ln_phi[i];
  }
  numbers[6] = e.result.Z;
  numbers[7] = e.result.V_cm3_per_mol;
  numbers[11] = T_K;
  numbers[12] = P_atm;
  numbers[13] = e.fault.number;
  numbers[14] = static_cast<double>(e.fault.function);
  text = e.fault ? FaultText(e.fault) : ResultLine(x, e.result, s.P_bar);
  return e.fault.number;
}

// The density and activities of one fluid, as quarn_properties_names names
// them (NaN where the model fails for the fluid or a pure reference fluid).
constexpr const char* kPropertiesNames = "rho_g_per_cm3,a_H2O,a_CO2,gamma_NaCl,a_NaCl";
const char* quarn_properties_names() {
  return kPropertiesNames;
}
void quarn_properties(double T_C, double P_bar, double x_CO2, double x_H2O, double x_NaCl,
                      int single_precision) {
  const State s = Inputs(T_C, P_bar, single_precision);
  const double T_K = quarn::KelvinFromCelsius(s.T_C), P_atm = quarn::AtmFromBar(s.P_bar);
  const quarn::Composition x{x_CO2, x_H2O, x_NaCl};
  const quarn::Evaluation e = quarn::Evaluate(T_K, P_atm, x);
  numbers[0] = e.fault ? NAN : quarn::MassDensity(x, e.result.V_cm3_per_mol);
  const quarn::Activities a = quarn::ActivitiesAt(T_K, P_atm, x);
  numbers[1] = a.a_H2O;
  numbers[2] = a.a_CO2;
  numbers[3] = a.gamma_NaCl;
  numbers[4] = a.a_NaCl;
}

// The phases of one state; numbers as quarn_flash_names names them
// (phase_beyond_cap: 1 where a phase is saltier than the cap). text: the
// status ("brine + CO2-rich", ...), then a tab and the undecided reason.
int quarn_flash(double T_C, double P_bar, double x_CO2, double x_H2O, double x_NaCl,
                int single_precision) {
  const State s = Inputs(T_C, P_bar, single_precision);
  const quarn::EquilibriumConditions conditions(quarn::KelvinFromCelsius(s.T_C),
                                                quarn::AtmFromBar(s.P_bar));
  const quarn::FlashResult r = conditions.Flash({x_CO2, x_H2O, x_NaCl});
  const double values[] = {static_cast<double>(r.phases),
                           r.beta,
                           r.brine.x.x_CO2,
                           r.brine.x.x_H2O,
                           r.brine.x.x_NaCl,
                           r.brine.wt_NaCl,
                           r.co2_rich.x.x_CO2,
                           r.co2_rich.x.x_H2O,
                           r.co2_rich.x.x_NaCl,
                           r.co2_rich.wt_NaCl,
                           r.certificate.max_delta_ln_f,
                           r.certificate.mass_balance,
                           r.certificate.delta_G_RT,
                           r.certificate.min_tpd,
                           (r.domain & quarn::kPhaseBeyondCap) ? 1.0 : 0.0,
                           static_cast<double>(r.evaluations),
                           r.beta_saline,
                           r.saline_co2_bearing.x.x_CO2,
                           r.saline_co2_bearing.x.x_H2O,
                           r.saline_co2_bearing.x.x_NaCl,
                           r.saline_co2_bearing.wt_NaCl};
  std::memcpy(numbers, values, sizeof values);
  text = quarn::FlashStatusName(r.status);
  text += '\t';
  text += quarn::UndecidedName(r.undecided);
  return static_cast<int>(r.status);
}

// The page's state as a run file (the conditions line, then a composition
// line), read as the console reads "qnrun.dat": T and P in single precision,
// as the console keeps them, then one composition; for single_precision 0,
// T and P in double precision from the first line alone (a slash ends it),
// by the same rules. numbers: T, P, the three mole fractions, and 1 when the
// composition was read whole (0 when the text ended first: the console then
// writes no result line). Returns 0, or the reader's message number with
// text the console's stop line ("quarn: severe (59): list-directed I/O
// syntax error, unit 10, file qnrun.dat").
int quarn_read_run_file(const char* input, int length, int single_precision) {
  using quarn::text::ReadOutcome;
  const std::string_view run_file(input, static_cast<std::size_t>(length));
  auto reader = quarn::text::RecordReader::FromText(run_file, kRunFileUnit, kRunFileName);
  std::array<double, 3> x = {NAN, NAN, NAN};
  ReadOutcome outcome{};
  if (single_precision) {
    float T = 0.0f, P = 0.0f;
    outcome = reader.ReadConditions(T, P);
    numbers[0] = T;
    numbers[1] = P;
  } else {
    const std::size_t end = run_file.find('\n');
    std::array<double, 3> values;
    if (const int message = ReadLineValues(run_file.substr(0, end), values)) return message;
    numbers[0] = values[0];
    numbers[1] = values[1];
    // The composition from the lines after the first.
    reader = quarn::text::RecordReader::FromText(
        end == std::string_view::npos ? std::string_view() : run_file.substr(end + 1), kRunFileUnit,
        kRunFileName);
  }
  if (outcome.kind != ReadOutcome::Kind::kFailed) outcome = reader.ReadComposition(x);
  std::memcpy(numbers + 2, x.data(), sizeof x);
  numbers[5] = outcome.kind == ReadOutcome::Kind::kComplete ? 1.0 : 0.0;
  if (outcome.kind == ReadOutcome::Kind::kFailed) {
    text = StopLine(reader, outcome.message);
    return outcome.message;
  }
  text.clear();
  return 0;
}

// Up to three 64-bit values of one line of the page's run file (a
// composition, or x_CO2 and a salinity), read as the console reads a
// composition; those the line does not hold are NaN. numbers: the values.
// Returns 0, or the reader's message number with text the console's stop line.
int quarn_read_values(const char* line, int length) {
  std::array<double, 3> values;
  text.clear();
  const int message =
      ReadLineValues(std::string_view(line, static_cast<std::size_t>(length)), values);
  std::memcpy(numbers, values.data(), sizeof values);
  return message;
}

// A list of compositions in the run file's free format (three mole fractions
// a record), at one T and P, taken a few records at a time: quarn_list_begin
// keeps the list, each quarn_list_next takes up to `records` more and leaves
// their lines in text. A line is the composition's report line, or for a
// failing elementary function "! line N, x = ...: " and the console's
// message. A report line of a fluid that the model splits ends in
// " | splits: " and the flash's status ("brine + CO2-rich", "salt split",
// "three phases"); one whose phases are undecided in " | phases undecided: "
// and the reason. A record that cannot be read ends the list with "! line N: "
// and the reader's message. quarn_list_next returns 1 while records may
// remain, else 0; numbers[0]: the compositions taken so far.
void quarn_list_begin(const char* input, int length, double T_C, double P_bar,
                      int single_precision) {
  const State s = Inputs(T_C, P_bar, single_precision);
  const double T_K = quarn::KelvinFromCelsius(s.T_C), P_atm = quarn::AtmFromBar(s.P_bar);
  list.input.assign(input, static_cast<std::size_t>(length));
  list.reader = quarn::text::RecordReader::FromText(list.input, 5, "the list");
  list.conditions = std::make_unique<quarn::Conditions>(T_K, P_atm);
  list.phases = std::make_unique<quarn::EquilibriumConditions>(T_K, P_atm);
  list.P_bar = s.P_bar;
  list.count = 0;
  list.done = false;
}

int quarn_list_next(int records) {
  using quarn::text::ReadOutcome;
  text.clear();
  std::array<double, 3> x{};
  for (int k = 0; k < records && !list.done; ++k) {
    const ReadOutcome outcome = list.reader.ReadComposition(x);
    if (outcome.kind == ReadOutcome::Kind::kEndOfFile) {
      list.done = true;
      break;
    }
    if (outcome.kind == ReadOutcome::Kind::kFailed) {
      // The line names the place; the reader's unit and file say nothing more.
      std::string message = list.reader.MessageText(outcome.message);
      const std::string where = ", unit 5, file the list";
      if (message.ends_with(where)) message.resize(message.size() - where.size());
      text += "! line " + std::to_string(list.reader.LinesTaken()) + ": " + message + '\n';
      list.done = true;
      break;
    }
    ++list.count;
    const quarn::Evaluation e = list.conditions->Evaluate({x[0], x[1], x[2]});
    if (e.fault) {
      char composition[96];
      std::snprintf(composition, sizeof composition,
                    "! line %zu, x = %.8g %.8g %.8g: ", list.reader.LinesTaken(), x[0], x[1], x[2]);
      text += composition;
      text += FaultText(e.fault);
    } else {
      text += ResultLine(x, e.result, list.P_bar);
      text += PhaseRemark(list.phases->Flash({x[0], x[1], x[2]}));
    }
    text += '\n';
  }
  numbers[0] = list.count;
  return list.done ? 0 : 1;
}

// The whole list at once (see quarn_list_begin): returns the number of compositions.
int quarn_table(const char* input, int length, double T_C, double P_bar, int single_precision) {
  quarn_list_begin(input, length, T_C, P_bar, single_precision);
  std::string all;
  while (quarn_list_next(256)) all += text;
  all += text;
  text = std::move(all);
  return list.count;
}

// One row of a section of constant solvent salinity wt_NaCl at T_C and P_bar
// (double precision, as the figures take them): the one-phase limit, then
// the flash's verdict at each of nx bulk x_CO2 from x_from to x_to, evenly
// spaced. Returns the row: the limit's x_CO2 (NaN unless found), its status
// (0 found, 1 no limit, 2 undecided), then one class per x_CO2 (0 one phase,
// 1 brine + CO2-rich, 2 salt split, 3 two phases with a phase beyond the cap,
// 4 three phases, 5 undecided); null when nx is not positive.
const double* quarn_section_row(double T_C, double P_bar, double wt_NaCl, double x_from,
                                double x_to, int nx) {
  if (nx <= 0) return nullptr;
  const quarn::EquilibriumConditions conditions(quarn::KelvinFromCelsius(T_C),
                                                quarn::AtmFromBar(P_bar));
  row.assign(static_cast<std::size_t>(nx) + 2, 0.0);
  const quarn::OnePhaseLimit limit = conditions.OnePhaseLimitAt(wt_NaCl);
  row[0] = limit.x_CO2;
  row[1] = static_cast<double>(limit.status);
  const double step = nx > 1 ? (x_to - x_from) / (nx - 1) : 0.0;
  for (int k = 0; k < nx; ++k) {
    const double x_CO2 = k == nx - 1 ? x_to : x_from + step * k;
    row[2 + k] = VerdictClass(conditions.Flash(quarn::CompositionFromSalinity(x_CO2, wt_NaCl)));
  }
  return row.data();
}

// A row of the ternary at T_C and P_bar: the flash of the fluids of one bulk
// x_CO2 in solvents of the `count` salinities wt_NaCl. Returns the row, 10
// numbers a fluid: its class (as quarn_section_row's), then the mole
// fractions of CO2, H2O and NaCl of the brine, the CO2-rich fluid and the
// saline CO2-bearing phase (NaN where the flash has no such phase); null when
// count is not positive. The conditions of the last T and P are kept.
const double* quarn_ternary_row(double T_C, double P_bar, double x_CO2, const double* wt_NaCl,
                                int count) {
  static std::unique_ptr<quarn::EquilibriumConditions> kept;
  static double kept_T_C = NAN, kept_P_bar = NAN;
  if (count <= 0) return nullptr;
  if (!kept || kept_T_C != T_C || kept_P_bar != P_bar) {
    kept = std::make_unique<quarn::EquilibriumConditions>(quarn::KelvinFromCelsius(T_C),
                                                          quarn::AtmFromBar(P_bar));
    kept_T_C = T_C;
    kept_P_bar = P_bar;
  }
  row.assign(static_cast<std::size_t>(count) * 10, NAN);
  for (int k = 0; k < count; ++k) {
    const quarn::FlashResult r = kept->Flash(quarn::CompositionFromSalinity(x_CO2, wt_NaCl[k]));
    double* out = row.data() + 10 * k;
    out[0] = VerdictClass(r);
    if (r.phases < 2) continue;
    const quarn::Composition* phases[] = {&r.brine.x, &r.co2_rich.x, &r.saline_co2_bearing.x};
    for (int p = 0; p < (r.phases == 3 ? 3 : 2); ++p) {
      out[1 + 3 * p] = phases[p]->x_CO2;
      out[2 + 3 * p] = phases[p]->x_H2O;
      out[3 + 3 * p] = phases[p]->x_NaCl;
    }
  }
  return row.data();
}

// A column of the P-T figure of a bulk fluid (x_CO2 in a solvent of wt_NaCl)
// at T_C: the stability test's verdict at nP pressures from P_from to P_to
// bar, evenly spaced (0 stable, 1 unstable, 2 undecided). Null when nP is
// not positive.
const double* quarn_pt_column(double T_C, double x_CO2, double wt_NaCl, double P_from, double P_to,
                              int nP) {
  if (nP <= 0) return nullptr;
  const quarn::Composition x = quarn::CompositionFromSalinity(x_CO2, wt_NaCl);
  row.assign(static_cast<std::size_t>(nP), 2.0);
  const double step = nP > 1 ? (P_to - P_from) / (nP - 1) : 0.0;
  for (int k = 0; k < nP; ++k) {
    const double P_bar = k == nP - 1 ? P_to : P_from + step * k;
    const quarn::EquilibriumConditions conditions(quarn::KelvinFromCelsius(T_C),
                                                  quarn::AtmFromBar(P_bar));
    row[static_cast<std::size_t>(k)] = static_cast<double>(conditions.TestStability(x).verdict);
  }
  return row.data();
}

// The density (g/cm^3) of a bulk fluid at T_C and P_bar in double precision:
// an isochore's start. NaN where the model fails.
double quarn_density(double T_C, double P_bar, double x_CO2, double wt_NaCl) {
  const quarn::Composition x = quarn::CompositionFromSalinity(x_CO2, wt_NaCl);
  const quarn::Evaluation e =
      quarn::Evaluate(quarn::KelvinFromCelsius(T_C), quarn::AtmFromBar(P_bar), x);
  return e.fault ? NAN : quarn::MassDensity(x, e.result.V_cm3_per_mol);
}

// One point of the isochore of density rho (g/cm^3) of a bulk fluid at T_C:
// numbers: the model's pressure in bar (NaN where the method does not give
// that volume there: below 500 bar, mechanically unstable, another root),
// and the stability test's verdict there (as quarn_pt_column's; 2 where the
// point is not valid).
void quarn_isochore_point(double T_C, double x_CO2, double wt_NaCl, double rho) {
  const quarn::Composition x = quarn::CompositionFromSalinity(x_CO2, wt_NaCl);
  const double T_K = quarn::KelvinFromCelsius(T_C);
  const quarn::IsochorePoint point =
      quarn::IsochorePressure(T_K, x, quarn::MolarVolumeFromDensity(x, rho));
  const bool valid = !point.fault && point.flags == 0 && std::isfinite(point.P_bar);
  numbers[0] = valid ? point.P_bar : NAN;
  numbers[1] = 2.0;
  if (valid) {
    const quarn::EquilibriumConditions conditions(T_K, quarn::AtmFromBar(point.P_bar));
    numbers[1] = static_cast<double>(conditions.TestStability(x).verdict);
  }
}

}  // extern "C"
