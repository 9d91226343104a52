#include "textio/free_format_read.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "textio/characters.hpp"
#include "textio/messages.hpp"
#include "textio/number_conversion.hpp"
#include "textio/record_input.hpp"

namespace quarn {
namespace {

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

// One value item of the input: a numeric token, or a logical value.
struct Value {
  bool is_logical = false;
  bool logical_true = false;
  std::string_view token;
};

// Every scanning step returns 0, or the message number of the failure it met.
class FreeFormatReader {
 public:
  FreeFormatReader(Channel& channel, std::span<const ReadTarget> targets, bool return_on_eof)
      : channel_(channel), targets_(targets), return_on_eof_(return_on_eof) {}

  ReadStatus Read() {
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
      if (c == '/') break;

      // Most values are plain decimals into doubles: converted as they are
      // scanned, where the token ends with them.
      if (!targets_[next_].IsSingle()) {
        double value;
        const char* stop = ConvertPlainDecimal(pos_, end_, value);
        if (stop != nullptr && (stop == end_ || EndsToken(*stop))) {
          targets_[next_++].Double() = value;
          pos_ = stop;
          processed_any_ = after_value = true;
          if (const int failure = CheckFollowsValue()) return Failed(failure);
          continue;
        }
      }

      std::uint64_t repeat = 1;
      if (const int failure = RepeatCount(repeat)) return Failed(failure);
      const std::size_t copies =
          static_cast<std::size_t>(std::min<std::uint64_t>(repeat, targets_.size() - next_));
      if (repeat_given_ && (pos_ == end_ || IsValueSeparator(*pos_))) {
        next_ += copies;  // r* stands for r null values
      } else {
        // r*c is one numeric token: c cannot be a logical, character or complex value.
        Value value;
        if (const int failure = repeat_given_ ? ScanToken(value.token) : ScanValue(value))
          return Failed(failure);
        for (std::size_t k = 0; k < copies; ++k) {
          if (const int failure = Assign(targets_[next_++], value)) return Failed(failure);
        }
      }
      processed_any_ = after_value = true;
      if (const int failure = CheckFollowsValue()) return Failed(failure);
    }
    return {ReadResult::kComplete};
  }

 private:
  ReadStatus Failed(int message, int os_error = 0) const {
    return {ReadResult::kFailed, {message, os_error}};
  }

  // A value must be followed by a separator, or end the record; once the last
  // target has its value the rest of the record is not examined.
  int CheckFollowsValue() const {
    const bool separated = pos_ == end_ || IsValueSeparator(*pos_);
    return next_ < targets_.size() && !separated ? kMsgSyntaxError : 0;
  }

  // False at the end of the file, and on a failure of the read (kept in error_).
  bool TakeRecord() {
    std::string_view record;
    const RecordResult result = NextRecord(channel_, record, error_);
    pos_ = record.data();
    end_ = record.data() + record.size();
    return result == RecordResult::kRecord;
  }

  ReadStatus EndOfFile() const {
    if (error_.message != 0) return Failed(error_.message, error_.os_error);
    if (return_on_eof_ && !processed_any_) return {ReadResult::kEndOfFile};
    return Failed(kMsgEndOfFile);
  }

  // Consumes "r*" when the item starts with one and sets `count` to r.
  int RepeatCount(std::uint64_t& count) {
    const char* p = pos_;
    std::uint64_t r = 0;
    constexpr std::uint64_t kSaturation = std::uint64_t{1} << 60;
    while (p < end_ && IsDigit(*p)) {
      if (r < kSaturation) r = r * 10 + static_cast<std::uint64_t>(*p - '0');
      ++p;
    }
    repeat_given_ = p != pos_ && p != end_ && *p == '*';
    if (!repeat_given_) return 0;
    if (r == 0) return kMsgSyntaxError;
    pos_ = p + 1;
    count = r;
    return 0;
  }

  // The characters up to the next blank, tab, comma, slash, ')' or record end;
  // possibly none.
  std::string_view TokenText() {
    const char* start = pos_;
    while (pos_ < end_ && !EndsToken(*pos_)) ++pos_;
    return std::string_view(start, static_cast<std::size_t>(pos_ - start));
  }

  int ScanToken(std::string_view& token) {
    token = TokenText();
    return token.empty() ? kMsgSyntaxError : 0;
  }

  int ScanValue(Value& value) {
    const char c = *pos_;
    if (IsLogicalLetter(c) || (c == '.' && pos_ + 1 < end_ && IsLogicalLetter(pos_[1]))) {
      value.is_logical = true;
      const char letter = c == '.' ? pos_[1] : c;
      value.logical_true = letter == 'T' || letter == 't';
      while (pos_ < end_ && !EndsToken(*pos_)) ++pos_;
      return 0;
    }
    if (c == '\'' || c == '"') return kMsgConversionError;  // a character constant for a number
    if (c == '(') return ScanComplex(value.token);
    return ScanToken(value.token);
  }

  // A complex constant "(re, im)": gives the real part, a numeric token that
  // starts right after "(" and may be empty (zero); the imaginary part must
  // follow the comma without blanks and is skipped.
  int ScanComplex(std::string_view& real_part) {
    ++pos_;
    real_part = TokenText();
    while (pos_ < end_ && IsBlank(*pos_)) ++pos_;
    if (pos_ == end_ || *pos_ != ',') return kMsgSyntaxError;
    ++pos_;
    if (pos_ < end_ && (*pos_ == '+' || *pos_ == '-')) ++pos_;
    if (pos_ == end_ || !IsDigit(*pos_)) return kMsgSyntaxError;
    while (pos_ < end_ && IsDigit(*pos_)) ++pos_;
    if (pos_ < end_ && *pos_ == '.') {
      ++pos_;
      while (pos_ < end_ && IsDigit(*pos_)) ++pos_;
    }
    if (pos_ < end_ && IsExponentLetter(*pos_)) {
      ++pos_;
      while (pos_ < end_ && IsDigit(*pos_)) ++pos_;
    }
    if (pos_ == end_ || *pos_ != ')') return kMsgSyntaxError;
    ++pos_;
    return 0;
  }

  template <typename Float>
  static int Store(const Value& value, Float& target) {
    if (value.is_logical) {
      target = value.logical_true ? Float(-1) : Float(0);
      return 0;
    }
    switch (ConvertNumber(value.token, target)) {
      case Conversion::kOk:
        return 0;
      case Conversion::kSyntaxError:
        return kMsgSyntaxError;
      case Conversion::kOutOfRange:
        return kMsgConversionError;
    }
    return kMsgSyntaxError;
  }

  static int Assign(const ReadTarget& target, const Value& value) {
    return target.IsSingle() ? Store(value, target.Single()) : Store(value, target.Double());
  }

  Channel& channel_;
  std::span<const ReadTarget> targets_;
  bool return_on_eof_;
  std::size_t next_ = 0;
  bool processed_any_ = false;
  bool repeat_given_ = false;
  IoError error_{};
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
};

}  // namespace

ReadStatus ReadFreeFormat(Channel& channel, std::span<const ReadTarget> targets,
                          bool return_on_end_of_file) {
  return FreeFormatReader(channel, targets, return_on_end_of_file).Read();
}

}  // namespace quarn
