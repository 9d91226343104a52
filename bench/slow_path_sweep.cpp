// How often each correctly rounded function leaves its fast path over a sweep
// of the method: random states across the stated range (350-600 C, 500-5000
// bar, x_CO2 up to 0.9, solvents up to a tenth NaCl by mole), each evaluated
// once; with "wide", across 100-1000 C and 10-10000 bar, where the cubic's
// three-root branch (acos and cos) is taken too. Prints the calls and slow-path
// calls per function and, with a file name, writes there every argument that
// took a slow path (hexadecimal floats: function, x, y), the list the
// elementary tests check against mpmath.
//
//   slow_path_sweep STATES [ARGUMENTS_FILE|-] [wide]
//
// Built with the elementary functions counting their calls, which the library
// proper does not.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>

#include "elementary/call_counts.hpp"
#include "elementary/correctly_rounded.hpp"
#include "quarn/eos.hpp"

namespace {

constexpr const char* kNames[] = {"exp", "log", "pow", "cos", "acos"};
std::array<unsigned long long, 5> slow_calls{};
std::FILE* arguments = nullptr;

void Observe(quarn::elementary::Function function, double x, double y) {
  const int i = static_cast<int>(function);
  ++slow_calls[i];
  if (arguments) std::fprintf(arguments, "%s %a %a\n", kNames[i], x, y);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: slow_path_sweep STATES [ARGUMENTS_FILE|-] [wide]\n");
    return 2;
  }
  const long long states = std::atoll(argv[1]);
  const bool wide = argc > 3 && std::string_view(argv[3]) == "wide";
  if (argc > 2 && std::string_view(argv[2]) != "-" && !(arguments = std::fopen(argv[2], "w"))) {
    std::perror(argv[2]);
    return 1;
  }
  quarn::elementary::SetSlowPathObserver(Observe);
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> T_C(wide ? 100.0 : 350.0, wide ? 1000.0 : 600.0);
  std::uniform_real_distribution<double> P_bar(wide ? 10.0 : 500.0, wide ? 10000.0 : 5000.0);
  std::uniform_real_distribution<double> co2(0.0, 0.9), salt_share(0.0, 0.1);
  for (long long i = 0; i < states; ++i) {
    quarn::Composition x;
    x.x_CO2 = co2(random);
    x.x_NaCl = (1.0 - x.x_CO2) * salt_share(random);
    x.x_H2O = (1.0 - x.x_CO2) - x.x_NaCl;
    const double T = T_C(random), P = P_bar(random);
    quarn::Evaluate(quarn::KelvinFromCelsius(T), quarn::AtmFromBar(P), x);
  }
  const auto& calls = quarn::elementary::CallCounts();
  std::printf("%-5s %14s %10s %12s\n", "", "calls", "slow", "rate");
  for (int i = 0; i < 5; ++i)
    std::printf(
        "%-5s %14llu %10llu %12.3g\n", kNames[i], calls[i], slow_calls[i],
        calls[i] ? static_cast<double>(slow_calls[i]) / static_cast<double>(calls[i]) : 0.0);
  if (arguments && std::fclose(arguments) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
