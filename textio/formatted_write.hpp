// Formatted writes: rendering a compiled format into records and writing each
// record out as soon as it is complete.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "textio/channel.hpp"
#include "textio/format.hpp"

namespace quarn {

// The records one formatted write produces, back to back in `chars`; record i
// ends at ends[i] and starts where record i-1 ends.
struct RenderedRecords {
  std::string chars;
  std::vector<std::size_t> ends;

  std::size_t size() const { return ends.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t start = i == 0 ? 0 : ends[i - 1];
    return std::string_view(chars).substr(start, ends[i] - start);
  }
};

// Renders the format against the values; every record holds its characters up
// to the furthest column written. A value item with no value left ends the
// last record there. Reuses `out`'s storage.
void RenderFormat(Format format, std::span<const FormatValue> values, RenderedRecords& out);

// Writes each record with one write call: followed by CR LF in a file, by LF on
// the console. The first record written to a file opened for writing from its
// start cuts the file right behind it. A read-only channel is a fatal stop (47);
// a failing write or cut is a fatal stop (38).
void WriteRecords(Channel& channel, const RenderedRecords& records);

// One formatted write statement: renders, then writes.
void WriteFormatted(Channel& channel, Format format, std::initializer_list<FormatValue> values);

// The empty free-format write: one empty record on the channel.
void WriteEmptyRecord(Channel& channel);

}  // namespace quarn
