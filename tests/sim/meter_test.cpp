#include "meter_sim/meter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace meter_sim {
namespace {

std::vector<uint8_t> B(const std::string& s) { return {s.begin(), s.end()}; }

// Sends wire bytes through the parser, as the simulator does.
class MeterTest : public ::testing::Test {
 protected:
  MeterTest() : meter_(DefaultMeterConfig()) {}

  std::vector<uint8_t> Send(const std::vector<uint8_t>& wire, double t = 10.0) {
    const std::vector<Frame> frames = parser_.Feed(wire);
    EXPECT_EQ(frames.size(), 1u);
    return frames.empty() ? std::vector<uint8_t>{} : meter_.Handle(frames[0], t);
  }
  std::vector<uint8_t> Send(const std::string& name, double t = 10.0) {
    return Send(MakeFrame(name), t);
  }

  FrameParser parser_;
  Meter meter_;
};

bool EndsWithCrLf(const std::vector<uint8_t>& r) {
  return r.size() > 2 && r[r.size() - 2] == '\r' && r.back() == '\n';
}

TEST_F(MeterTest, TextRepliesEndWithALineEnd) {
  const std::vector<uint8_t> version = Send("GETVER");
  EXPECT_TRUE(EndsWithCrLf(version));
  EXPECT_NE(std::string(version.begin(), version.end()).find("EMF"), std::string::npos);
  for (const char* cmd : {"GETSERIAL", "DSID"}) {
    const std::vector<uint8_t> r = Send(cmd);
    EXPECT_TRUE(EndsWithCrLf(r)) << cmd;
    EXPECT_GT(r.size(), 4u) << cmd;
  }
  EXPECT_NE(Send("GETSERIAL"), Send("DSID"));
}

TEST_F(MeterTest, ScreenIsTheLiveImagePlusEndMarker) {
  const std::vector<uint8_t> r = Send("GETSCREEN", 77.0);
  ASSERT_EQ(r.size(), kScreenFrameBytes);
  EXPECT_EQ(r.back(), kEndMarker);
  const ScreenImage expected = RenderDisplay(meter_.State(), 77.0);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.begin()));
  // A second later the clock has moved.
  EXPECT_NE(Send("GETSCREEN", 78.0), r);
}

TEST_F(MeterTest, SpirReturnsTheRequestedMemory) {
  const std::vector<uint8_t>& mem = meter_.Memory();
  ASSERT_EQ(mem.size(), kMemoryBytes);
  const std::vector<uint8_t> page1 = Send(MakeSpirFrame(0x001000, 0x1000));
  ASSERT_EQ(page1.size(), 4096u);
  EXPECT_TRUE(std::equal(page1.begin(), page1.end(), mem.begin() + 4096));

  // Address and length bytes that look like frame syntax; the chip ignores
  // address bits above 1 MiB.
  const std::vector<uint8_t> odd = Send(MakeSpirFrame(0x3C3E00, 0x003E));
  ASSERT_EQ(odd.size(), 0x3Eu);
  EXPECT_TRUE(std::equal(odd.begin(), odd.end(), mem.begin() + 0x0C3E00));

  EXPECT_TRUE(Send(MakeSpirFrame(0, 0)).empty());
}

TEST_F(MeterTest, SpirWrapsAroundTheEndOfTheChip) {
  const std::vector<uint8_t>& mem = meter_.Memory();
  const std::vector<uint8_t> r = Send(MakeSpirFrame(0x0FF800, 0x1000));
  ASSERT_EQ(r.size(), 4096u);
  EXPECT_TRUE(std::equal(r.begin(), r.begin() + 2048, mem.end() - 2048));
  EXPECT_TRUE(std::equal(r.begin() + 2048, r.end(), mem.begin()));
  // Address bits above 1 MiB do not exist on the chip.
  EXPECT_EQ(Send(MakeSpirFrame(0x100010, 0x20)), Send(MakeSpirFrame(0x000010, 0x20)));
  EXPECT_EQ(Send(MakeSpirFrame(0xFFFFFF, 2)), (std::vector<uint8_t>{mem.back(), mem.front()}));
}

TEST_F(MeterTest, SlotInformationForStoredAndEmptySlots) {
  for (int slot = 1; slot <= 3; ++slot) {
    const std::vector<uint8_t> r = Send("GETSSN" + std::to_string(slot));
    ASSERT_EQ(r.size(), kSlotInfoBytes) << slot;
    EXPECT_GE(r[0], 19) << slot;
    EXPECT_NE(r[0], 0xFF) << slot;
    EXPECT_GE(r[1], 1);
    EXPECT_LE(r[1], 12);
    EXPECT_GE(r[2], 1);
    EXPECT_LE(r[2], 31);
    EXPECT_LT(r[3], 24);
    EXPECT_LT(r[4], 60);
    EXPECT_LT(r[5], 60);
    EXPECT_EQ(r[6], kEndMarker);
    const DateTime& when = meter_.Slots()[slot - 1]->when;
    EXPECT_EQ(r[0], when.year - 2000);
    EXPECT_EQ(r[5], when.second);
  }
  EXPECT_EQ(Send("GETSSN4"), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}));
  // Slot numbers outside 1..4 get no answer.
  for (const char* bad : {"GETSSN0", "GETSSN5", "GETSSN9", "GETSS0", "GETSS5"}) {
    EXPECT_TRUE(Send(bad).empty()) << bad;
  }
}

