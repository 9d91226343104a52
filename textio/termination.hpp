// The three ways a run ends: the normal Stop, the fatal stop for input/output
// failures, and the math fatal stop for a failing elementary function.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarn {

// One input/output failure: what went wrong, on which unit, and the operating
// system's error code behind it (0 when the system reported nothing).
struct IoFailure {
  int message;
  int unit;
  int os_error = 0;
};

// The exit status of a fatal stop: 0xC0000000 plus the message number. POSIX
// keeps its low byte, which is the message number itself.
constexpr std::uint32_t ConditionValue(int message) {
  return 0xC0000000u + static_cast<std::uint32_t>(message);
}

// Normal end: every channel closed, nothing printed, exit status 0.
[[noreturn]] void Stop();

// Writes the system's text for the error code (if any) and the message line to
// standard error, closes every channel and exits with the condition value.
[[noreturn]] void FatalStop(const IoFailure& failure);

// Writes "<prefix>: severe (<number>): <function>: <kind> error", closes every
// channel and exits with status 3. `function` is "exp", "log", "sqrt" or "**".
[[noreturn]] void MathFatalStop(int message, std::string_view function);

}  // namespace quarn
