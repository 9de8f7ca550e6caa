#include "meter_sim/logging_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace meter_sim {
namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kMiB = 1 << 20;

// --- An independent reader of the memory, written from the record layout ---

float FloatLe(const uint8_t* p) {
  const uint32_t bits =
      uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

struct Stamp {
  std::size_t offset;
  int yy, mo, dd, hh, mi, ss;
  long long Epoch() const {
    std::tm tm{};
    tm.tm_year = 100 + yy;
    tm.tm_mon = mo - 1;
    tm.tm_mday = dd;
    tm.tm_hour = hh;
    tm.tm_min = mi;
    tm.tm_sec = ss;
    return static_cast<long long>(timegm(&tm));
  }
};

struct Sample {
  std::size_t offset;
  double mg;
  float vm;
  float rf;
  int samples_since_stamp;
};

struct Walk {
  std::vector<Stamp> stamps;
  std::vector<Sample> samples;
  std::vector<std::size_t> fillers;  // offsets of unknown pairs
  std::size_t end = 0;               // first byte of the erased tail (or 1 MiB)
  std::string error;
};

// Walks records from address 0 until the erased tail (an FF FF pair).
Walk WalkRecords(const std::vector<uint8_t>& m) {
  Walk w;
  std::size_t i = 0;
  int since = 0;
  while (i + 1 < m.size()) {
    if (i % 2 != 0) {
      w.error = "record at odd offset";
      return w;
    }
    const uint8_t a = m[i], b = m[i + 1];
    if (a == 0x55 && b == 0xAA) {
      if (i + 8 > m.size()) break;
      w.stamps.push_back({i, m[i + 2], m[i + 3], m[i + 4], m[i + 5], m[i + 6], m[i + 7]});
      since = 0;
      i += 8;
    } else if (a == 0xAA && b == 0x55) {
      if (i + 12 > m.size()) break;
      const unsigned word = unsigned{m[i + 2]} << 8 | m[i + 3];
      const unsigned tenths = word & 0xF;
      if (tenths > 9) {
        w.error = "tenths digit > 9 at " + std::to_string(i);
        return w;
      }
      w.samples.push_back(
          {i, (word >> 4) + tenths / 10.0, FloatLe(&m[i + 4]), FloatLe(&m[i + 8]), since++});
      i += 12;
    } else if (a == 0xFF && b == 0xFF) {
      break;
    } else {
      w.fillers.push_back(i);  // unknown pair: skipped two bytes at a time
      i += 2;
    }
  }
  w.end = i;
  return w;
}

bool PageEndsErased(const std::vector<uint8_t>& m, std::size_t page) {
  return m[(page + 1) * kPage - 2] == 0xFF && m[(page + 1) * kPage - 1] == 0xFF;
}

int DaysInMonth(int yy, int mo) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return mo == 2 && yy % 4 == 0 ? 29 : kDays[mo - 1];
}