TEST_F(MeterTest, StoredScreensAndTheBlankEmptySlot) {
  std::vector<std::vector<uint8_t>> shots;
  for (int slot = 1; slot <= 3; ++slot) {
    const std::vector<uint8_t> r = Send("GETSS" + std::to_string(slot));
    ASSERT_EQ(r.size(), kScreenFrameBytes);
    EXPECT_EQ(r.back(), kEndMarker);
    EXPECT_EQ(r, ScreenFrame(meter_.Slots()[slot - 1]->image));
    EXPECT_GT(std::count_if(r.begin(), r.end() - 1, [](uint8_t b) { return b != 0; }), 50);
    shots.push_back(r);
  }
  EXPECT_NE(shots[0], shots[1]);
  EXPECT_NE(shots[1], shots[2]);
  // Stored pictures do not follow the live display.
  EXPECT_EQ(Send("GETSS1", 500.0), shots[0]);

  std::vector<uint8_t> blank(kImageBytes, 0);
  blank.push_back(kEndMarker);
  EXPECT_EQ(Send("GETSS4"), blank);
}

TEST(StoredScreens, CountIsConfigurableAndImagesShowTheirTime) {
  const StoredScreens none = DefaultStoredScreens(0);
  for (const auto& s : none) EXPECT_FALSE(s.has_value());
  const StoredScreens all = DefaultStoredScreens(4);
  for (const auto& s : all) ASSERT_TRUE(s.has_value());

  MeterConfig config = DefaultMeterConfig();
  config.slots = all;
  Meter meter(config);
  FrameParser parser;
  const auto info = meter.Handle(parser.Feed(MakeFrame("GETSSN4"))[0], 1.0);
  EXPECT_EQ(info[0], all[3]->when.year - 2000);

  // The clock in each stored picture reads the time it was stored at.
  for (const auto& s : all) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", s->when.hour, s->when.minute,
                  s->when.second);
    ScreenImage expected{};
    DrawText(expected, 0, 0, text);
    for (int x = 0; x < TextWidth(text); ++x) {
      for (int y = kDisplayHeight - kGlyphHeight; y < kDisplayHeight; ++y) {
        ASSERT_EQ(GetPixel(s->image, x, y), GetPixel(expected, x, y)) << text;
      }
    }
  }
}

TEST_F(MeterTest, KeysChangeTheDisplayWithoutReplying) {
  const ScreenImage before = RenderDisplay(meter_.State(), 10.0);
  EXPECT_TRUE(Send("KEY0").empty());
  EXPECT_EQ(meter_.State().view, View::kMagnetic);
  EXPECT_TRUE(Send("KEY1").empty());
  EXPECT_TRUE(Send("KEY1").empty());
  EXPECT_EQ(meter_.State().view, View::kInfo);
  EXPECT_TRUE(Send("KEY2").empty());
  EXPECT_TRUE(meter_.State().hold);
  EXPECT_TRUE(Send("KEY3").empty());
  EXPECT_TRUE(meter_.State().alt_units);
  EXPECT_TRUE(Send("KEYHOLD2").empty());
  EXPECT_EQ(meter_.State().zoom, kDefaultZoom + 1);
  EXPECT_TRUE(Send("KEYHOLD1").empty());
  EXPECT_TRUE(Send("KEYHOLD1").empty());
  EXPECT_EQ(meter_.State().zoom, kDefaultZoom - 1);
  EXPECT_NE(RenderDisplay(meter_.State(), 10.0), before);
}

TEST_F(MeterTest, ResetsReturnToTheFirstViewAndKeepTheData) {
  for (const char* reset : {"FACTORYRESET", "REBOOT"}) {
    Send("KEY0");
    Send("KEYHOLD2");
    Send("KEY2");
    ASSERT_NE(meter_.State().view, View::kAll);
    EXPECT_EQ(Send(reset), B("OK\r\n")) << reset;
    EXPECT_EQ(meter_.State().view, View::kAll) << reset;
    EXPECT_EQ(meter_.State().zoom, kDefaultZoom) << reset;
    EXPECT_FALSE(meter_.State().hold) << reset;
    EXPECT_EQ(Send("GETSSN1").size(), kSlotInfoBytes);
    EXPECT_EQ(Send(MakeSpirFrame(0, 2)), (std::vector<uint8_t>{0x55, 0xAA}));
  }
}

TEST_F(MeterTest, PowerOffBlanksTheScreenButTheLinkStillAnswers) {
  EXPECT_TRUE(Send("KEYHOLD3").empty());
  std::vector<uint8_t> blank(kImageBytes, 0);
  blank.push_back(kEndMarker);
  EXPECT_EQ(Send("GETSCREEN"), blank);
  Send("KEY0");
  EXPECT_EQ(meter_.State().view, View::kAll) << "keys act while off";
  EXPECT_TRUE(EndsWithCrLf(Send("GETVER")));
  EXPECT_EQ(Send("GETSS1").size(), kScreenFrameBytes);
  Send("KEYHOLD3");
  EXPECT_NE(Send("GETSCREEN"), blank);
}

TEST_F(MeterTest, UnknownCommandsGetNoReply) {
  for (const char* cmd : {"HELLO", "GETVER1", "KEY4", "KEYHOLD0", "KEYHOLD4", "GETSS", "GETSSN",
                          "SPI", "GETSCREEN2"}) {
    EXPECT_TRUE(Send(cmd).empty()) << cmd;
  }
  EXPECT_EQ(meter_.State().view, View::kAll);
}

TEST(MeterConfig, MemoryIsPaddedToTheChipSize) {
  MeterConfig config = DefaultMeterConfig();
  config.memory = {0x55, 0xAA, 26};
  Meter meter(config);
  ASSERT_EQ(meter.Memory().size(), kMemoryBytes);
  EXPECT_EQ(meter.ReadMemory(0, 4), (std::vector<uint8_t>{0x55, 0xAA, 26, 0xFF}));
}

}  // namespace
}  // namespace meter_sim
