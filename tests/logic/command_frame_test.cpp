#include "link/command_frame.h"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "framework/format.h"

namespace {

std::string Hex(const std::string& bytes) { return fw::EncodeHex(bytes, true); }

TEST(CommandFrame, WrapsNameAndAnyArgumentBytes) {
  EXPECT_EQ(CommandFrame("GETVER"), "<GETVER>>");
  EXPECT_EQ(CommandFrame("X", std::string("\x00\xff", 2)), std::string("<X\x00\xff>>", 6));
}

TEST(CommandFrame, SpirCarriesThreeAddressBytesAndTheLength) {
  EXPECT_EQ(Hex(SpirFrame(0)), "3C 53 50 49 52 00 00 00 10 00 3E 3E");
  EXPECT_EQ(Hex(SpirFrame(4096)), "3C 53 50 49 52 00 10 00 10 00 3E 3E");
  EXPECT_EQ(Hex(SpirFrame(1044480)), "3C 53 50 49 52 0F F0 00 10 00 3E 3E");
  EXPECT_EQ(Hex(SpirFrame(0x123456)), "3C 53 50 49 52 12 34 56 10 00 3E 3E");
}

TEST(CommandFrame, ScreenshotFramesNameSlotsOneToFourOnly) {
  EXPECT_EQ(ScreenshotInfoFrame(1), "<GETSSN1>>");
  EXPECT_EQ(Hex(ScreenshotInfoFrame(3)), "3C 47 45 54 53 53 4E 33 3E 3E");
  EXPECT_EQ(Hex(ScreenshotImageFrame(3)), "3C 47 45 54 53 53 33 3E 3E");
  EXPECT_EQ(ScreenshotImageFrame(4), "<GETSS4>>");
  for (int slot : {0, 5}) {
    EXPECT_THROW(ScreenshotInfoFrame(slot), std::out_of_range) << slot;
    EXPECT_THROW(ScreenshotImageFrame(slot), std::out_of_range) << slot;
  }
}

}  // namespace
