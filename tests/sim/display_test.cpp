#include "meter_sim/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace meter_sim {
namespace {

int DarkPixels(const ScreenImage& img) {
  int n = 0;
  for (uint8_t b : img) n += __builtin_popcount(b);
  return n;
}

// Rows counted from the top, as in the layout: the status line is rows 0..8.
bool SameRows(const ScreenImage& a, const ScreenImage& b, int first_row, int last_row) {
  for (int row = first_row; row <= last_row; ++row) {
    for (int x = 0; x < kDisplayWidth; ++x) {
      const int y = kDisplayHeight - 1 - row;
      if (GetPixel(a, x, y) != GetPixel(b, x, y)) return false;
    }
  }
  return true;
}

constexpr int kStatusLast = 8;  // rows 0..8: clock, indicators
constexpr int kBodyFirst = 10;  // rows 10..63: readings, bars, charts

TEST(Pixels, UsePageLayoutWithRowZeroAtTheBottom) {
  ScreenImage img{};
  SetPixel(img, 0, 0);
  EXPECT_EQ(img[0], 0x01);
  SetPixel(img, 127, 63);
  EXPECT_EQ(img[1023], 0x80);
  SetPixel(img, 5, 10);  // page 1, bit 2
  EXPECT_EQ(img[128 + 5], 0x04);
  SetPixel(img, 5, 15);  // same byte, bit 7
  EXPECT_EQ(img[128 + 5], 0x84);
  EXPECT_EQ(DarkPixels(img), 4);

  EXPECT_TRUE(GetPixel(img, 0, 0));
  EXPECT_TRUE(GetPixel(img, 5, 15));
  EXPECT_FALSE(GetPixel(img, 5, 14));
  EXPECT_FALSE(GetPixel(img, 1, 0));

  SetPixel(img, 5, 10, false);
  EXPECT_EQ(img[128 + 5], 0x80);

  const ScreenImage before = img;
  for (auto [x, y] : {std::pair{-1, 0}, {128, 0}, {0, -1}, {0, 64}}) {
    SetPixel(img, x, y);
    EXPECT_FALSE(GetPixel(img, x, y));
  }
  EXPECT_EQ(img, before);
}

TEST(Font, GlyphsCoverTheScreenTextsAndDiffer) {
  const std::string needed = "0123456789.:-/ ABCDEFGHIJKLMNOPQRSTUVWXYZcksmuz";
  for (char c : needed) EXPECT_TRUE(HasGlyph(c)) << c;
  EXPECT_FALSE(HasGlyph('#'));

  // Each digit and letter must look different from every other one.
  std::set<ScreenImage> seen;
  for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZcksmuz")) {
    ScreenImage img{};
    DrawText(img, 0, 0, std::string(1, c));
    EXPECT_GT(DarkPixels(img), 0) << c;
    EXPECT_TRUE(seen.insert(img).second) << "glyph of '" << c << "' duplicates another";
  }
  // Unknown characters are drawn visibly rather than dropped.
  ScreenImage unknown{};
  DrawText(unknown, 0, 0, "#");
  EXPECT_GT(DarkPixels(unknown), 0);
}

TEST(Font, TextIsPlacedFromTheTopLeftAndScaled) {
  ScreenImage img{};
  const int w = DrawText(img, 10, 0, "1");
  EXPECT_EQ(w, TextWidth("1"));
  // Nothing left of x=10, nothing below the 7 glyph rows (y 57..63).
  for (int y = 0; y < kDisplayHeight; ++y) {
    for (int x = 0; x < kDisplayWidth; ++x) {
      if (GetPixel(img, x, y)) {
        EXPECT_GE(x, 10);
        EXPECT_LT(x, 10 + w);
        EXPECT_GE(y, kDisplayHeight - kGlyphHeight);
      }
    }
  }
  ScreenImage big{};
  DrawText(big, 0, 0, "8", 3);
  ScreenImage small{};
  DrawText(small, 0, 0, "8", 1);
  EXPECT_EQ(DarkPixels(big), 9 * DarkPixels(small));
  EXPECT_EQ(TextWidth("88", 3), 3 * TextWidth("88", 1));
}

TEST(Clock, ShowsTheMeterTimeOfDay) {
  MeterState s;
  s.clock_start = 10 * 3600;
  EXPECT_EQ(ClockText(s, 0.0), "10:00:00");
  EXPECT_EQ(ClockText(s, 3725.9), "11:02:05");
  s.clock_start = 23 * 3600 + 59 * 60 + 58;
  EXPECT_EQ(ClockText(s, 5.0), "00:00:03");
  s.clock_start = -1;  // a stored shot's clock can start before midnight
  EXPECT_EQ(ClockText(s, 0.0), "23:59:59");

  // The status line carries exactly that text in its top-left corner.
  s.clock_start = 10 * 3600;
  const ScreenImage screen = RenderDisplay(s, 3725.9);
  ScreenImage expected{};
  DrawText(expected, 0, 0, "11:02:05");
  const int width = TextWidth("11:02:05");
  for (int row = 0; row < kGlyphHeight; ++row) {
    for (int x = 0; x < width + 1; ++x) {
      const int y = kDisplayHeight - 1 - row;
      EXPECT_EQ(GetPixel(screen, x, y), GetPixel(expected, x, y)) << x << "," << row;
    }
  }
}

