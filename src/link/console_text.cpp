#include "link/console_text.h"

namespace {

const char* const kHexDigits = "0123456789ABCDEF";

void SwitchView(ConsoleLine& line, bool hex) {
  if (line.hex == hex) return;
  line = ConsoleLine{};
  line.hex = hex;
}

}  // namespace

QString ConsoleAsciiText(std::string_view bytes, ConsoleLine& line) {
  SwitchView(line, false);
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    const bool joinsCR = line.pendingCR && byte == '\n';
    line.pendingCR = byte == '\r';
    if (joinsCR) continue;  // the line already ended at the CR
    if (byte == '\r' || byte == '\n') {
      text += QChar('\n');
      line.column = 0;
      continue;
    }
    if (line.column == kAsciiMaxLine) {
      text += QChar('\n');
      line.column = 0;
    }
    text += (byte == '\t' || (byte >= 0x20 && byte < 0x7F)) ? QChar(byte) : QChar(0x00B7);
    ++line.column;
  }
  return text;
}

QString ConsoleHexText(std::string_view bytes, ConsoleLine& line) {
  SwitchView(line, true);
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size() * 3 + bytes.size() / kHexBytesPerLine + 1));
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    if (line.column == kHexBytesPerLine) {
      text += QChar('\n');
      line.column = 0;
    }
    text += QChar(kHexDigits[byte >> 4]);
    text += QChar(kHexDigits[byte & 0xF]);
    text += QChar(' ');
    ++line.column;
  }
  return text;
}
