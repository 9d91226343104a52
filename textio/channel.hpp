// Channels: the open files and the console, known by their unit numbers.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quarn {

// The console is unit 6; it is connected to standard output on first use.
inline constexpr int kConsoleUnit = 6;
inline constexpr const char* kConsolePath = "/dev/stdout";

// The unread rest of the input: bytes [begin, end) of `data` are read from the
// file but not yet handed out as records.
struct InputBuffer {
  std::unique_ptr<char[]> data;
  std::size_t capacity = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
  bool file_exhausted = false;    // read() has returned 0
  std::size_t records_taken = 0;  // the line number of the record last taken
  // The largest the buffer may grow for one long record; a longer record fails
  // as one there is no memory for (22). The console program sets no limit.
  std::size_t capacity_limit = static_cast<std::size_t>(-1);
};

// A failure of input or output: its message number and the operating system's
// error code behind it (0 when the system reported nothing).
struct IoError {
  int message = 0;
  int os_error = 0;
};

struct Channel {
  int unit = 0;
  std::string full_path;  // shown in messages
  int fd = -1;
  bool is_console = false;
  bool read_only = false;
  // Set at open for a file written from its start: the first record written
  // sets the end of the file right behind it, so no older content survives.
  bool truncate_after_next_record = false;
  InputBuffer input;
};

// The channel of a unit, created (closed, without a file) on first request.
Channel& ChannelOfUnit(int unit);

// The console channel, connected to standard output.
Channel& ConsoleChannel();

// The full path shown for a unit in messages; empty for an unknown unit.
std::string_view PathOfUnit(int unit);

// Gives the channel `bytes` as its whole input, as if read from a file already.
void LoadInput(Channel& channel, std::string_view bytes);

// Closes every open file channel. Records are written out as they complete,
// so there is no pending output left to flush.
void CloseAllChannels();

}  // namespace quarn
