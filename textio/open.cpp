#include "textio/open.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "textio/messages.hpp"
#include "textio/termination.hpp"

namespace quarn {
namespace {

// The absolute path made from the working directory and the name, without
// resolving symbolic links.
std::string FullPathName(std::string_view name) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string(name);  // no working directory to show
    buffer.resize(buffer.size() * 2);
  }
  std::string path(buffer.data());
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

// The message number for an errno of a failed open.
int OpenFailureMessage(int os_error) {
  switch (os_error) {
    case ENOENT:
    case ENOTDIR:
      return kMsgFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kMsgPermissionDenied;
    case ENAMETOOLONG:
    case EINVAL:
      return kMsgFileNameError;
    case ENXIO:
    case ENODEV:
      return kMsgNoSuchDevice;
    default:
      return kMsgOpenFailure;
  }
}

bool AccessRefused(int os_error) {
  return os_error == EACCES || os_error == EPERM || os_error == EROFS;
}

// Opens the file on a descriptor above standard input, output and error: were
// one of those closed when the program started, the file would take its place
// and console lines would be written into the run file.
int OpenRetryingOnEintr(const std::string& name, int flags) {
  int fd;
  do {
    fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 && fd <= STDERR_FILENO) {
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    // At the descriptor limit there is no free number above 2, and the move
    // fails with EINVAL: that is too many open files.
    const int saved_errno = moved < 0 && errno == EINVAL ? EMFILE : errno;
    ::close(fd);
    errno = saved_errno;
    fd = moved;
  }
  return fd;
}

}  // namespace

Channel& Open(int unit, std::string_view name, OpenStatus status) {
  Channel& channel = ChannelOfUnit(unit);
  const std::string file(name);
  channel.full_path = FullPathName(name);

  const int create = status == OpenStatus::kUnknown ? O_CREAT : 0;
  // A run file that is a named pipe is opened for reading only: opened for
  // writing too, the program would be a writer of its own pipe and never see
  // the end of the input when the real writer closes it.
  struct stat file_status;
  const bool fifo = status == OpenStatus::kOld && ::stat(file.c_str(), &file_status) == 0 &&
                    S_ISFIFO(file_status.st_mode);
  bool read_only = fifo;
  int fd = OpenRetryingOnEintr(file, fifo ? O_RDONLY : O_RDWR | create);
  int os_error = fd < 0 ? errno : 0;
  if (fd < 0 && AccessRefused(os_error)) {
    // The refusal is what the user must hear about, even where the read-only
    // retry fails otherwise (a file that could not be created, say).
    fd = OpenRetryingOnEintr(file, O_RDONLY);
    read_only = fd >= 0;
  }
  if (fd < 0) FatalStop({OpenFailureMessage(os_error), unit, os_error});
  channel.fd = fd;
  channel.read_only = read_only;
  channel.truncate_after_next_record = true;
  channel.input = InputBuffer{};
  return channel;
}

}  // namespace quarn
