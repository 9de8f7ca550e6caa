// The simulated LCD page: row 0 at the bottom, as the program decodes it.
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

}  // namespace
}  // namespace meter_sim