void ExpectBelievableLog(const std::vector<uint8_t>& m, const MemoryOptions& o,
                         std::size_t pages_with_data) {
  ASSERT_EQ(m.size(), kMiB);
  const Walk w = WalkRecords(m);
  ASSERT_EQ(w.error, "");
  ASSERT_FALSE(w.stamps.empty());
  EXPECT_EQ(w.stamps.front().offset, 0u) << "the log must open with a time stamp";
  // Generated records never need fillers in front of them (their alignment
  // keeps FF FF off page ends); a full memory pads its last few bytes.
  for (std::size_t f : w.fillers) {
    EXPECT_EQ(pages_with_data, static_cast<std::size_t>(kPageCount)) << "filler at " << f;
    EXPECT_GE(f, kMiB - kSampleBytes) << "filler at " << f;
    EXPECT_EQ(m[f], 0x00);
    EXPECT_EQ(m[f + 1], 0x00);
  }

  // Data reaches into the last page in use and not beyond it.
  EXPECT_GT(w.end, (pages_with_data - 1) * kPage);
  EXPECT_LE(w.end, pages_with_data * kPage);
  EXPECT_TRUE(std::all_of(m.begin() + static_cast<std::ptrdiff_t>(w.end), m.end(), [](uint8_t b) {
    return b == 0xFF;
  })) << "erased tail holds data";
  // Each record took 8 or 12 bytes: roughly 12 bytes a sample.
  EXPECT_GT(w.samples.size(), (pages_with_data - 1) * kPage / 12 * 9 / 10);

  // Reader's stop rule: no page before the last one in use ends in FF FF.
  for (std::size_t p = 0; p + 1 < pages_with_data; ++p) {
    EXPECT_FALSE(PageEndsErased(m, p)) << "page " << p << " would end the download early";
  }

  for (const Stamp& s : w.stamps) {
    EXPECT_EQ(s.yy, 26);
    EXPECT_GE(s.yy, 19);
    ASSERT_GE(s.mo, 1);
    ASSERT_LE(s.mo, 12);
    EXPECT_GE(s.dd, 1);
    EXPECT_LE(s.dd, DaysInMonth(s.yy, s.mo));
    EXPECT_LT(s.hh, 24);
    EXPECT_LT(s.mi, 60);
    EXPECT_LT(s.ss, 60);
  }
  // Time runs forward: a stamp is exactly where the samples since the
  // previous one say (a re-sync), or later (logging was restarted).
  int restarts = 0;
  for (std::size_t k = 1; k < w.stamps.size(); ++k) {
    const std::size_t between = static_cast<std::size_t>(
        std::count_if(w.samples.begin(), w.samples.end(), [&](const Sample& s) {
          return s.offset > w.stamps[k - 1].offset && s.offset < w.stamps[k].offset;
        }));
    const long long expected =
        w.stamps[k - 1].Epoch() + static_cast<long long>(between) * o.interval_s;
    EXPECT_GE(w.stamps[k].Epoch(), expected) << "stamp " << k << " goes back in time";
    if (w.stamps[k].Epoch() > expected) ++restarts;
    EXPECT_LE(between, static_cast<std::size_t>(o.stamp_every));
  }
  EXPECT_GE(restarts, 1) << "one long session is not a believable log";

  double max_mg = 0;
  std::vector<double> mgs;
  for (const Sample& s : w.samples) {
    EXPECT_GE(s.mg, 0.1);
    EXPECT_LE(s.mg, 4095.9);
    ASSERT_TRUE(std::isfinite(s.vm) && std::isfinite(s.rf)) << "at " << s.offset;
    EXPECT_GE(s.vm, 1.0f);
    EXPECT_LE(s.vm, 300.0f);
    EXPECT_GE(s.rf, 0.01f);
    EXPECT_LE(s.rf, 5000.0f);
    max_mg = std::max(max_mg, s.mg);
    mgs.push_back(s.mg);
  }
  std::nth_element(mgs.begin(), mgs.begin() + mgs.size() / 2, mgs.end());
  EXPECT_GT(max_mg, 4 * mgs[mgs.size() / 2]) << "no spikes";
}

TEST(LoggingMemory, DefaultSessionIsBelievableAndEndsOnAnErasedPageEnd) {
  const MemoryOptions o;
  ASSERT_EQ(o.pages, 40);
  const std::vector<uint8_t> m = BuildLoggingMemory(o);
  ExpectBelievableLog(m, o, 40);
  EXPECT_TRUE(PageEndsErased(m, 39));
  EXPECT_EQ(PagesInUse(m), 40);
}

TEST(LoggingMemory, FullMemoryHasNoErasedPageEnd) {
  MemoryOptions o;
  o.pages = kPageCount;
  o.seed = 5;
  const std::vector<uint8_t> m = BuildLoggingMemory(o);
  ExpectBelievableLog(m, o, kPageCount);
  EXPECT_FALSE(PageEndsErased(m, kPageCount - 1));
  EXPECT_EQ(PagesInUse(m), kPageCount);
  // Walking off the end is fine, but nothing in it may be erased.
  EXPECT_EQ(std::count(m.end() - 16, m.end(), 0xFF), 0);
}

