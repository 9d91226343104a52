// Layout of the character, fixed-point and exponent fields of a formatted
// record. Each writes exactly `width` characters at `out`.
#pragma once

#include <string_view>

namespace quarn {

// Aw: right-justified after blanks, or the first `width` characters.
void RenderCharacterField(std::string_view text, int width, char* out);

// Fw.d: the value rounded to `fraction` digits after the point, half away from
// zero; "0" before the point where a column is free; no minus sign on a value
// that rounds to zero; asterisks when too wide, and for an infinity or NaN
// when `fraction` is 0.
void RenderFixedField(double value, int width, int fraction, char* out);

// Ew.d: [-][0].d1...dd followed by E+xx, or by +xxx for a three-digit
// exponent; asterisks when too narrow; "Infinity", "-Infinity" or "NaN" from
// the field's second column.
void RenderExponentField(double value, int width, int digits, char* out);

}  // namespace quarn
