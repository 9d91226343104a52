// The free-format (list-directed) read of numbers from a channel.
#pragma once

#include <initializer_list>
#include <span>

#include "textio/channel.hpp"

namespace quarn {

// A variable to be filled by a read: a 32-bit or a 64-bit float.
class ReadTarget {
 public:
  ReadTarget(float& value) : single_(&value) {}   // NOLINT: implicit by design
  ReadTarget(double& value) : double_(&value) {}  // NOLINT: implicit by design
  bool IsSingle() const { return single_ != nullptr; }
  float& Single() const { return *single_; }
  double& Double() const { return *double_; }

 private:
  float* single_ = nullptr;
  double* double_ = nullptr;
};

inline constexpr int kReadComplete = 0;
inline constexpr int kReadEndOfFile = -1;

// Reads values for the targets in order, starting with a new record; the rest of
// the record on which the last value was found is discarded. Returns
// kReadComplete, or kReadEndOfFile when `return_on_end_of_file` is set and the
// file ended before the first target was reached. Every other failure is a
// fatal stop: end of file (24, also when it comes after some targets of a read
// that returns end of file), syntax (59), conversion (64), read (39), memory (22).
int ReadFreeFormat(Channel& channel, std::span<const ReadTarget> targets,
                   bool return_on_end_of_file);

inline int ReadFreeFormat(Channel& channel, std::initializer_list<ReadTarget> targets,
                          bool return_on_end_of_file) {
  return ReadFreeFormat(channel, std::span<const ReadTarget>(targets.begin(), targets.size()),
                        return_on_end_of_file);
}

}  // namespace quarn
