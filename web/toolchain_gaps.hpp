// Included first in every translation unit of the web build: the C++17/20
// library features the project uses that the libc++ of Debian's Emscripten
// (3.1.6) lacks, built from what it has. Nothing here is compiled natively.
//  - std::bit_cast: the compiler's __builtin_bit_cast.
//  - std::to_chars and std::from_chars for floating point: from the C
//    library's printf and strtod, which in Emscripten (musl) are exact: "%.*e"
//    prints the correctly rounded digits and strtod rounds correctly. The
//    shortest form is the fewest digits that read back, the one nearest the
//    value, as to_chars gives it.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <version>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif

#if defined(__EMSCRIPTEN__) && defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 15000
namespace std {
namespace toolchain_gaps {

inline to_chars_result Printed(char* first, char* last, const char* text, int length) {
  if (length < 0 || length > last - first) return {last, errc::value_too_large};
  for (int i = 0; i < length; ++i) first[i] = text[i];
  return {first + length, errc()};
}

// Whether the decimal text has a nonzero digit before its exponent.
inline bool NonzeroDigits(const char* first, const char* last) {
  for (const char* p = first; p < last && *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '1' && *p <= '9') return true;
  }
  return false;
}

template <class Float, class Read>
from_chars_result FromChars(const char* first, const char* last, Float& value, Read read) {
  char text[1024];
  const long length = last - first;
  if (length <= 0 || length >= static_cast<long>(sizeof text))
    return {first, errc::invalid_argument};
  for (long i = 0; i < length; ++i) text[i] = first[i];
  text[length] = '\0';
  char* end = nullptr;
  const Float result = read(text, &end);
  if (end == text) return {first, errc::invalid_argument};
  const char* stop = first + (end - text);
  // As std::from_chars: out of range only beyond the largest finite value or
  // below half the smallest subnormal, and then the value is left alone.
  if (std::isinf(result) || (result == 0 && NonzeroDigits(first, stop))) {
    return {stop, errc::result_out_of_range};
  }
  value = result;
  return {stop, errc()};
}

}  // namespace toolchain_gaps

inline to_chars_result to_chars(char* first, char* last, double value, chars_format,
                                int precision) {
  char text[1100];
  const int length = std::snprintf(text, sizeof text, "%.*e", precision, value);
  return toolchain_gaps::Printed(first, last, text, length);
}

inline to_chars_result to_chars(char* first, char* last, double value, chars_format format) {
  char text[64];
  int length = 0;
  for (int digits = 0; digits < 17; ++digits) {
    length = std::snprintf(text, sizeof text, "%.*e", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  (void)format;
  return toolchain_gaps::Printed(first, last, text, length);
}

inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format = chars_format::general) {
  return toolchain_gaps::FromChars(first, last, value,
                                   [](const char* t, char** e) { return std::strtod(t, e); });
}

inline from_chars_result from_chars(const char* first, const char* last, float& value,
                                    chars_format = chars_format::general) {
  return toolchain_gaps::FromChars(first, last, value,
                                   [](const char* t, char** e) { return std::strtof(t, e); });
}

}  // namespace std
#endif
