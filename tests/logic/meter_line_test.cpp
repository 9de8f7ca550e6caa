// The one place for requests and replies, through its three users, against meters that answer
// every request with the right bytes but at any pace, and against meters that do not. Whatever
// the timing, a history page, a screenshot or a mirrored frame is a whole reply to its own
// request or nothing: never the tail of one reply joined to the head of another.

#include <gtest/gtest.h>

#include "history/history_reader.h"
#include "screen/screenshot_transfer.h"
#include "support/meter_timings.h"

namespace meter_timings {
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
}  // namespace meter_timings

namespace {

using namespace meter_timings;

class Timing : public testing::TestWithParam<Case> {
 protected:
  fw::ProgramLockHolder lock;  // the transfers are program code
  ClockedMeter meter{GetParam().timing, Answer};
  MeterLine line = meter.Line();
};
INSTANTIATE_TEST_SUITE_P(Meters, Timing, testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST_P(Timing, HistoryIsExactOrAnExactPartWithTheReasonWhy) {
  const HistoryImage image = ReadHistoryImage(line, {});
  std::string expected;
  for (std::size_t n = 0; n < kPages; ++n) expected += MemoryPage(n);
  expected.resize(image.readLength);
  expected.resize(kHistoryImageSize);
  EXPECT_TRUE(std::string(image.bytes.begin(), image.bytes.end()) == expected);
  if (GetParam().honest) {
    EXPECT_EQ(std::tuple(image.end, image.readLength, meter.writes.size()),
              std::tuple(HistoryReadEnd::kDone, kPages * kPage, kPages));
    // A meter in time costs each page its 600 ms and nothing more.
    EXPECT_TRUE(!GetParam().inTime || meter.NowMs() == 600 * kPages) << meter.NowMs();
  } else {
    EXPECT_EQ(image.end == HistoryReadEnd::kDone, image.readLength == kPages * kPage);
  }
}

TEST_P(Timing, AScreenshotIsTheStoredOneOrNone) {
  const ScreenshotFetch fetch = FetchScreenshot(line, 2);
  EXPECT_TRUE(fetch.info.empty() || fetch.info == kInfo);
  EXPECT_EQ(fetch.image, fetch.outcome == ScreenshotFetch::Outcome::kImage ? kImage : "");
  // The image is asked for after the information, and, for a meter in time, at once.
  EXPECT_TRUE(std::ranges::is_partitioned(meter.writes, [](auto& f) { return f == "<GETSSN2>>"; }));
  if (GetParam().inTime) {
    EXPECT_EQ(std::tuple(fetch.outcome, meter.NowMs()),
              std::tuple(ScreenshotFetch::Outcome::kImage, 1500));
  }
}

TEST_P(Timing, TheMirrorShowsOnlyFramesTheMeterSent) {
  const MirrorSeen seen = Mirror(meter, line, 60);
  EXPECT_EQ(seen.strange, 0) << "frames no reply held";
  // A meter in time is mirrored at every tick.
  EXPECT_TRUE(!GetParam().inTime || seen.shown == 60) << seen.shown;
}

}  // namespace
