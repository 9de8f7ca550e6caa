#include "link/console_text.h"

#include <algorithm>
#include <string>

#include "framework/format.h"

namespace {

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
  std::string text;
  text.reserve(bytes.size() * 3 + bytes.size() / kHexBytesPerLine + 1);
  while (!bytes.empty()) {
    if (line.column == kHexBytesPerLine) {
      text += '\n';
      line.column = 0;
    }
    // The rest of the current line at most, each byte followed by a space.
    const std::size_t n = std::min(bytes.size(), std::size_t(kHexBytesPerLine - line.column));
    text += fw::EncodeHex(bytes.substr(0, n), true);
    text += ' ';
    line.column += static_cast<int>(n);
    bytes.remove_prefix(n);
  }
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
