// The simulated LCD: page layout, the status clock, keys and power.
#include "meter_sim/display.h"

#include <gtest/gtest.h>

namespace meter_sim {
namespace {

TEST(Display, PageLayoutHasRowZeroAtTheBottom) {
  ScreenImage img{};
  SetPixel(img, 0, 0);
  SetPixel(img, 5, 10);  // page 1, bit 2
  SetPixel(img, 127, 63);
  SetPixel(img, 128, 0);  // off the glass: ignored
  ScreenImage expected{};
  expected[0] = 0x01;
  expected[128 + 5] = 0x04;
  expected[1023] = 0x80;
  EXPECT_EQ(img, expected);
  EXPECT_TRUE(GetPixel(img, 5, 10));
}

TEST(Display, StatusLineShowsTheMeterClockTopLeft) {
  MeterState s;
  s.clock_start = 23 * 3600 + 59 * 60 + 58;
  EXPECT_EQ(ClockText(s, 3725.9), "01:02:03");  // wraps past midnight
  const ScreenImage screen = RenderDisplay(s, 3725.9);
  ScreenImage text{};
  const int width = DrawText(text, 0, 0, "01:02:03");
  for (int y = kDisplayHeight - kGlyphHeight; y < kDisplayHeight; ++y) {
    for (int x = 0; x <= width; ++x) {
      ASSERT_EQ(GetPixel(screen, x, y), GetPixel(text, x, y)) << x << "," << y;
    }
  }
}

TEST(Display, EveryKeyChangesTheImageAndPowerOffBlanksIt) {
  for (Key key :
       {Key::kNextView, Key::kPrevView, Key::kHold, Key::kUnits, Key::kZoomIn, Key::kZoomOut}) {
    MeterState s;
    const ScreenImage before = RenderDisplay(s, 200.0);
    ApplyKey(s, key, 200.0);
    EXPECT_NE(RenderDisplay(s, 200.0), before) << "key " << static_cast<int>(key);
  }
  MeterState s;
  ApplyKey(s, Key::kNextView, 1.0);
  ApplyKey(s, Key::kPower, 2.0);
  EXPECT_EQ(RenderDisplay(s, 2.0), ScreenImage{});
  ApplyKey(s, Key::kNextView, 3.0);  // ignored while off
  EXPECT_EQ(s.view, View::kMagnetic);
  ApplyKey(s, Key::kPower, 4.0);  // boots into the first view
  EXPECT_EQ(s.view, View::kAll);
  EXPECT_NE(RenderDisplay(s, 4.0), ScreenImage{});
}

}  // namespace
}  // namespace meter_sim
