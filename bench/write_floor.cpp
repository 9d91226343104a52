// The floor for the whole-program benchmark: for COUNT compositions, the two
// write calls quarn makes for a result line (145 bytes to the console, 146 to
// qnout.dat) and nothing else.  write_floor COUNT
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int report = ::open("qnout.dat", O_RDWR | O_CREAT | O_TRUNC, 0666);
  if (report < 0) return 1;
  char line[146];
  std::memset(line, '0', sizeof line);
  line[144] = '\r';
  line[145] = '\n';
  char console_line[145];
  std::memset(console_line, '0', sizeof console_line);
  console_line[144] = '\n';
  for (long i = 0; i < count; ++i) {
    if (::write(STDOUT_FILENO, console_line, sizeof console_line) < 0) return 1;
    if (::write(report, line, sizeof line) < 0) return 1;
  }
  ::close(report);
  return 0;
}
