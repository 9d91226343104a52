// Writing bytes out whole.
#pragma once

#include <string_view>

namespace quarn {

// Writes all of `data` to the descriptor, going on after short writes and
// interruptions. Returns 0, or the errno of the write that failed.
int WriteAll(int fd, std::string_view data);

}  // namespace quarn
