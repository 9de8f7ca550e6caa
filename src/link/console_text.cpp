#include "link/console_text.h"

#include "framework/format.h"

QString ConsoleAsciiText(std::string_view bytes, bool& pendingCR) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    const bool joinsCR = pendingCR && byte == '\n';
    pendingCR = byte == '\r';
    if (joinsCR) continue;  // the line already ended at the CR
    if (byte == '\r' || byte == '\n') {
      text += QChar('\n');
    } else if (byte == '\t' || (byte >= 0x20 && byte < 0x7F)) {
      text += QChar(byte);
    } else {
      text += QChar(0x00B7);
    }
  }
  return text;
}

QString ConsoleHexText(std::string_view bytes) {
  if (bytes.empty()) return {};
  return QString::fromLatin1(fw::EncodeHex(bytes, true) + ' ');
}
