// The generated logging memory, decoded here from the record layout alone.
#include "meter_sim/logging_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

namespace meter_sim {
namespace {

constexpr std::size_t kPage = 4096;

bool PageEndsErased(const std::vector<uint8_t>& m, std::size_t page) {
  return m[(page + 1) * kPage - 2] == 0xFF && m[(page + 1) * kPage - 1] == 0xFF;
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
  const MemoryOptions o{.seed = l.seed, .pages = l.pages, .interval_s = l.interval_s};
  const std::vector<uint8_t> m = BuildLoggingMemory(o);
  ASSERT_EQ(m.size(), std::size_t{1} << 20);
  ASSERT_EQ(m[0], 0x55) << "the log opens with a time stamp";
  std::size_t i = 0, samples = 0;
  while (i + 1 < m.size() && !(m[i] == 0xFF && m[i + 1] == 0xFF)) {
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
  for (std::size_t p = 0; p + 1 < pages; ++p) {
    ASSERT_FALSE(PageEndsErased(m, p)) << "page " << p << " would end a download early";
  }
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
    const std::vector<uint8_t> spacer(lead, 0x11);
    ASSERT_TRUE(w.Append(spacer));
    ASSERT_TRUE(w.Append(sample));
    const auto& m = w.Image();
    EXPECT_FALSE(m[kPage - 2] == 0xFF && m[kPage - 1] == 0xFF) << "lead " << lead;
    EXPECT_EQ(w.Offset() % 2, 0u) << "record at an odd offset";
    EXPECT_TRUE(std::equal(sample.begin(), sample.end(), m.begin() + w.Offset() - 12));
    EXPECT_TRUE(std::all_of(m.begin() + lead, m.begin() + w.Offset() - 12,
                            [](uint8_t b) { return b == 0; }));
  }
}

}  // namespace
}  // namespace meter_sim
