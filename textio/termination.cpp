#include "textio/termination.hpp"

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "textio/channel.hpp"
#include "textio/messages.hpp"
#include "textio/write_all.hpp"

namespace quarn {
namespace {

// A message line built in place: a stop allocates nothing, so that it can
// report a failure that came from memory running out. A path too long for it
// is cut; the system limits a path to well under this.
class MessageLine {
 public:
  MessageLine& operator<<(std::string_view text) {
    const std::size_t room = sizeof text_ - length_;
    const std::size_t n = text.size() < room ? text.size() : room;
    std::memcpy(text_ + length_, text.data(), n);
    length_ += n;
    return *this;
  }
  MessageLine& operator<<(int number) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
  }
  // Writes the line with CR LF to standard error; there is nobody left to tell
  // if that fails, so a failure is ignored.
  void WriteToStandardError() {
    *this << "\r\n";
    WriteAll(STDERR_FILENO, std::string_view(text_, length_));
  }

 private:
  char text_[8192];
  std::size_t length_ = 0;
};

[[noreturn]] void CloseAndExit(int status) {
  CloseAllChannels();
  std::_Exit(status);
}

}  // namespace

void Stop() {
  CloseAndExit(0);
}

void FatalStop(const IoFailure& failure) {
  // Every record is written whole, line end included, so the console never
  // holds an unfinished line here and the messages start on a line of their own.
  if (failure.os_error != 0) {
    (MessageLine() << kMessagePrefix << ": " << std::strerror(failure.os_error))
        .WriteToStandardError();
  }
  MessageLine line;
  line << kMessagePrefix << ": severe (" << failure.message << "): ";
  ExpandIoMessage(failure.message, failure.unit, PathOfUnit(failure.unit), line);
  line.WriteToStandardError();
  // C++20 defines the conversion to int as modular; the system keeps the low byte.
  CloseAndExit(static_cast<int>(ConditionValue(failure.message)));
}

void MathFatalStop(int message, std::string_view function) {
  (MessageLine() << kMessagePrefix << ": severe (" << message << "): " << function << ": "
                 << MathKindName(message) << " error")
      .WriteToStandardError();
  CloseAndExit(3);
}

}  // namespace quarn
