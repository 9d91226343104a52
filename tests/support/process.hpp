// Test support: child processes under resource limits, temporary directories,
// and the stop messages to expect.
#pragma once

#include <string>

namespace quarn::testing {

struct ChildResult {
  int exit_status = -1;  // -1 when the child did not exit normally
  int signal = 0;        // the signal that ended it, if any
  std::string out;       // standard output
  std::string err;       // standard error
};

struct ChildOptions {
  const char* working_directory = nullptr;  // nullptr: stay where we are
  bool unprivileged = false;                // as root, drop to user nobody so file modes apply
  bool stdout_to_closed_pipe = false;
  bool close_stdin = false;
  bool close_stdout = false;
  long file_size_limit = -1;      // RLIMIT_FSIZE in bytes (-1: none)
  long address_space_limit = -1;  // RLIMIT_AS in bytes
  long open_files_limit = -1;     // RLIMIT_NOFILE
};

// Runs the program at `path` without arguments in a child process.
ChildResult RunProgram(const std::string& path, const ChildOptions& options = {});

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

// Count of random draws scaled by QUARN_TEST_SCALE (sanitizer builds run fewer).
long ScaledCount(long count);

// What a fatal stop writes on standard error: the system's line when there is
// one, then the message line for a unit and file, each with CR LF.
std::string StopMessage(const std::string& os_text, int number, const std::string& text, int unit,
                        const std::string& path);

}  // namespace quarn::testing
