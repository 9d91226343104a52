// Splitting a channel's input into records (lines).
#pragma once

#include <string_view>

#include "textio/channel.hpp"

namespace quarn {

// Takes the next record of the channel: the bytes up to the next LF, less a CR
// right before it. A last line without an LF is a record too, less a CR at its
// very end. Returns false at end of file, and for a record that is a lone
// Ctrl-Z. The view stays valid until the next call. A failing read is a fatal
// stop (39); a buffer that cannot grow for a long record is a fatal stop (22).
bool NextRecord(Channel& channel, std::string_view& record);

}  // namespace quarn
