// The calculator's WebAssembly interface: plain C functions over numbers and a
// shared buffer, for the page's JavaScript. Every number is the library's own
// (the project's correctly rounded elementary functions, the method's order of
// operations), so the page shows the console program's digits.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "quarn/eos.hpp"
#include "quarn/equilibrium.hpp"
#include "quarn/internal/records.hpp"

namespace {

// Numbers out to the page: see each function for its layout.
double numbers[64];
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

// A list of compositions in the run file's free format (three mole fractions
// a record), at one T and P: text gets one line per composition, its report
// line, or for a failing elementary function a line starting "!" with the
// console's message. A report line of a fluid that the model splits ends in
// " | splits: " and the flash's status ("brine + CO2-rich", "salt split",
// "three phases"); one whose phases are undecided in " | phases undecided: "
// and the reason. A record that cannot be read ends the list with the
// reader's message. Returns the number of compositions.
int quarn_table(const char* input, int length, double T_C, double P_bar, int single_precision) {
  const State s = Inputs(T_C, P_bar, single_precision);
  const double T_K = quarn::KelvinFromCelsius(s.T_C), P_atm = quarn::AtmFromBar(s.P_bar);
  const quarn::Conditions conditions(T_K, P_atm);
  const quarn::EquilibriumConditions phases(T_K, P_atm);
  using quarn::text::ReadOutcome;
  quarn::text::RecordReader reader = quarn::text::RecordReader::FromText(
      std::string_view(input, static_cast<std::size_t>(length)), 5, "the list");
  text.clear();
  int count = 0;
  std::array<double, 3> x{};
  for (;;) {
    const ReadOutcome outcome = reader.ReadComposition(x);
    if (outcome.kind == ReadOutcome::Kind::kEndOfFile) break;
    if (outcome.kind == ReadOutcome::Kind::kFailed) {
      text += "! line ";
      text += std::to_string(reader.LinesTaken());
      text += ": ";
      text += reader.MessageText(outcome.message);
      text += '\n';
      break;
    }
    ++count;
    const quarn::Evaluation e = conditions.Evaluate({x[0], x[1], x[2]});
    if (e.fault) {
      char composition[96];
      std::snprintf(composition, sizeof composition,
                    "! line %zu, x = %.8g %.8g %.8g: ", reader.LinesTaken(), x[0], x[1], x[2]);
      text += composition;
      text += FaultText(e.fault);
    } else {
      text += ResultLine(x, e.result, s.P_bar);
      text += PhaseRemark(phases.Flash({x[0], x[1], x[2]}));
    }
    text += '\n';
  }
  return count;
}

}  // extern "C"
