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

enum class ReadResult {
  kComplete,   // every target processed
  kEndOfFile,  // the file ended before the first target, and the caller asked for that
  kFailed,     // the failure is in ReadStatus::error
};

struct ReadStatus {
  ReadResult result;
  IoError error{};  // end of file (24), syntax (59), conversion (64), read (39), memory (22)
};

// Reads values for the targets in order, starting with a new record; the rest of
// the record on which the last value was found is not examined and is
// discarded. End of file is kEndOfFile when `return_on_end_of_file` is set and
// no target was reached yet, else a failure (24): a composition cut short by
// the end of the file is lost data, not a normal end.
ReadStatus ReadFreeFormat(Channel& channel, std::span<const ReadTarget> targets,
                          bool return_on_end_of_file);

inline ReadStatus ReadFreeFormat(Channel& channel, std::initializer_list<ReadTarget> targets,
                                 bool return_on_end_of_file) {
  return ReadFreeFormat(channel, std::span<const ReadTarget>(targets.begin(), targets.size()),
                        return_on_end_of_file);
}

}  // namespace quarn
