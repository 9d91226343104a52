// Opening a file as a channel.
#pragma once

#include <string>
#include <string_view>

#include "textio/channel.hpp"

namespace quarn {

enum class OpenStatus {
  kOld,      // the file must exist
  kUnknown,  // created when missing; an existing file is not emptied
};

// Opens `name` for reading and writing on `unit`, retrying for reading only when
// write access is refused. The channel is positioned at the start of the file
// and marked to cut the file behind its first written record. A failure is a
// fatal stop (29, 9, 43, 42 or 30).
Channel& Open(int unit, std::string_view name, OpenStatus status);

}  // namespace quarn