TEST(Render, IsAPureReadableFunctionOfStateAndTime) {
  MeterState s;
  const ScreenImage a = RenderDisplay(s, 42.0);
  EXPECT_EQ(a, RenderDisplay(s, 42.0));
  const int dark = DarkPixels(a);
  EXPECT_GT(dark, kDisplayWidth * kDisplayHeight / 30);  // has content
  EXPECT_LT(dark, kDisplayWidth * kDisplayHeight / 2);   // is not a smear

  // The line under the status bar is a fixed landmark.
  for (int x = 0; x < kDisplayWidth; ++x) EXPECT_TRUE(GetPixel(a, x, kDisplayHeight - 1 - 9));
  // The top-right corner is the battery outline; the bottom-left the bar frame.
  EXPECT_TRUE(GetPixel(a, 116, 63));
  EXPECT_TRUE(GetPixel(a, 0, 0));
}

TEST(Render, ChangesOverTime) {
  MeterState s;
  const ScreenImage t0 = RenderDisplay(s, 100.0);
  const ScreenImage t1 = RenderDisplay(s, 101.0);
  EXPECT_FALSE(SameRows(t0, t1, 0, kStatusLast)) << "clock did not tick";
  const ScreenImage later = RenderDisplay(s, 160.0);
  EXPECT_FALSE(SameRows(t0, later, kBodyFirst, 63)) << "readings did not move";
}

TEST(Readings, DriftSmoothlyWithinBelievableRanges) {
  double prev_e = 0, min_e = 1e9, max_e = 0, max_b = 0;
  std::vector<double> b_values;
  for (double t = 0; t < 900; t += 0.5) {
    const Readings r = ReadingsAt(7, t);
    ASSERT_TRUE(std::isfinite(r.magnetic_mg) && std::isfinite(r.electric_vm) &&
                std::isfinite(r.rf_mw_m2));
    EXPECT_GE(r.magnetic_mg, 0.1);
    EXPECT_LE(r.magnetic_mg, 100.0);
    EXPECT_GE(r.electric_vm, 1.0);
    EXPECT_LE(r.electric_vm, 300.0);
    EXPECT_GT(r.rf_mw_m2, 0.0);
    EXPECT_LE(r.rf_mw_m2, 10.0);
    if (prev_e > 0) {
      const double step = r.electric_vm / prev_e;
      EXPECT_LT(std::max(step, 1 / step), 1.15) << "jump at t=" << t;
    }
    prev_e = r.electric_vm;
    min_e = std::min(min_e, r.electric_vm);
    max_e = std::max(max_e, r.electric_vm);
    max_b = std::max(max_b, r.magnetic_mg);
    b_values.push_back(r.magnetic_mg);
  }
  EXPECT_GT(max_e / min_e, 1.3) << "electric field hardly moves";
  std::nth_element(b_values.begin(), b_values.begin() + b_values.size() / 2, b_values.end());
  EXPECT_GT(max_b, 3 * b_values[b_values.size() / 2]) << "no magnetic spike";
  // Readings change in half-second steps, like the meter's display.
  const Readings a = ReadingsAt(7, 10.0), b = ReadingsAt(7, 10.49);
  EXPECT_EQ(a.electric_vm, b.electric_vm);
  EXPECT_NE(ReadingsAt(7, 10.0).electric_vm, ReadingsAt(8, 10.0).electric_vm);
}

TEST(Keys, MapFromCommandNames) {
  EXPECT_EQ(KeyFromCommand("KEY0"), Key::kNextView);
  EXPECT_EQ(KeyFromCommand("KEY1"), Key::kPrevView);
  EXPECT_EQ(KeyFromCommand("KEY2"), Key::kHold);
  EXPECT_EQ(KeyFromCommand("KEY3"), Key::kUnits);
  EXPECT_EQ(KeyFromCommand("KEYHOLD1"), Key::kZoomOut);
  EXPECT_EQ(KeyFromCommand("KEYHOLD2"), Key::kZoomIn);
  EXPECT_EQ(KeyFromCommand("KEYHOLD3"), Key::kPower);
  EXPECT_FALSE(KeyFromCommand("KEY4"));
  EXPECT_FALSE(KeyFromCommand("KEYHOLD0"));
  EXPECT_FALSE(KeyFromCommand("GETVER"));
}

