#include <csignal>

#include "driver/run.hpp"

int main() {
  // A console that goes away (a closed pipe) and a report past the file-size
  // limit are write failures to report, not silent kills.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  quarn::RunQuarn();
}
