// What a fatal stop writes on standard error, spelled out for expectations.
#pragma once

#include <string>

namespace quarn::testing {

// The message line of a stop, CR LF included.
inline std::string SevereLine(int number, const std::string& text) {
  return "quarn: severe (" + std::to_string(number) + "): " + text + "\r\n";
}

// The system's line, when there is one, then the message line for a unit and file.
inline std::string StopMessage(const std::string& os_text, int number, const std::string& text,
                               int unit, const std::string& path) {
  const std::string os_line = os_text.empty() ? "" : "quarn: " + os_text + "\r\n";
  return os_line + SevereLine(number, text + ", unit " + std::to_string(unit) + ", file " + path);
}

}  // namespace quarn::testing
