// Message numbers and texts of the fatal stops.
#pragma once

#include <string>
#include <string_view>

namespace quarn {

// The fixed prefix of every failure line on standard error.
inline constexpr std::string_view kMessagePrefix = "quarn";

// Input/output failures. The number is also the low byte of the exit status.
enum IoMessage : int {
  kMsgPermissionDenied = 9,
  kMsgRecordTooLong = 22,
  kMsgEndOfFile = 24,
  kMsgFileNotFound = 29,
  kMsgOpenFailure = 30,
  kMsgWriteError = 38,
  kMsgReadError = 39,
  kMsgNoSuchDevice = 42,
  kMsgFileNameError = 43,
  kMsgWriteToReadOnly = 47,
  kMsgSyntaxError = 59,
  kMsgConversionError = 64,
};

// Failures of an elementary function inside the equation of state.
enum MathMessage : int {
  kMathDomain = 6201,
  kMathSingularity = 6202,
  kMathOverflow = 6203,
};

// The message text with "%d" standing for the unit and "%s" for the file path;
// empty for a number outside the table.
std::string_view IoMessageTemplate(int message);

// Hands the message text to `sink` (sink << string_view, sink << int) with the
// unit and the path in place.
template <typename Sink>
void ExpandIoMessage(int message, int unit, std::string_view path, Sink& sink) {
  const std::string_view text = IoMessageTemplate(message);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == "%d") {
      sink << unit;
      ++i;
    } else if (text.substr(i, 2) == "%s") {
      sink << path;
      ++i;
    } else {
      sink << text.substr(i, 1);
    }
  }
}

// The message text as a string.
inline std::string IoMessageText(int message, int unit, std::string_view path) {
  struct Sink {
    std::string text;
    Sink& operator<<(std::string_view piece) {
      text += piece;
      return *this;
    }
    Sink& operator<<(int number) {
      text += std::to_string(number);
      return *this;
    }
  } sink;
  ExpandIoMessage(message, unit, path, sink);
  return sink.text;
}

// "DOMAIN", "SING" or "OVERFLOW".
std::string_view MathKindName(int message);

}  // namespace quarn
