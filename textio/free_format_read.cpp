#include "textio/free_format_read.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "textio/messages.hpp"
#include "textio/number_conversion.hpp"
#include "textio/record_input.hpp"
#include "textio/termination.hpp"

namespace quarn {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
// What may follow a value: a blank, a tab, a comma, a slash (or the record end).
bool IsValueSeparator(char c) {
  return IsBlank(c) || c == ',' || c == '/';
}
// Where a numeric token or a logical value ends.
bool EndsToken(char c) {
  return IsValueSeparator(c) || c == ')';
}
bool IsLogicalLetter(char c) {
  return c == 'T' || c == 't' || c == 'F' || c == 'f';
}
bool IsExponentLetter(char c) {
  return c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == 'Q' || c == 'q';
}

// One value item of the input: a numeric token, or a logical value.
struct Value {
  bool is_logical = false;
  bool logical_true = false;
  std::string_view token;
};

class FreeFormatReader {
 public:
  FreeFormatReader(Channel& channel, std::span<const ReadTarget> targets, bool return_on_eof)
      : channel_(channel), targets_(targets), return_on_eof_(return_on_eof) {}

  int Read() {
    if (!TakeRecord()) return EndOfFile();
    // True while the last item was a value whose separating comma is still ahead:
    // such a comma is a plain separator, any other comma a null value.
    bool after_value = false;
    while (next_ < targets_.size()) {
      while (pos_ < end_ && IsBlank(*pos_)) ++pos_;
      if (pos_ == end_) {
        if (!TakeRecord()) return EndOfFile();
        continue;
      }
      const char c = *pos_;
      if (c == ',') {
        ++pos_;
        if (after_value) {
          after_value = false;
        } else {
          ++next_;  // a null value leaves its target as it was
          processed_any_ = true;
        }
        continue;
      }
      if (c == '/') return kReadComplete;

      bool repeated = false;
      const std::uint64_t repeat = RepeatCount(repeated);
      const std::size_t copies =
          static_cast<std::size_t>(std::min<std::uint64_t>(repeat, targets_.size() - next_));
      if (repeated && (pos_ == end_ || IsValueSeparator(*pos_))) {
        next_ += copies;  // r* stands for r null values
      } else {
        // r*c is one numeric token: c cannot be a logical, character or complex value.
        const Value value = repeated ? Value{.token = ScanToken()} : ScanValue();
        for (std::size_t k = 0; k < copies; ++k) Assign(targets_[next_++], value);
      }
      processed_any_ = true;
      after_value = true;
      // Once the last target has its value the rest of the record is not examined.
      if (next_ < targets_.size() && pos_ < end_ && !IsValueSeparator(*pos_)) {
        Fail(kMsgSyntaxError);
      }
    }
    return kReadComplete;
  }

 private:
  [[noreturn]] void Fail(int message) { FatalStop({message, channel_.unit}); }

  bool TakeRecord() {
    std::string_view record;
    if (!NextRecord(channel_, record)) return false;
    pos_ = record.data();
    end_ = record.data() + record.size();
    return true;
  }

  int EndOfFile() {
    // A composition cut short by the end of the file is lost data, not a normal end.
    if (return_on_eof_ && !processed_any_) return kReadEndOfFile;
    Fail(kMsgEndOfFile);
  }

  // Consumes "r*" when the item starts with one and returns r; otherwise 1.
  std::uint64_t RepeatCount(bool& repeated) {
    const char* p = pos_;
    std::uint64_t count = 0;
    constexpr std::uint64_t kSaturation = std::uint64_t{1} << 60;
    while (p < end_ && IsDigit(*p)) {
      if (count < kSaturation) count = count * 10 + static_cast<std::uint64_t>(*p - '0');
      ++p;
    }
    if (p == pos_ || p == end_ || *p != '*') return 1;
    if (count == 0) Fail(kMsgSyntaxError);
    pos_ = p + 1;
    repeated = true;
    return count;
  }

  // The characters up to the next blank, tab, comma, slash, ')' or record end;
  // possibly none.
  std::string_view TokenText() {
    const char* start = pos_;
    while (pos_ < end_ && !EndsToken(*pos_)) ++pos_;
    return std::string_view(start, static_cast<std::size_t>(pos_ - start));
  }

  std::string_view ScanToken() {
    const std::string_view token = TokenText();
    if (token.empty()) Fail(kMsgSyntaxError);
    return token;
  }

  Value ScanValue() {
    const char c = *pos_;
    Value value;
    if (IsLogicalLetter(c) || (c == '.' && pos_ + 1 < end_ && IsLogicalLetter(pos_[1]))) {
      value.is_logical = true;
      const char letter = c == '.' ? pos_[1] : c;
      value.logical_true = letter == 'T' || letter == 't';
      while (pos_ < end_ && !EndsToken(*pos_)) ++pos_;
    } else if (c == '\'' || c == '"') {
      Fail(kMsgConversionError);  // a character constant for a number
    } else if (c == '(') {
      value.token = ScanComplex();
    } else {
      value.token = ScanToken();
    }
    return value;
  }

  // A complex constant "(re, im)": returns the real part, a numeric token that
  // starts right after "(" and may be empty (zero); the imaginary part must
  // follow the comma without blanks and is skipped.
  std::string_view ScanComplex() {
    ++pos_;
    const std::string_view real_part = TokenText();
    while (pos_ < end_ && IsBlank(*pos_)) ++pos_;
    if (pos_ == end_ || *pos_ != ',') Fail(kMsgSyntaxError);
    ++pos_;
    if (pos_ < end_ && (*pos_ == '+' || *pos_ == '-')) ++pos_;
    if (pos_ == end_ || !IsDigit(*pos_)) Fail(kMsgSyntaxError);
    while (pos_ < end_ && IsDigit(*pos_)) ++pos_;
    if (pos_ < end_ && *pos_ == '.') {
      ++pos_;
      while (pos_ < end_ && IsDigit(*pos_)) ++pos_;
    }
    if (pos_ < end_ && IsExponentLetter(*pos_)) {
      ++pos_;
      while (pos_ < end_ && IsDigit(*pos_)) ++pos_;
    }
    if (pos_ == end_ || *pos_ != ')') Fail(kMsgSyntaxError);
    ++pos_;
    return real_part;
  }

  template <typename Float>
  void Store(const Value& value, Float& target) {
    if (value.is_logical) {
      target = value.logical_true ? Float(-1) : Float(0);
      return;
    }
    switch (ConvertNumber(value.token, target)) {
      case Conversion::kOk:
        return;
      case Conversion::kSyntaxError:
        Fail(kMsgSyntaxError);
      case Conversion::kOutOfRange:
        Fail(kMsgConversionError);
    }
  }

  void Assign(const ReadTarget& target, const Value& value) {
    if (target.IsSingle()) {
      Store(value, target.Single());
    } else {
      Store(value, target.Double());
    }
  }

  Channel& channel_;
  std::span<const ReadTarget> targets_;
  bool return_on_eof_;
  std::size_t next_ = 0;
  bool processed_any_ = false;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
};

}  // namespace

int ReadFreeFormat(Channel& channel, std::span<const ReadTarget> targets,
                   bool return_on_end_of_file) {
  return FreeFormatReader(channel, targets, return_on_end_of_file).Read();
}

}  // namespace quarn
