#include "framework/format.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace fw {
namespace {

// What a picture pattern asks for, read once per call.
struct NumberPattern {
  int minIntegerDigits = 0;   // integer digits shown even when zero
  int minFractionDigits = 0;  // fractional digits shown even when zero
  int fractionDigits = 0;     // fractional digits the value is rounded to
};

NumberPattern ReadPattern(std::string_view pattern) {
  NumberPattern result;
  bool inFraction = false;
  int integerPositions = 0;
  int firstIntegerZero = -1;  // position of the leftmost '0' before the point
  for (char c : pattern) {
    if (c == '.') {
      inFraction = true;
    } else if (c == '0' || c == '#') {
      if (!inFraction) {
        if (c == '0' && firstIntegerZero < 0) firstIntegerZero = integerPositions;
        ++integerPositions;
      } else {
        ++result.fractionDigits;
        // A '0' forces every fractional position up to and including itself.
        if (c == '0') result.minFractionDigits = result.fractionDigits;
      }
    }
  }
  // A '0' forces every integer position from itself to the point: "#0" shows at least one digit.
  if (firstIntegerZero >= 0) result.minIntegerDigits = integerPositions - firstIntegerZero;
  return result;
}

bool AllZeroDigits(std::string_view digits) {
  return digits.find_first_not_of('0') == std::string_view::npos;
}

}  // namespace

void FormatTo(std::string& out, double value, std::string_view pattern) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  const NumberPattern p = ReadPattern(pattern);

  // The largest double has 309 integer digits; add sign, point and the fraction.
  const std::size_t needed = 312 + static_cast<std::size_t>(p.fractionDigits);
  char local[512];
  std::string large;
  char* first = local;
  if (needed > sizeof local) {
    large.resize(needed);
    first = large.data();
  }
  const auto [last, ec] =
      std::to_chars(first, first + needed, value, std::chars_format::fixed, p.fractionDigits);
  if (ec != std::errc()) return;  // cannot happen with the buffer sized above

  std::string_view text(first, static_cast<std::size_t>(last - first));
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const std::size_t point = text.find('.');
  std::string_view integer = text.substr(0, point);
  std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : text.substr(point + 1);

  // "-0.0" is not a useful reading: a value that rounds to zero loses its sign.
  const bool zero = AllZeroDigits(integer) && AllZeroDigits(fraction);

  const std::size_t significant = integer.find_first_not_of('0');
  integer =
      significant == std::string_view::npos ? std::string_view() : integer.substr(significant);
  while (fraction.size() > static_cast<std::size_t>(p.minFractionDigits) &&
         fraction.back() == '0') {
    fraction.remove_suffix(1);
  }

  if (negative && !zero) out += '-';
  if (integer.size() < static_cast<std::size_t>(p.minIntegerDigits)) {
    out.append(static_cast<std::size_t>(p.minIntegerDigits) - integer.size(), '0');
  }
  out += integer;
  if (!fraction.empty()) {
    out += '.';
    out += fraction;
  }
}

std::string Format(double value, std::string_view pattern) {
  std::string out;
  FormatTo(out, value, pattern);
  return out;
}

std::string Str(std::int64_t value) {
  char buffer[24];
  const auto [last, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, last);
}

double Val(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t start = i;
  std::size_t digits = 0;
  bool nonZeroInteger = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    nonZeroInteger = nonZeroInteger || text[i] != '0';
    ++i;
    ++digits;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      ++i;
      ++digits;
    }
  }
  if (digits == 0) return 0.0;

  double magnitude = 0.0;
  const auto [ptr, ec] =
      std::from_chars(text.data() + start, text.data() + i, magnitude, std::chars_format::fixed);
  if (ec == std::errc::result_out_of_range) {
    // Only absurdly long digit strings get here: too large, or too small to be told from zero.
    magnitude = nonZeroInteger ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -magnitude : magnitude;
}

std::string EncodeHex(std::string_view bytes, bool spaced) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) out += ' ';
    const auto byte = static_cast<unsigned char>(bytes[i]);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

}  // namespace fw
