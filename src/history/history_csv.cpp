#include "history/history_csv.h"

#include <bit>
#include <charconv>
#include <string>

#include "framework/format.h"

namespace {

constexpr std::size_t kStampSize = 8;    // marker + year, month, day, hour, minute, second
constexpr std::size_t kSampleSize = 12;  // marker + field word + two floats

float LittleEndianFloat(const std::uint8_t* bytes) {
  const std::uint32_t bits =
      static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
      (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  return std::bit_cast<float>(bits);
}

void AppendUnsigned(std::string& out, unsigned value) {
  char buffer[12];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// Same text as fw::Format(value, "00"), without going through floating point: a full export
// writes six of these per stamp.
void AppendTwoDigits(std::string& out, std::uint8_t value) {
  if (value < 10) out += '0';
  AppendUnsigned(out, value);
}

// "_20yy/mm/dd hh:mi:ss" from year, month, day, hour, minute and second.
void AppendStamp(std::string& out, const std::uint8_t* p) {
  static constexpr char kSeparators[] = "// ::";
  out += "_20";
  for (int i = 0; i < 6; ++i) {
    if (i > 0) out += kSeparators[i - 1];
    AppendTwoDigits(out, p[i]);
  }
}

void AppendSample(std::string& out, const std::uint8_t* p) {
  const unsigned word = (static_cast<unsigned>(p[0]) << 8) | p[1];
  // The low nibble holds tenths. A sound meter never stores 10..15 there; should it happen, the
  // arithmetic value whole + nibble/10 is written (123 and 12 -> "124.2") rather than gluing the
  // digits together ("123.12"), which would read as a plausible but wrong field strength.
  const unsigned tenths = (word >> 4) * 10 + (word & 0xF);
  const float electric = LittleEndianFloat(p + 2);
  const float rf = LittleEndianFloat(p + 6);
  // The meter stores RF power density in pW/cm2. The other units are converted in double and
  // then kept at the single precision of the stored reading, so they carry no invented digits.
  const float milliwattsPerSquareMetre = static_cast<float>(static_cast<double>(rf) / 100000.0);
  const float milliwattsPerSquareCm = static_cast<float>(static_cast<double>(rf) / 1e9);

  out += ',';
  AppendUnsigned(out, tenths / 10);
  out += '.';
  AppendUnsigned(out, tenths % 10);
  out += ',';
  fw::FormatTo(out, electric, "#######.0");
  out += ',';
  fw::FormatTo(out, milliwattsPerSquareMetre, "#######.000");
  out += ',';
  fw::FormatTo(out, milliwattsPerSquareCm, "#######.000");
  out += ',';
  fw::FormatTo(out, rf, "#######.000");
  out += fw::EndOfLine;
}

}  // namespace

void WriteHistoryCsv(std::span<const std::uint8_t> image, std::size_t readLength,
                     const std::function<void(std::string_view)>& sink,
                     const std::function<void()>& yield) {
  std::string text;
  text.reserve(256);
  text += "MXR-420 Data Logged History";
  text += fw::EndOfLine;
  text += ",EMF,EF,RF Power Density";
  text += fw::EndOfLine;
  text += "Date and Time,mG,V/m,mW/m2,mW/cm2,pW/cm2";
  text += fw::EndOfLine;
  sink(text);

  const std::size_t end = image.size();
  const std::uint8_t* bytes = image.data();
  // A stamp's line is closed by the sample that follows it, or by the next stamp.
  bool stampLineOpen = false;
  std::size_t i = 0;
  // Records may run past the read length: the image is zero there, so they are completed with
  // zero bytes (the meter's partly written last record). Only the image's end is a hard limit.
  while (i < readLength && i + 2 <= end) {
    const std::uint8_t b0 = bytes[i];
    const std::uint8_t b1 = bytes[i + 1];
    i += 2;
    if (b0 == 0x55 && b1 == 0xAA) {
      // Half a record at the very end of the memory cannot be trusted, and its bytes are not
      // records of their own: stop here.
      if (i + kStampSize - 2 > end) break;
      text.clear();
      if (stampLineOpen) text += fw::EndOfLine;
      AppendStamp(text, bytes + i);
      sink(text);
      i += kStampSize - 2;
      stampLineOpen = true;
    } else if (b0 == 0xAA && b1 == 0x55) {
      if (i + kSampleSize - 2 > end) break;
      text.clear();
      AppendSample(text, bytes + i);
      sink(text);
      i += kSampleSize - 2;
      stampLineOpen = false;
    }
    if (yield) yield();
  }
}
