// One run of the program: from the run file "qnrun.dat" to the report file
// "qnout.dat" and the console.
#pragma once

namespace quarn {

// Reads the run file, writes the banner and the report, and ends the process:
// with exit status 0 at the end of the run file, or through a fatal stop.
[[noreturn]] void RunQuarn();

}  // namespace quarn
