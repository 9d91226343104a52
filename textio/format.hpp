// Compiled formats: a format is a constant list of edit items, built at compile
// time and rendered left to right against an ordered list of values.
#pragma once

#include <span>
#include <string_view>

namespace quarn {

enum class EditKind : unsigned char {
  kLiteral,      // text copied as it stands
  kBlanks,       // nX: the position moves n columns right
  kCharacter,    // Aw
  kFixed,        // Fw.d
  kExponent,     // Ew.d
  kRecordBreak,  // "/"
  kGroup,        // the next `length` items, `count` times
};

struct EditItem {
  EditKind kind;
  int width = 0;   // w of Aw, Fw.d, Ew.d; n of nX
  int digits = 0;  // d of Fw.d and Ew.d
  std::string_view text{};
  int count = 0;   // of a group: how often its items are processed
  int length = 0;  // of a group: how many items follow that belong to it
};

using Format = std::span<const EditItem>;

namespace edit {
constexpr EditItem Text(std::string_view text) {
  return {EditKind::kLiteral, 0, 0, text};
}
constexpr EditItem X(int n) {
  return {EditKind::kBlanks, n};
}
constexpr EditItem A(int w) {
  return {EditKind::kCharacter, w};
}
constexpr EditItem F(int w, int d) {
  return {EditKind::kFixed, w, d};
}
constexpr EditItem E(int w, int d) {
  return {EditKind::kExponent, w, d};
}
constexpr EditItem Slash() {
  return {EditKind::kRecordBreak};
}
// A group repeated `count` times over the `length` items that follow it.
constexpr EditItem Group(int count, int length) {
  return {EditKind::kGroup, 0, 0, {}, count, length};
}
}  // namespace edit

// A value of a write request: a 32-bit or 64-bit float, or a text.
class FormatValue {
 public:
  constexpr FormatValue(float value) : number_(value) {}                         // NOLINT: implicit
  constexpr FormatValue(double value) : number_(value) {}                        // NOLINT: implicit
  constexpr FormatValue(std::string_view text) : text_(text), is_text_(true) {}  // NOLINT
  constexpr FormatValue(const char* text) : FormatValue(std::string_view(text)) {}  // NOLINT
  // A 32-bit value is widened exactly: the field shows its binary value.
  constexpr double Number() const { return number_; }
  constexpr std::string_view Text() const { return text_; }
  constexpr bool IsText() const { return is_text_; }

 private:
  double number_ = 0.0;
  std::string_view text_{};
  bool is_text_ = false;
};

}  // namespace quarn
