// Character classes of free-format input.
#pragma once

namespace quarn {

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
// E, D or Q, either case.
inline bool IsExponentLetter(char c) {
  switch (c | 0x20) {
    case 'e':
    case 'd':
    case 'q':
      return true;
    default:
      return false;
  }
}

}  // namespace quarn
