// Number and byte formatting that does not depend on the user's locale.
//
// Qt sets the C library's locale from the environment at start-up, so on a German desktop
// printf, iostreams and strtod would write and expect a decimal comma. Everything the program
// writes to files or shows as meter values goes through these functions instead, which are
// built on std::to_chars / std::from_chars and always use '.'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// The line end written to text files (CSV exports): the platform's, on Linux and macOS "\n".
inline constexpr std::string_view EndOfLine = "\n";

// Formats a number with a picture pattern made of:
//   '0'  a digit that is always shown (leading or trailing zero when needed),
//   '#'  a digit that is shown only when significant,
//   '.'  the decimal point.
// The value is rounded to as many fractional digits as the pattern has (correct rounding of the
// binary value). Integer digits beyond the pattern's width are all shown. A value that rounds to
// zero is written without a minus sign. Other pattern characters are ignored.
// Not-finite values are written "nan", "inf" and "-inf".
//   Format(5, "00") == "05"             Format(0.5, "#######.0") == ".5"
//   Format(2026, "00") == "2026"        Format(1.5, "#######.000") == "1.500"
std::string Format(double value, std::string_view pattern);

// As Format, but appends to `out`: for loops that build long text without a string per number.
void FormatTo(std::string& out, double value, std::string_view pattern);

// Plain decimal text of an integer.
std::string Str(std::int64_t value);

// Reads the decimal number at the start of `text` (after leading spaces and tabs): an optional
// sign, digits and an optional fraction. Anything after it is ignored; no number gives 0.
double Val(std::string_view text);

// Two upper-case hex digits per byte; with `spaced`, neighbouring pairs are separated by one
// space ("41 42 43").
std::string EncodeHex(std::string_view bytes, bool spaced);

}  // namespace fw
