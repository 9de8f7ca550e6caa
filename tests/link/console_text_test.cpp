// How received bytes read in the console's two views.

#include <gtest/gtest.h>

#include "link/console_text.h"

namespace {

QString Ascii(std::initializer_list<std::string> reads) {
  bool pendingCR = false;
  QString text;
  for (const std::string& read : reads) text += ConsoleAsciiText(read, pendingCR);
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

TEST(ConsoleHex, PairsRunOnAcrossReads) {
  EXPECT_EQ(ConsoleHexText("AB") + ConsoleHexText("C"), "41 42 43 ");
  EXPECT_EQ(ConsoleHexText(std::string("\x00\xff\r\n", 4)), "00 FF 0D 0A ");
  EXPECT_EQ(ConsoleHexText(""), "");
}

}  // namespace
