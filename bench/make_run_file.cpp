// Writes a run file of in-range compositions: make_run_file COUNT > qnrun.dat
#include <cstdio>
#include <cstdlib>

#include "bench/compositions.hpp"

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::printf("500 2000\n");
  for (const auto& x : quarn::bench::InRangeCompositions(static_cast<std::size_t>(count))) {
    std::printf("%.6f %.6f %.6f\n", x[0], x[1], x[2]);
  }
  return 0;
}
