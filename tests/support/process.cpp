#include "tests/support/process.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quarn::testing {
namespace {

constexpr uid_t kNobody = 65534;

// An unnamed file to capture an output in.
int Capture() {
  const int fd = ::memfd_create("capture", 0);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  ::lseek(fd, 0, SEEK_SET);  // a file from its start; a pipe as it comes
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

}  // namespace

ChildResult RunProgram(const std::string& path, const ChildOptions& options) {
  int out = Capture();
  const int err = Capture();
  // Standard output goes to a pipe where it must not count against a file size
  // limit (read after the child ends: fine for small outputs), or where the
  // test wants a pipe nobody reads: every write then meets a broken pipe.
  int pipe_ends[2] = {-1, -1};
  if ((options.stdout_to_closed_pipe || options.file_size_limit >= 0) && ::pipe(pipe_ends) != 0)
    throw std::runtime_error("pipe");
  if (options.stdout_to_closed_pipe) ::close(pipe_ends[0]);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(pipe_ends[1] >= 0 ? pipe_ends[1] : out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (options.working_directory && ::chdir(options.working_directory) != 0) std::_Exit(126);
    if (options.unprivileged && ::geteuid() == 0 &&
        (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      std::_Exit(125);
    }
    if (options.close_stdin) ::close(STDIN_FILENO);
    if (options.close_stdout) ::close(STDOUT_FILENO);
    for (const auto& [resource, value] : {std::pair{RLIMIT_FSIZE, options.file_size_limit},
                                          std::pair{RLIMIT_AS, options.address_space_limit},
                                          std::pair{RLIMIT_NOFILE, options.open_files_limit}}) {
      const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
      if (value >= 0 && ::setrlimit(resource, &limit) != 0) std::_Exit(124);
    }
    ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  if (pipe_ends[1] >= 0) ::close(pipe_ends[1]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  if (pipe_ends[0] >= 0 && !options.stdout_to_closed_pipe) {
    ::close(out);
    out = pipe_ends[0];
  }
  ChildResult result;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

TempDir::TempDir() {
  char name[] = "/tmp/quarn-test-XXXXXX";
  if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name;
  ::chmod(name, 0777);  // an unprivileged child may create its report here
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream(File(name), std::ios::binary) << content;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

long ScaledCount(long count) {
  const char* scale = std::getenv("QUARN_TEST_SCALE");
  if (scale == nullptr) return count;
  const double factor = std::atof(scale);
  return factor > 0 ? static_cast<long>(static_cast<double>(count) * factor) : count;
}

std::string StopMessage(const std::string& os_text, int number, const std::string& text, int unit,
                        const std::string& path) {
  const std::string os_line = os_text.empty() ? "" : "quarn: " + os_text + "\r\n";
  return os_line + "quarn: severe (" + std::to_string(number) + "): " + text + ", unit " +
         std::to_string(unit) + ", file " + path + "\r\n";
}

}  // namespace quarn::testing