TEST(LoggingMemory, OtherSizesIntervalsAndSeeds) {
  for (int pages : {1, 2, 17, 255}) {
    MemoryOptions o;
    o.pages = pages;
    o.seed = 100 + static_cast<uint64_t>(pages);
    o.interval_s = pages % 2 ? 2 : 60;
    o.stamp_every = 25;
    o.min_session_samples = 50;
    o.max_session_samples = 400;
    const std::vector<uint8_t> m = BuildLoggingMemory(o);
    SCOPED_TRACE("pages " + std::to_string(pages));
    if (pages > 1) ExpectBelievableLog(m, o, static_cast<std::size_t>(pages));
    EXPECT_TRUE(PageEndsErased(m, static_cast<std::size_t>(pages) - 1));
    EXPECT_EQ(PagesInUse(m), pages);
  }
}

TEST(LoggingMemory, EmptyMemoryIsAllErased) {
  MemoryOptions o;
  o.pages = 0;
  const std::vector<uint8_t> m = BuildLoggingMemory(o);
  ASSERT_EQ(m.size(), kMiB);
  EXPECT_EQ(std::count(m.begin(), m.end(), 0xFF), static_cast<std::ptrdiff_t>(kMiB));
  EXPECT_EQ(PagesInUse(m), 0);
}

TEST(LoggingMemory, IsDeterministicPerSeed) {
  MemoryOptions a;
  a.pages = 8;
  MemoryOptions b = a;
  b.seed = a.seed + 1;
  EXPECT_EQ(BuildLoggingMemory(a), BuildLoggingMemory(a));
  EXPECT_NE(BuildLoggingMemory(a), BuildLoggingMemory(b));
  // The start time is written as given.
  a.start = {2026, 7, 4, 23, 59, 30};
  const std::vector<uint8_t> m = BuildLoggingMemory(a);
  EXPECT_EQ(std::vector<uint8_t>(m.begin(), m.begin() + 8),
            (std::vector<uint8_t>{0x55, 0xAA, 26, 7, 4, 23, 59, 30}));
}

TEST(Records, EncodeFieldsInTheirByteOrders) {
  EXPECT_EQ(EncodeTimeStamp({2026, 12, 31, 23, 5, 9}),
            (std::array<uint8_t, 8>{0x55, 0xAA, 26, 12, 31, 23, 5, 9}));
  EXPECT_EQ(EncodeMagnetic(12.3), (12 << 4) | 3);
  EXPECT_EQ(EncodeMagnetic(0.04), 0);
  EXPECT_EQ(EncodeMagnetic(0.96), (1 << 4) | 0);  // rounds up into the next whole
  EXPECT_EQ(EncodeMagnetic(99999.0), (4095 << 4) | 9);
  EXPECT_EQ(EncodeMagnetic(-3.0), 0);

  const auto r = EncodeSample(300.7, 1.0f, -2.0f);
  EXPECT_EQ(r[0], 0xAA);
  EXPECT_EQ(r[1], 0x55);
  EXPECT_EQ(r[2], (300 << 4) >> 8);  // most significant byte first
  EXPECT_EQ(r[3], ((300 << 4) | 7) & 0xFF);
  // 1.0f = 0x3F800000, least significant byte first.
  EXPECT_EQ((std::vector<uint8_t>(r.begin() + 4, r.begin() + 8)),
            (std::vector<uint8_t>{0x00, 0x00, 0x80, 0x3F}));
  // -2.0f = 0xC0000000.
  EXPECT_EQ((std::vector<uint8_t>(r.begin() + 8, r.end())),
            (std::vector<uint8_t>{0x00, 0x00, 0x00, 0xC0}));
}

std::vector<uint8_t> Stamp8() { return {0x55, 0xAA, 26, 1, 2, 3, 4, 5}; }

