// Splitting a channel's input into records (lines).
#pragma once

#include <string_view>

#include "textio/channel.hpp"

namespace quarn {

enum class RecordResult { kRecord, kEndOfFile, kFailed };

// Takes the next record of the channel: the bytes up to the next LF, less a CR
// right before it. A last line without an LF is a record too, less a CR at its
// very end. A record that is a lone Ctrl-Z is the end of the file. The view
// stays valid until the next call. A failing read (39, with the system's error
// code) or a buffer that cannot grow for a long record (22) is kFailed, with
// the failure in `error`.
RecordResult NextRecord(Channel& channel, std::string_view& record, IoError& error);

}  // namespace quarn