TEST(Keys, EveryKeyVisiblyChangesTheDisplay) {
  const double t = 200.0;
  for (Key key :
       {Key::kNextView, Key::kPrevView, Key::kUnits, Key::kZoomIn, Key::kZoomOut, Key::kHold}) {
    MeterState s;
    const ScreenImage before = RenderDisplay(s, t);
    ApplyKey(s, key, t);
    EXPECT_NE(RenderDisplay(s, t), before) << "key " << static_cast<int>(key);
  }
}

TEST(Keys, ViewsCycleBothWays) {
  const double t = 300.0;
  MeterState s;
  const ScreenImage first = RenderDisplay(s, t);
  std::set<ScreenImage> views;
  for (int i = 0; i < kViewCount; ++i) {
    views.insert(RenderDisplay(s, t));
    ApplyKey(s, Key::kNextView, t);
  }
  EXPECT_EQ(views.size(), static_cast<std::size_t>(kViewCount)) << "two views look the same";
  EXPECT_EQ(RenderDisplay(s, t), first);

  ApplyKey(s, Key::kPrevView, t);
  EXPECT_EQ(s.view, View::kInfo);
  ApplyKey(s, Key::kNextView, t);
  EXPECT_EQ(RenderDisplay(s, t), first);
}

TEST(Keys, ZoomStopsAtItsLimits) {
  const double t = 50.0;
  MeterState s;
  ASSERT_EQ(s.zoom, kDefaultZoom);
  std::set<ScreenImage> sizes;
  for (int i = 0; i < 5; ++i) ApplyKey(s, Key::kZoomOut, t);
  EXPECT_EQ(s.zoom, kMinZoom);
  for (int z = kMinZoom; z <= kMaxZoom; ++z) {
    EXPECT_EQ(s.zoom, z);
    sizes.insert(RenderDisplay(s, t));
    ApplyKey(s, Key::kZoomIn, t);
  }
  EXPECT_EQ(s.zoom, kMaxZoom);
  EXPECT_EQ(sizes.size(), static_cast<std::size_t>(kMaxZoom - kMinZoom + 1));
}

TEST(Keys, HoldFreezesReadingsButNotTheClock) {
  MeterState s;
  ApplyKey(s, Key::kHold, 100.0);
  const ScreenImage at_hold = RenderDisplay(s, 100.0);
  const ScreenImage later = RenderDisplay(s, 170.0);
  EXPECT_TRUE(SameRows(at_hold, later, kBodyFirst, 63));
  EXPECT_FALSE(SameRows(at_hold, later, 0, kStatusLast));

  ApplyKey(s, Key::kHold, 170.0);  // release
  EXPECT_FALSE(s.hold);
  EXPECT_FALSE(SameRows(RenderDisplay(s, 170.0), at_hold, kBodyFirst, 63));
}

TEST(Keys, UnitsToggleBackAndForth) {
  MeterState s;
  const ScreenImage normal = RenderDisplay(s, 10.0);
  ApplyKey(s, Key::kUnits, 10.0);
  EXPECT_TRUE(s.alt_units);
  EXPECT_NE(RenderDisplay(s, 10.0), normal);
  ApplyKey(s, Key::kUnits, 10.0);
  EXPECT_EQ(RenderDisplay(s, 10.0), normal);
}

TEST(Keys, PowerOffBlanksAndPowerOnRestartsAtTheFirstView) {
  MeterState s;
  ApplyKey(s, Key::kNextView, 1.0);
  ApplyKey(s, Key::kZoomIn, 1.0);
  ApplyKey(s, Key::kPower, 2.0);
  EXPECT_FALSE(s.power_on);
  EXPECT_EQ(RenderDisplay(s, 2.0), ScreenImage{});
  EXPECT_EQ(RenderDisplay(s, 500.0), ScreenImage{});

  ApplyKey(s, Key::kNextView, 3.0);  // no effect while off
  EXPECT_EQ(s.view, View::kMagnetic);
  EXPECT_EQ(RenderDisplay(s, 3.0), ScreenImage{});

  ApplyKey(s, Key::kPower, 4.0);
  EXPECT_TRUE(s.power_on);
  EXPECT_EQ(s.view, View::kAll);
  EXPECT_EQ(s.zoom, kDefaultZoom);
  EXPECT_GT(DarkPixels(RenderDisplay(s, 4.0)), 100);
}

TEST(Keys, ResetDisplayKeepsTheInstrumentSettings) {
  MeterState s;
  s.seed = 99;
  s.clock_start = 1234;
  s.serial = "X1";
  ApplyKey(s, Key::kNextView, 0);
  ApplyKey(s, Key::kHold, 0);
  ApplyKey(s, Key::kUnits, 0);
  ApplyKey(s, Key::kZoomOut, 0);
  ResetDisplay(s);
  MeterState fresh;
  fresh.seed = 99;
  fresh.clock_start = 1234;
  fresh.serial = "X1";
  EXPECT_EQ(RenderDisplay(s, 20.0), RenderDisplay(fresh, 20.0));
}

}  // namespace
}  // namespace meter_sim
