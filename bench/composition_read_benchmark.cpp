// Time per composition read: one line of three numbers into three doubles.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/compositions.hpp"
#include "textio/channel.hpp"
#include "textio/free_format_read.hpp"

namespace {

void BM_CompositionRead(benchmark::State& state) {
  // A run file of compositions written as users write them: blanks, 1 to 17 digits.
  std::string text;
  char line[128];
  for (const auto& x : quarn::bench::InRangeCompositions(100000)) {
    std::snprintf(line, sizeof line, "%.6f %.17g %.3f\n", x[0], x[1], x[2]);
    text += line;
  }
  const int fd = memfd_create("qnrun.dat", 0);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot make the run file");
    return;
  }
  quarn::Channel& channel = quarn::ChannelOfUnit(10);
  channel.fd = fd;
  auto rewind = [&] {
    ::lseek(fd, 0, SEEK_SET);
    channel.input = quarn::InputBuffer{};
  };
  rewind();
  double x[3];
  for (auto _ : state) {
    if (quarn::ReadFreeFormat(channel, {x[0], x[1], x[2]}, true).result !=
        quarn::ReadResult::kComplete) {
      state.PauseTiming();
      rewind();
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(x);
  }
  state.SetItemsProcessed(state.iterations());
  ::close(fd);
  channel.fd = -1;
}
BENCHMARK(BM_CompositionRead);

}  // namespace