TEST(MemoryWriter, InsertsFillersSoNoPageEndsInFFFF) {
  MemoryWriter w(2 * kPage);
  const std::vector<uint8_t> odd_pair = {0x00, 0x00};
  ASSERT_TRUE(w.Append(odd_pair));  // shift alignment by two bytes
  while (w.Offset() + 8 <= kPage - 6) ASSERT_TRUE(w.Append(Stamp8()));
  ASSERT_EQ(w.Offset(), kPage - 6);

  // E = 10.06 has the bit pattern 0x4120FFFF: its low bytes are FF FF and
  // would land on the page's last pair.
  const auto sample = EncodeSample(1.0, std::bit_cast<float>(0x4120FFFFu), 1.0f);
  ASSERT_EQ(sample[4], 0xFF);
  ASSERT_EQ(sample[5], 0xFF);
  ASSERT_TRUE(w.Append(sample));
  EXPECT_EQ(w.Fillers(), 1u);
  const auto& m = w.Image();
  EXPECT_EQ(m[kPage - 6], 0x00);
  EXPECT_EQ(m[kPage - 5], 0x00);
  EXPECT_TRUE(std::equal(sample.begin(), sample.end(), m.begin() + kPage - 4));
  EXPECT_FALSE(m[kPage - 2] == 0xFF && m[kPage - 1] == 0xFF);
  EXPECT_EQ(w.Offset(), kPage - 4 + 12);
}

TEST(MemoryWriter, KeepsShiftingUntilThePageEndIsSafe) {
  MemoryWriter w(2 * kPage);
  while (w.Offset() + 8 <= kPage - 8) ASSERT_TRUE(w.Append(Stamp8()));
  ASSERT_EQ(w.Offset(), kPage - 8);
  const std::vector<uint8_t> all_ff(12, 0xFF);  // FF FF wherever it lands
  ASSERT_TRUE(w.Append(all_ff));
  EXPECT_EQ(w.Fillers(), 4u);  // only a position past the page end is safe
  const auto& m = w.Image();
  EXPECT_EQ(m[kPage - 2], 0x00);
  EXPECT_EQ(m[kPage - 1], 0x00);
  EXPECT_EQ(m[kPage], 0xFF);
  EXPECT_EQ(w.Offset(), kPage + 12);
}

TEST(MemoryWriter, RefusesRecordsBeyondTheLimitAndPads) {
  MemoryWriter w(20);
  EXPECT_TRUE(w.Append(EncodeSample(1, 2, 3)));
  EXPECT_FALSE(w.Append(EncodeSample(1, 2, 3)));  // 24 > 20
  EXPECT_EQ(w.Offset(), 12u);
  EXPECT_TRUE(w.Append(Stamp8()));  // exactly fits
  EXPECT_FALSE(w.Append(std::vector<uint8_t>{0x01, 0x02}));
  MemoryWriter p(16);
  ASSERT_TRUE(p.Append(EncodeSample(1, 2, 3)));
  p.PadToLimit();
  EXPECT_EQ(p.Offset(), 16u);
  EXPECT_EQ(p.Image()[12], 0x00);
  EXPECT_EQ(p.Image()[15], 0x00);
  EXPECT_EQ(p.Image()[16], 0xFF);
}

class MemoryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("meter_sim_mem_" + std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                .string();
  }
  void TearDown() override { std::filesystem::remove(path_); }
  void WriteFile(const std::vector<uint8_t>& data) {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
  }
  std::string path_;
};

TEST_F(MemoryFile, ShortFilesArePaddedAsErased) {
  WriteFile({1, 2, 3, 4, 5});
  const std::vector<uint8_t> m = LoadLoggingMemory(path_);
  ASSERT_EQ(m.size(), kMiB);
  EXPECT_EQ((std::vector<uint8_t>(m.begin(), m.begin() + 5)),
            (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(std::count(m.begin() + 5, m.end(), 0xFF), static_cast<std::ptrdiff_t>(kMiB - 5));
}

TEST_F(MemoryFile, FullSizeFilesLoadAsTheyAre) {
  MemoryOptions o;
  o.pages = 3;
  const std::vector<uint8_t> image = BuildLoggingMemory(o);
  WriteFile(image);
  EXPECT_EQ(LoadLoggingMemory(path_), image);
}

TEST_F(MemoryFile, OversizedOrMissingFilesAreRejected) {
  WriteFile(std::vector<uint8_t>(kMiB + 1, 0));
  EXPECT_THROW(LoadLoggingMemory(path_), std::runtime_error);
  std::filesystem::remove(path_);
  EXPECT_THROW(LoadLoggingMemory(path_), std::runtime_error);
}

}  // namespace
}  // namespace meter_sim
