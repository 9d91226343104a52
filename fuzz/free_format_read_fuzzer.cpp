// Feeds arbitrary bytes to the free-format reader as a run file: the first read
// takes two 32-bit values, every later one three 64-bit values, until the end.
// Stops unwind back here instead of ending the process. Run with
// -close_fd_mask=2 to keep the stop messages off the console.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "textio/channel.hpp"
#include "textio/free_format_read.hpp"
#include "textio/termination.hpp"

namespace {

struct Stopped {
  int status;
};

void ThrowStopped(int status) {
  throw Stopped{status};
}

bool IsKnownStatus(int status) {
  switch (status & 0xFF) {
    case 0:
    case 22:
    case 24:
    case 39:
    case 59:
    case 64:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarn::SetExitHandler(ThrowStopped);
  const int fd = memfd_create("qnrun.dat", 0);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  ::lseek(fd, 0, SEEK_SET);
  quarn::Channel& channel = quarn::ChannelOfUnit(10);
  channel.fd = fd;
  channel.full_path = "/fuzz/qnrun.dat";
  channel.input = quarn::InputBuffer{};
  try {
    float T = 0.0f, P = 0.0f;
    quarn::ReadFreeFormat(channel, {T, P}, false);
    double x[3] = {0.0, 0.0, 0.0};
    while (quarn::ReadFreeFormat(channel, {x[0], x[1], x[2]}, true) == quarn::kReadComplete) {
      // A value that reads in is finite: overflow is an error, never infinity.
      for (double v : x) {
        if (std::isinf(v)) std::abort();
      }
    }
  } catch (const Stopped& stop) {
    if (!IsKnownStatus(stop.status)) std::abort();
  }
  if (channel.fd >= 0) ::close(channel.fd);  // a stop has closed it already
  channel.fd = -1;
  return 0;
}
