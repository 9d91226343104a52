// Catching a stop inside the test process: the stop unwinds instead of exiting,
// with its messages kept off the test's own standard error.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "textio/channel.hpp"
#include "textio/termination.hpp"

namespace quarn::testing {

struct Stopped {
  int status;
};

// Runs `body`; returns -1 when it finished, else the low byte of the exit
// status of the stop it ran into (the message number of a fatal stop).
inline int StopStatusOf(const std::function<void()>& body) {
  SetExitHandler([](int status) { throw Stopped{status}; });
  const int saved_stderr = ::dup(STDERR_FILENO);
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, STDERR_FILENO);
  ::close(null);
  int result = -1;
  try {
    body();
  } catch (const Stopped& stop) {
    result = stop.status & 0xFF;
  }
  ::dup2(saved_stderr, STDERR_FILENO);
  ::close(saved_stderr);
  SetExitHandler(nullptr);
  return result;
}

// A unit whose file holds `content`, positioned at its start.
class ChannelWithContent {
 public:
  explicit ChannelWithContent(const std::string& content, int unit = 10)
      : channel_(ChannelOfUnit(unit)) {
    const int fd = ::memfd_create("qnrun.dat", 0);
    if (fd < 0 ||
        ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
      throw std::runtime_error("memfd");
    ::lseek(fd, 0, SEEK_SET);
    channel_.fd = fd;
    channel_.full_path = "/test/qnrun.dat";
    channel_.read_only = false;
    channel_.input = InputBuffer{};
  }
  ~ChannelWithContent() {
    if (channel_.fd >= 0) ::close(channel_.fd);  // a stop may have closed it
    channel_.fd = -1;
  }
  Channel& operator*() { return channel_; }

 private:
  Channel& channel_;
};

}  // namespace quarn::testing
