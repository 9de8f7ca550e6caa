// How received bytes read in the console's two views.

#include <gtest/gtest.h>

#include <QStringList>

#include "link/console_text.h"

namespace {

QString Ascii(std::initializer_list<std::string> reads) {
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

TEST(ConsoleAscii, SuccessiveReadsRunOnWithNothingBetween) {
  EXPECT_EQ(Ascii({"AB", "C"}), "ABC");
  EXPECT_EQ(Ascii({"MXR-420 ", "EMF", " V1"}), "MXR-420 EMF V1");
}

TEST(ConsoleAscii, EveryKindOfLineEndEndsOneLine) {
  EXPECT_EQ(Ascii({"a\r\nb"}), "a\nb");
  EXPECT_EQ(Ascii({"a\rb"}), "a\nb");
  EXPECT_EQ(Ascii({"a\nb"}), "a\nb");
  EXPECT_EQ(Ascii({"a\n\nb"}), "a\n\nb");
  EXPECT_EQ(Ascii({"a\r\rb"}), "a\n\nb");
  EXPECT_EQ(Ascii({"a\n\rb"}), "a\n\nb");
}

TEST(ConsoleAscii, ACrLfSplitBetweenReadsIsStillOneLineEnd) {
  EXPECT_EQ(Ascii({"OK\r", "\nNEXT"}), "OK\nNEXT");
  // Only the LF right after the CR belongs to it.
  EXPECT_EQ(Ascii({"OK\r", "X\n"}), "OK\nX\n");
  // A tick that read nothing in between does not part them.
  EXPECT_EQ(Ascii({"OK\r", "", "\n"}), "OK\n");
}

TEST(ConsoleAscii, UnprintableBytesShowAsDots) {
  const QString dot(QChar(0x00B7));
  EXPECT_EQ(Ascii({std::string("A\0B", 3)}), "A" + dot + "B");
  EXPECT_EQ(Ascii({"\x1b[0m"}), dot + "[0m");
  EXPECT_EQ(Ascii({"\x7f\x80\xaa\xff"}), dot + dot + dot + dot);
  EXPECT_EQ(Ascii({"a\tb ~"}), "a\tb ~");
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
