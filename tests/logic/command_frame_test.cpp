#include "link/command_frame.h"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "framework/format.h"

namespace {

std::string Hex(const std::string& bytes) { return fw::EncodeHex(bytes, true); }

TEST(CommandFrame, WrapsNameAndArgument) {
  EXPECT_EQ(CommandFrame("GETVER"), "<GETVER>>");
  EXPECT_EQ(CommandFrame("KEY", "2"), "<KEY2>>");
  EXPECT_EQ(CommandFrame("X", std::string("\x00\xff", 2)), std::string("<X\x00\xff>>", 6));
}

TEST(CommandFrame, FixedFramesAreComposedAlike) {
  EXPECT_EQ(kGetVersionFrame, CommandFrame("GETVER"));
  EXPECT_EQ(kGetSerialFrame, "<GETSERIAL>>");
  EXPECT_EQ(kDsidFrame, "<DSID>>");
  EXPECT_EQ(kFactoryResetFrame, "<FACTORYRESET>>");
  EXPECT_EQ(kRebootFrame, "<REBOOT>>");
  EXPECT_EQ(kGetScreenFrame, "<GETSCREEN>>");
  EXPECT_EQ(kKey0Frame, "<KEY0>>");
  EXPECT_EQ(kKey1Frame, "<KEY1>>");
  EXPECT_EQ(kKey2Frame, "<KEY2>>");
  EXPECT_EQ(kKey3Frame, "<KEY3>>");
  EXPECT_EQ(kKeyHold1Frame, "<KEYHOLD1>>");
  EXPECT_EQ(kKeyHold2Frame, "<KEYHOLD2>>");
  EXPECT_EQ(kKeyHold3Frame, "<KEYHOLD3>>");
}

TEST(SpirFrame, CarriesThreeAddressBytesAndTheLength) {
  EXPECT_EQ(Hex(SpirFrame(0)), "3C 53 50 49 52 00 00 00 10 00 3E 3E");
  EXPECT_EQ(Hex(SpirFrame(0x001000)), "3C 53 50 49 52 00 10 00 10 00 3E 3E");
  EXPECT_EQ(Hex(SpirFrame(1044480)), "3C 53 50 49 52 0F F0 00 10 00 3E 3E");
  EXPECT_EQ(Hex(SpirFrame(0x123456)), "3C 53 50 49 52 12 34 56 10 00 3E 3E");
}

TEST(SpirFrame, SendsOnlyTheLowTwentyFourAddressBits) {
  const std::string frame = SpirFrame(0xAB123456);
  EXPECT_EQ(frame.size(), 12u);
  EXPECT_EQ(Hex(frame), "3C 53 50 49 52 12 34 56 10 00 3E 3E");
}

TEST(ScreenshotFrames, NameTheSlot) {
  EXPECT_EQ(Hex(ScreenshotInfoFrame(3)), "3C 47 45 54 53 53 4E 33 3E 3E");
  EXPECT_EQ(Hex(ScreenshotImageFrame(3)), "3C 47 45 54 53 53 33 3E 3E");
  EXPECT_EQ(ScreenshotInfoFrame(1), "<GETSSN1>>");
  EXPECT_EQ(ScreenshotImageFrame(4), "<GETSS4>>");
}

TEST(ScreenshotFrames, RefuseSlotsTheMeterDoesNotHave) {
  EXPECT_THROW(ScreenshotInfoFrame(0), std::out_of_range);
  EXPECT_THROW(ScreenshotInfoFrame(5), std::out_of_range);
  EXPECT_THROW(ScreenshotImageFrame(0), std::out_of_range);
  EXPECT_THROW(ScreenshotImageFrame(-1), std::out_of_range);
}

}  // namespace
