#include "textio/write_all.hpp"

#include <unistd.h>

#include <cerrno>

namespace quarn {

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace quarn
