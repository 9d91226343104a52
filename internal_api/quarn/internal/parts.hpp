// Contiguous parts of a range of points, each on a thread of its own: the one
// way work is split over threads, by the fugacity, phase and fluid batch calls
// and by the Python package's work around them; and the check of a batch's
// input columns. Part of the declared internal
// interface: header-only, the standard library alone.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <numeric>
#include <span>
#include <thread>
#include <vector>

namespace quarn {

// Below this many points of the equation of state a part is not worth a
// thread; a phase calculation is worth one on its own.
inline constexpr std::size_t kPointsPerThread = 4096;

// The threads to run on: `threads`, none meaning every hardware thread, and
// never more than the hardware has (more only queue behind each other).
inline unsigned ThreadCount(unsigned threads) {
  const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
  return threads == 0 ? hardware : std::min(threads, hardware);
}

// How many parts n points make on up to `threads` threads (0: every hardware
// thread): at least one, and none smaller than smallest_part.
inline std::size_t PartCount(std::size_t n, unsigned threads,
                             std::size_t smallest_part = kPointsPerThread) {
  return std::max<std::size_t>(1, std::min<std::size_t>(ThreadCount(threads), n / smallest_part));
}

// Calls work(k, from, to) for each of `parts` contiguous parts k of [begin,
// end), each on a thread of its own; the calling thread does the last part,
// and any part no thread can be had for.
template <class Work>
void RunInParts(std::size_t begin, std::size_t end, std::size_t parts, const Work& work) {
  const std::size_t n = end - begin;
  std::vector<std::thread> helpers;
  std::size_t from = begin;
  for (std::size_t k = 0; k < parts; ++k) {
    const std::size_t to = begin + n * (k + 1) / parts;
    bool started = false;
    if (k + 1 < parts) {
      try {
        helpers.emplace_back(std::cref(work), k, from, to);
        started = true;
      } catch (...) {  // no thread to be had: this thread does the part
      }
    }
    if (!started) work(k, from, to);
    from = to;
  }
  for (std::thread& helper : helpers) helper.join();
}

// Whether each input column of a batch of n points holds one value for all of
// them or one per point.
inline bool ColumnsFit(std::size_t n, std::initializer_list<std::span<const double>> columns) {
  for (std::span<const double> column : columns) {
    if (column.size() != 1 && column.size() != n) return false;
  }
  return true;
}

// The points of a batch of n in order of their T and P (compared by their
// bits; equal pairs keep their own order), so that each distinct pair is made
// into conditions once, however the points come. Empty when T and P hold one
// value each: the order is then the points' own. The columns must fit n.
inline std::vector<std::size_t> OrderByConditions(std::span<const double> T,
                                                  std::span<const double> P, std::size_t n) {
  if (T.size() <= 1 && P.size() <= 1) return {};
  auto bits = [](std::span<const double> column, std::size_t i) {
    return std::bit_cast<std::uint64_t>(column.size() == 1 ? column[0] : column[i]);
  };
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const std::uint64_t Ta = bits(T, a), Tb = bits(T, b);
    return Ta != Tb ? Ta < Tb : bits(P, a) < bits(P, b);
  });
  return order;
}

}  // namespace quarn
