// The generated logging memory, decoded here from the record layout alone, and
// the LCD page: what the downloads and the mirror are compared against.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "meter_sim/display.h"
#include "meter_sim/logging_memory.h"

namespace meter_sim {
namespace {

constexpr std::size_t kPage = 4096;

bool EndsErased(const std::vector<uint8_t>& m, std::size_t end) {
  return m[end - 2] == 0xFF && m[end - 1] == 0xFF;
}

struct Layout {
  int pages;
  uint64_t seed;
  int interval_s;
};

class GeneratedMemory : public ::testing::TestWithParam<Layout> {};

// What the downloads rely on: records from the first byte on, no page before
// the last in use that ends as erased (a reader would stop there), and an
// erased tail.
TEST_P(GeneratedMemory, HoldsRecordsUpToWhereAReaderStops) {
  const Layout l = GetParam();
  const std::vector<uint8_t> m =
      BuildLoggingMemory({.seed = l.seed, .pages = l.pages, .interval_s = l.interval_s});
  ASSERT_EQ(m.size(), std::size_t{1} << 20);
  ASSERT_EQ(m[0], 0x55) << "the log opens with a time stamp";
  std::size_t i = 0, samples = 0;
  while (i + 1 < m.size() && !EndsErased(m, i + 2)) {
    if (m[i] == 0x55 && m[i + 1] == 0xAA) {
      i += 8;
    } else if (m[i] == 0xAA && m[i + 1] == 0x55) {
      ASSERT_LE(m[i + 3] & 0xF, 9) << "tenths digit at " << i;
      ++samples, i += 12;
    } else {
      ASSERT_TRUE(m[i] == 0 && m[i + 1] == 0) << "unknown pair at " << i;
      i += 2;
    }
  }
  const std::size_t pages = static_cast<std::size_t>(l.pages);
  EXPECT_GT(i, (pages - 1) * kPage) << "data ends before the last page in use";
  EXPECT_GT(samples, (pages - 1) * kPage / 12 * 9 / 10);
  EXPECT_TRUE(std::all_of(m.begin() + static_cast<std::ptrdiff_t>(i), m.end(), [](uint8_t b) {
    return b == 0xFF;
  })) << "data in the erased tail";
  for (std::size_t p = 1; p < pages; ++p)
    ASSERT_FALSE(EndsErased(m, p * kPage)) << "page " << p - 1 << " would end a download early";
  EXPECT_EQ(PagesInUse(m), l.pages);
}

INSTANTIATE_TEST_SUITE_P(Layouts, GeneratedMemory,
                         ::testing::Values(Layout{40, 1, 10}, Layout{3, 7, 2},
                                           Layout{kPageCount, 5, 60}));

TEST(MemoryWriter, ShiftsARecordThatWouldEndAPageInFFFF) {
  // E = 10.06 V/m is 0x4120FFFF: its low bytes are FF FF.
  const auto sample = EncodeSample(1.0, std::bit_cast<float>(0x4120FFFFu), 1.0f);
  for (std::size_t lead = kPage - 12; lead <= kPage - 4; lead += 2) {
    MemoryWriter w(2 * kPage);
    ASSERT_TRUE(w.Append(std::vector<uint8_t>(lead, 0x11)));
    ASSERT_TRUE(w.Append(sample));
    const auto& m = w.Image();
    EXPECT_FALSE(EndsErased(m, kPage)) << "lead " << lead;
    EXPECT_EQ(w.Offset() % 2, 0u) << "record at an odd offset";
    EXPECT_TRUE(std::equal(sample.begin(), sample.end(), m.begin() + w.Offset() - 12));
    EXPECT_TRUE(std::all_of(m.begin() + lead, m.begin() + w.Offset() - 12,
                            [](uint8_t b) { return b == 0; }));
  }
}

TEST(Display, PageLayoutHasRowZeroAtTheBottom) {
  ScreenImage img{}, expected{};
  SetPixel(img, 0, 0);
  SetPixel(img, 5, 10);  // page 1, bit 2
  SetPixel(img, 127, 63);
  SetPixel(img, 128, 0);  // off the glass: ignored
  expected[0] = 0x01;
  expected[128 + 5] = 0x04;
  expected[1023] = 0x80;
  EXPECT_EQ(img, expected);
  EXPECT_TRUE(GetPixel(img, 5, 10));
}

}  // namespace
}  // namespace meter_sim
