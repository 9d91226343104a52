// The text layer's declared face: the reader over a descriptor or a text, the
// message texts and the result line, over the layer's own channel and formats.
#include "quarn/internal/records.hpp"

#include <utility>

#include "textio/channel.hpp"
#include "textio/formatted_write.hpp"
#include "textio/free_format_read.hpp"
#include "textio/messages.hpp"
#include "textio/report_formats.hpp"

namespace quarn::text {
namespace {

ReadOutcome OutcomeOf(const ReadStatus& status) {
  switch (status.result) {
    case ReadResult::kComplete:
      return {ReadOutcome::Kind::kComplete};
    case ReadResult::kEndOfFile:
      return {ReadOutcome::Kind::kEndOfFile};
    case ReadResult::kFailed:
      break;
  }
  return {ReadOutcome::Kind::kFailed, status.error.message, status.error.os_error};
}

}  // namespace

RecordReader::RecordReader(std::unique_ptr<Channel> channel) : channel_(std::move(channel)) {}
RecordReader::RecordReader(RecordReader&&) noexcept = default;
RecordReader& RecordReader::operator=(RecordReader&&) noexcept = default;
RecordReader::~RecordReader() = default;

RecordReader RecordReader::FromDescriptor(int fd, int unit, std::size_t longest_line) {
  auto channel = std::make_unique<Channel>();
  channel->unit = unit;
  channel->fd = fd;
  channel->input.capacity_limit = longest_line;
  return RecordReader(std::move(channel));
}

RecordReader RecordReader::FromText(std::string_view text, int unit, std::string_view name) {
  auto channel = std::make_unique<Channel>();
  channel->unit = unit;
  channel->full_path = std::string(name);
  LoadInput(*channel, text);
  return RecordReader(std::move(channel));
}

ReadOutcome RecordReader::ReadConditions(float& T, float& P) {
  return OutcomeOf(ReadFreeFormat(*channel_, {T, P}, false));
}

ReadOutcome RecordReader::ReadComposition(std::array<double, 3>& x) {
  return OutcomeOf(ReadFreeFormat(*channel_, {x[0], x[1], x[2]}, true));
}

std::size_t RecordReader::LinesTaken() const {
  return channel_->input.records_taken;
}

std::string RecordReader::MessageText(int message) const {
  return quarn::IoMessageText(message, channel_->unit, channel_->full_path);
}

std::string IoMessageText(int message, int unit, std::string_view path) {
  return quarn::IoMessageText(message, unit, path);
}

std::string MathErrorText(int number, std::string_view function) {
  std::string text(function);
  return text.append(": ").append(MathKindName(number)).append(" error");
}

std::string ResultLine(const std::array<double, 9>& x_phi_f) {
  const auto& v = x_phi_f;
  const std::array<FormatValue, 9> values = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]};
  RenderedRecords line;
  RenderFormat(report::kResult, values, line);
  return std::string(line[0]);
}

}  // namespace quarn::text
