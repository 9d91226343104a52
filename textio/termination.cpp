#include "textio/termination.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "textio/channel.hpp"
#include "textio/messages.hpp"

namespace quarn {
namespace {

// Writes the whole line to standard error; there is nobody left to tell if
// that fails, so a failure is ignored.
void WriteToStandardError(const std::string& line) {
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(STDERR_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

std::string SevereLinePrefix(int number) {
  std::string line(kMessagePrefix);
  line += ": severe (";
  line += std::to_string(number);
  line += "): ";
  return line;
}

ExitHandler exit_handler = nullptr;

[[noreturn]] void CloseAndExit(int status) {
  CloseAllChannels();
  if (exit_handler != nullptr) exit_handler(status);
  std::_Exit(status);
}

// The message line of a fatal stop, without its line end: "%d" in the text
// stands for the unit, "%s" for the file path.
std::string FormatIoMessageLine(int message, int unit, std::string_view path) {
  std::string line = SevereLinePrefix(message);
  std::string_view text = IoMessageTemplate(message);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 'd') {
      line += std::to_string(unit);
      ++i;
    } else if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's') {
      line += path;
      ++i;
    } else {
      line += text[i];
    }
  }
  return line;
}

}  // namespace

void SetExitHandler(ExitHandler handler) {
  exit_handler = handler;
}

void Stop() {
  CloseAndExit(0);
}

void FatalStop(const IoFailure& failure) {
  // Every record is written whole, line end included, so the console never
  // holds an unfinished line here and the messages start on a line of their own.
  if (failure.os_error != 0) {
    std::string os_line(kMessagePrefix);
    os_line += ": ";
    os_line += std::strerror(failure.os_error);
    os_line += "\r\n";
    WriteToStandardError(os_line);
  }
  WriteToStandardError(
      FormatIoMessageLine(failure.message, failure.unit, PathOfUnit(failure.unit)) + "\r\n");
  // C++20 defines the conversion to int as modular; the system keeps the low byte.
  CloseAndExit(static_cast<int>(ConditionValue(failure.message)));
}

void MathFatalStop(int message, std::string_view function) {
  std::string line = SevereLinePrefix(message);
  line += function;
  line += ": ";
  line += MathKindName(message);
  line += " error\r\n";
  WriteToStandardError(line);
  CloseAndExit(3);
}

}  // namespace quarn
