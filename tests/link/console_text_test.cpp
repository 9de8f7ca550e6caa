// How received bytes read in the console's two views.

#include <gtest/gtest.h>

#include <QStringList>
#include <vector>

#include "link/console_text.h"

namespace {

QString Ascii(const std::vector<std::string>& reads) {
  ConsoleLine line;
  QString text;
  for (const std::string& read : reads) text += ConsoleAsciiText(read, line);
  return text;
}

QString Hex(std::initializer_list<std::string> reads) {
  ConsoleLine line;
  QString text;
  for (const std::string& read : reads) text += ConsoleHexText(read, line);
  return text;
}

TEST(ConsoleAscii, ReadsRunOnAndEveryKindOfLineEndEndsOneLine) {
  const QString dot(QChar(0x00B7));  // unprintable bytes show as dots
  const std::pair<std::vector<std::string>, QString> cases[] = {
      {{"AB", "C"}, "ABC"},
      {{"a\r\nb"}, "a\nb"},
      {{"a\rb"}, "a\nb"},
      {{"a\n\nb"}, "a\n\nb"},
      {{"a\r\rb"}, "a\n\nb"},
      {{"a\n\rb"}, "a\n\nb"},
      // A CR LF split between reads, even with an empty read between, is one line end;
      // only the LF right after the CR belongs to it.
      {{"OK\r", "\nNEXT"}, "OK\nNEXT"},
      {{"OK\r", "", "\n"}, "OK\n"},
      {{"OK\r", "X\n"}, "OK\nX\n"},
      {{std::string("A\0B", 3)}, "A" + dot + "B"},
      {{"\x1b[0m"}, dot + "[0m"},
      {{"\x7f\x80\xaa\xff"}, dot + dot + dot + dot},
      {{"a\tb ~"}, "a\tb ~"},
  };
  for (const auto& [reads, text] : cases) EXPECT_EQ(Ascii(reads), text) << text.toStdString();
}

TEST(ConsoleAscii, AnEndlessLineIsBrokenAcrossReads) {
  const std::string half(kAsciiMaxLine / 2 + 10, 'x');
  const QString text = Ascii({half, half, "\r\n", half});
  const QStringList lines = text.split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0].size(), kAsciiMaxLine);
  EXPECT_EQ(lines[1].size(), 20);
  EXPECT_EQ(lines[2].size(), static_cast<qsizetype>(half.size()));
}

TEST(ConsoleHex, PairsRunOnAcrossReads) {
  EXPECT_EQ(Hex({"AB", "C"}), "41 42 43 ");
  EXPECT_EQ(Hex({std::string("\x00\xff\r\n", 4)}), "00 FF 0D 0A ");
  EXPECT_EQ(Hex({""}), "");
}

TEST(ConsoleHex, SixteenBytesToALineWhereverTheReadsSplit) {
  const QString text = Hex({std::string(10, 'A'), std::string(10, 'B'), std::string(20, 'C')});
  const QStringList lines = text.split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], QString("41 ").repeated(10) + QString("42 ").repeated(6));
  EXPECT_EQ(lines[1], QString("42 ").repeated(4) + QString("43 ").repeated(12));
  EXPECT_EQ(lines[2], QString("43 ").repeated(8));
}

TEST(ConsoleViews, SwitchingViewsStartsTheLineCountAnew) {
  ConsoleLine line;
  EXPECT_EQ(ConsoleAsciiText("ok\r", line), "ok\n");
  EXPECT_EQ(ConsoleHexText(std::string(16, '\n'), line), QString("0A ").repeated(16));
  // Back in ASCII the CR before the switch no longer joins an LF.
  EXPECT_EQ(ConsoleAsciiText("\nz", line), "\nz");
}

}  // namespace
