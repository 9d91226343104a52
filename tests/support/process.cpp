#include "tests/support/process.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quarn::testing {
namespace {

constexpr uid_t kNobody = 65534;

int AnonymousFile() {
  char name[] = "/tmp/quarn-capture-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::unlink(name);
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

}  // namespace

ChildResult RunInChild(const std::function<void()>& body, const ChildOptions& options) {
  std::fflush(nullptr);
  int out = AnonymousFile();
  const int err = AnonymousFile();
  // Standard output goes to a pipe where it must not count against a file size
  // limit (the parent reads it after the child ends: fine for small outputs),
  // or where the test wants a pipe nobody reads.
  const bool stdout_to_pipe = options.stdout_to_closed_pipe || options.file_size_limit >= 0;
  int pipe_ends[2] = {-1, -1};
  if (stdout_to_pipe && ::pipe(pipe_ends) != 0) throw std::runtime_error("pipe");
  if (options.stdout_to_closed_pipe) {
    ::close(pipe_ends[0]);  // no reader from the start: every write meets a broken pipe
    pipe_ends[0] = -1;
  }
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (stdout_to_pipe) {
      if (pipe_ends[0] >= 0) ::close(pipe_ends[0]);
      ::dup2(pipe_ends[1], STDOUT_FILENO);
      ::close(pipe_ends[1]);
    } else {
      ::dup2(out, STDOUT_FILENO);
    }
    ::dup2(err, STDERR_FILENO);
    if (options.working_directory && ::chdir(options.working_directory) != 0) {
      std::_Exit(126);
    }
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
    body();
    std::_Exit(0);
  }
  if (stdout_to_pipe) ::close(pipe_ends[1]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  ChildResult result;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  if (stdout_to_pipe && !options.stdout_to_closed_pipe) {
    ::close(out);
    out = pipe_ends[0];
  }
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

ChildResult RunProgram(const std::string& path, const ChildOptions& options) {
  return RunInChild(
      [&path] {
        ::execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
      },
      options);
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
