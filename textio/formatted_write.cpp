#include "textio/formatted_write.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "textio/field_rendering.hpp"
#include "textio/messages.hpp"
#include "textio/termination.hpp"
#include "textio/write_all.hpp"

namespace quarn {
namespace {

class Renderer {
 public:
  Renderer(std::span<const FormatValue> values, RenderedRecords& out) : values_(values), out_(out) {
    out_.chars.clear();
    out_.ends.clear();
  }

  void Run(Format format) {
    Process(format);
    FinishRecord();
  }

 private:
  void Process(Format items) {
    for (std::size_t i = 0; i < items.size() && !out_of_values_; ++i) {
      const EditItem& item = items[i];
      if (IsValueItem(item.kind) && next_value_ == values_.size()) {
        out_of_values_ = true;  // the record ends where the values do
        return;
      }
      switch (item.kind) {
        case EditKind::kLiteral:
          item.text.copy(Columns(static_cast<int>(item.text.size())), item.text.size());
          break;
        case EditKind::kBlanks:
          column_ += item.width;
          break;
        case EditKind::kCharacter:
          RenderCharacterField(NextValue().Text(), item.width, Columns(item.width));
          break;
        case EditKind::kFixed:
          RenderFixedField(NextValue().Number(), item.width, item.digits, Columns(item.width));
          break;
        case EditKind::kExponent:
          RenderExponentField(NextValue().Number(), item.width, item.digits, Columns(item.width));
          break;
        case EditKind::kRecordBreak:
          FinishRecord();
          break;
        case EditKind::kGroup: {
          const Format group = items.subspan(i + 1, static_cast<std::size_t>(item.length));
          for (int k = 0; k < item.count; ++k) Process(group);
          i += group.size();
          break;
        }
      }
    }
  }

  // The next `width` columns of the current record, which now reaches past them;
  // columns skipped over on the way stay blank.
  char* Columns(int width) {
    const std::size_t start = record_start_ + static_cast<std::size_t>(column_);
    const std::size_t end = start + static_cast<std::size_t>(width);
    if (out_.chars.size() < end) out_.chars.resize(end, ' ');
    column_ += width;
    return out_.chars.data() + start;
  }

  static bool IsValueItem(EditKind kind) {
    return kind == EditKind::kCharacter || kind == EditKind::kFixed || kind == EditKind::kExponent;
  }
  const FormatValue& NextValue() { return values_[next_value_++]; }

  void FinishRecord() {
    out_.ends.push_back(out_.chars.size());
    record_start_ = out_.chars.size();
    column_ = 0;
  }

  std::span<const FormatValue> values_;
  RenderedRecords& out_;
  std::size_t next_value_ = 0;
  bool out_of_values_ = false;
  std::size_t record_start_ = 0;
  int column_ = 0;
};

// A format that is one repeated group of nX and Ew.d, given a number for each
// repetition (the result line), laid out in one pass: its record is the
// fields side by side. False for any other format, left to the Renderer.
bool RenderRepeatedExponentFields(Format format, std::span<const FormatValue> values,
                                  RenderedRecords& out) {
  if (format.size() != 3) return false;
  const EditItem& group = format[0];
  const EditItem& blanks = format[1];
  const EditItem& field = format[2];
  if (group.kind != EditKind::kGroup || group.length != 2 || blanks.kind != EditKind::kBlanks ||
      field.kind != EditKind::kExponent || values.size() != static_cast<std::size_t>(group.count)) {
    return false;
  }
  const std::size_t step = static_cast<std::size_t>(blanks.width + field.width);
  out.chars.resize(step * values.size());
  std::memset(out.chars.data(), ' ', out.chars.size());
  char* p = out.chars.data() + blanks.width;
  for (const FormatValue& value : values) {
    RenderExponentField(value.Number(), field.width, field.digits, p);
    p += step;
  }
  out.ends.clear();
  out.ends.push_back(out.chars.size());
  return true;
}

[[noreturn]] void WriteFailed(const Channel& channel, int os_error) {
  FatalStop({kMsgWriteError, channel.unit, os_error});
}

void WriteRecord(Channel& channel, std::string_view record) {
  if (channel.read_only) FatalStop({kMsgWriteToReadOnly, channel.unit});
  // The record and its line end go out in one plain write call (cheaper than a
  // gathered write), so they are copied next to each other first: on the stack
  // when they fit there, as every record of the report does.
  const std::string_view line_end = channel.is_console ? "\n" : "\r\n";
  char short_line[256];
  static std::string long_line;
  std::string_view line;
  if (record.size() + line_end.size() <= sizeof short_line) {
    if (!record.empty()) std::memcpy(short_line, record.data(), record.size());  // else maybe null
    std::memcpy(short_line + record.size(), line_end.data(), line_end.size());
    line = std::string_view(short_line, record.size() + line_end.size());
  } else {
    long_line.assign(record);
    long_line += line_end;
    line = long_line;
  }
  if (const int os_error = WriteAll(channel.fd, line)) WriteFailed(channel, os_error);
  if (channel.truncate_after_next_record) {
    channel.truncate_after_next_record = false;
    const off_t position = ::lseek(channel.fd, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(channel.fd, position) != 0) WriteFailed(channel, errno);
  }
}

}  // namespace

void RenderFormat(Format format, std::span<const FormatValue> values, RenderedRecords& out) {
  if (RenderRepeatedExponentFields(format, values, out)) return;
  Renderer(values, out).Run(format);
}

void WriteRecords(Channel& channel, const RenderedRecords& records) {
  for (std::size_t i = 0; i < records.size(); ++i) WriteRecord(channel, records[i]);
}

void WriteFormatted(Channel& channel, Format format, std::initializer_list<FormatValue> values) {
  static RenderedRecords records;
  RenderFormat(format, std::span<const FormatValue>(values.begin(), values.size()), records);
  WriteRecords(channel, records);
}

void WriteEmptyRecord(Channel& channel) {
  WriteRecord(channel, {});
}

}  // namespace quarn
