// The console's text layer as the faces (the Python package, the page) use
// it: records read by the run file's free-format rules, from a descriptor or
// from a text in memory; the console's message texts; its result line. Part of
// the declared internal interface: the standard library alone, nothing of the
// text layer's own types.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quarn {

struct Channel;

namespace text {

// How a read ended: the record taken whole, the input ended before it (where
// the caller allows that), or a failure with the console's message number and
// the system's error code behind it.
struct ReadOutcome {
  enum class Kind { kComplete, kEndOfFile, kFailed };
  Kind kind;
  int message = 0;
  int os_error = 0;
};

// Records read one after another, each value found as the console's reader
// finds it (blanks, commas, repeat counts, slashes, complex constants).
class RecordReader {
 public:
  // From an open descriptor, which stays open; a line longer than
  // longest_line characters fails as the console fails for want of memory.
  static RecordReader FromDescriptor(int fd, int unit, std::size_t longest_line);
  // From a text in memory, called `name` in messages.
  static RecordReader FromText(std::string_view text, int unit, std::string_view name);
  RecordReader(RecordReader&&) noexcept;
  RecordReader& operator=(RecordReader&&) noexcept;
  ~RecordReader();

  // The conditions record: T and P as the console keeps them, in single
  // precision; the input must not end first.
  ReadOutcome ReadConditions(float& T, float& P);
  // A composition record; an input that ends before it is kEndOfFile.
  ReadOutcome ReadComposition(std::array<double, 3>& x);
  // The lines taken so far: the line a failure was met on.
  std::size_t LinesTaken() const;
  // The console's text of a message about this input.
  std::string MessageText(int message) const;

 private:
  explicit RecordReader(std::unique_ptr<Channel> channel);
  std::unique_ptr<Channel> channel_;
};

// The console's text of an input/output message on a unit and its path.
std::string IoMessageText(int message, int unit, std::string_view path);

// The console's words for a failing elementary function, from its message
// number and its name: "exp: OVERFLOW error".
std::string MathErrorText(int number, std::string_view function);

// The console's result line (no line end) for x, phi and f of CO2, H2O and
// NaCl, in that order.
std::string ResultLine(const std::array<double, 9>& x_phi_f);

}  // namespace text
}  // namespace quarn
