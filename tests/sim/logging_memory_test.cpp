// The generated logging memory, decoded here from the record layout alone.
#include "meter_sim/logging_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <ctime>

namespace meter_sim {
namespace {

constexpr std::size_t kPage = 4096;

float FloatLe(const uint8_t* p) {
  return std::bit_cast<float>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                              uint32_t{p[3]} << 24);
}

bool PageEndsErased(const std::vector<uint8_t>& m, std::size_t page) {
  return m[(page + 1) * kPage - 2] == 0xFF && m[(page + 1) * kPage - 1] == 0xFF;
}

struct Layout {
  int pages;
  uint64_t seed;
  int interval_s;
};

class GeneratedMemory : public ::testing::TestWithParam<Layout> {};

TEST_P(GeneratedMemory, DecodesToAPlausibleLogEndingWhereAReaderStops) {
  const Layout l = GetParam();
  const MemoryOptions o{.seed = l.seed, .pages = l.pages, .interval_s = l.interval_s};
  const std::vector<uint8_t> m = BuildLoggingMemory(o);
  ASSERT_EQ(m.size(), std::size_t{1} << 20);
  ASSERT_EQ(m[0], 0x55) << "the log opens with a time stamp";

  std::size_t i = 0, samples = 0, between = 0;
  long long last_stamp = 0;
  while (i + 1 < m.size() && !(m[i] == 0xFF && m[i + 1] == 0xFF)) {
    if (m[i] == 0x55 && m[i + 1] == 0xAA) {
      const uint8_t* s = &m[i + 2];
      ASSERT_TRUE(s[0] == 26 && s[1] >= 1 && s[1] <= 12 && s[2] >= 1 && s[2] <= 31 && s[3] < 24 &&
                  s[4] < 60 && s[5] < 60)
          << "stamp at " << i;
      std::tm tm{};
      tm.tm_year = 100 + s[0], tm.tm_mon = s[1] - 1, tm.tm_mday = s[2];
      tm.tm_hour = s[3], tm.tm_min = s[4], tm.tm_sec = s[5];
      const long long t = timegm(&tm);
      if (last_stamp) {
        EXPECT_GE(t, last_stamp + static_cast<long long>(between) * l.interval_s) << "at " << i;
      }
      last_stamp = t;
      between = 0;
      i += 8;
    } else if (m[i] == 0xAA && m[i + 1] == 0x55) {
      const unsigned word = unsigned{m[i + 2]} << 8 | m[i + 3];
      ASSERT_LE(word & 0xF, 9u) << "tenths digit at " << i;
      const double mg = (word >> 4) + (word & 0xF) / 10.0;
      const float vm = FloatLe(&m[i + 4]), rf = FloatLe(&m[i + 8]);
      ASSERT_TRUE(std::isfinite(vm) && std::isfinite(rf)) << "at " << i;
      EXPECT_TRUE(mg >= 0.1 && mg <= 400 && vm >= 1 && vm <= 300 && rf >= 0.01f && rf <= 5000)
          << "at " << i << ": " << mg << " " << vm << " " << rf;
      ++samples, ++between;
      i += 12;
    } else {
      // Readers skip unknown pairs; the generator only ever writes 00 00 fillers.
      ASSERT_TRUE(m[i] == 0 && m[i + 1] == 0) << "unknown pair at " << i;
      i += 2;
    }
  }
  const std::size_t pages = static_cast<std::size_t>(l.pages);
  EXPECT_GT(i, (pages - 1) * kPage) << "data ends before the last page in use";
  EXPECT_LE(i, pages * kPage);
  EXPECT_GT(samples, (pages - 1) * kPage / 12 * 9 / 10);
  EXPECT_TRUE(std::all_of(m.begin() + static_cast<std::ptrdiff_t>(i), m.end(), [](uint8_t b) {
    return b == 0xFF;
  })) << "data in the erased tail";
  for (std::size_t p = 0; p + 1 < pages; ++p) {
    ASSERT_FALSE(PageEndsErased(m, p)) << "page " << p << " would end a download early";
  }
  EXPECT_EQ(PageEndsErased(m, pages - 1), l.pages < kPageCount);
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
