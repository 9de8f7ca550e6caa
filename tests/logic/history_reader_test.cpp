#include "history/history_reader.h"

#include <gtest/gtest.h>

#include "link/command_frame.h"
#include "support/clocked_meter.h"

namespace {

constexpr std::size_t kPage = kHistoryPageSize;
using PageFor = std::function<std::string(std::size_t address)>;

// Page content that differs from page to page and holds no FF byte.
std::string LoggedPage(std::size_t address) {
  std::string page(kPage, '\0');
  for (std::size_t i = 0; i < kPage; ++i)
    page[i] = static_cast<char>((address / kPage * 7 + i) % 251);
  return page;
}

// The image a reading must give: the first `pages` pages the meter sent, zero after them.
std::vector<std::uint8_t> Expected(const PageFor& pageFor, std::size_t pages) {
  std::string image;
  for (std::size_t p = 0; p < pages; ++p) image += pageFor(p * kPage);
  image.resize(kHistoryImageSize);
  return {image.begin(), image.end()};
}

class HistoryReaderTest : public ::testing::Test {
 protected:
  HistoryReaderTest() {
    hooks_.setProgress = [this](std::int64_t bytes) { progress_.push_back(bytes); };
    hooks_.saveRequested = [this] { return saveAt_ > 0 && progress_.back() >= saveAt_; };
    hooks_.yield = [this] { ++yields_; };
  }
  // Reads from a meter in time that answers each page request with `pageFor` ("": never).
  HistoryImage Read(const PageFor& pageFor, MeterTiming timing = {}) {
    progress_.clear();
    meter_ = std::make_unique<ClockedMeter>(timing, [=, this](const std::string& frame, int) {
      progressAtWrite_.push_back(progress_.empty() ? 0 : progress_.back());
      return pageFor(static_cast<std::uint8_t>(frame[5]) << 16 | static_cast<std::uint8_t>(frame[6])
                                                                     << 8);
    });
    MeterLine line = meter_->Line();
    return ReadHistoryImage(line, hooks_);
  }

  fw::ProgramLockHolder lock_;  // the reading is program code
  std::unique_ptr<ClockedMeter> meter_;
  HistoryReaderHooks hooks_;
  std::vector<std::int64_t> progress_, progressAtWrite_;
  std::int64_t saveAt_ = 0;  // Save is pressed once progress reaches this
  int yields_ = 0;
};

TEST_F(HistoryReaderTest, AsksForEachPageInTurnAndReportsItsProgressFirst) {
  // The whole memory; each page is asked for while the progress, reported once, already shows it.
  const HistoryImage image = Read(LoggedPage);
  std::vector<std::int64_t> expected;
  std::vector<std::string> frames;
  for (std::int64_t n = 1; n <= 256; ++n) {
    expected.push_back(n * 4096);
    frames.push_back(SpirFrame(static_cast<std::uint32_t>((n - 1) * 4096)));
  }
  EXPECT_TRUE(image.end == HistoryReadEnd::kDone && image.bytes == Expected(LoggedPage, 256));
  EXPECT_EQ(std::tuple(meter_->writes, progressAtWrite_, progress_),
            std::tuple(frames, expected, expected));
  EXPECT_GE(yields_, 256 * 16);  // the copy gives way regularly, not only between pages
}

// Only FF FF at the page end stops the reading; hooks may be left empty.
TEST_F(HistoryReaderTest, EndsAfterAnErasedPageOnSaveOrWhenAPageCannotBeHad) {
  const PageFor marks = [](std::size_t address) {
    const std::size_t n = address / kPage, at[] = {kPage - 2, kPage - 2, 0, kPage - 3, kPage - 2};
    const char* mark[] = {"\xFF", "\x00\xFF", "\xFF\xFF", "\xFF\xFF", "\xFF\xFF"};
    return n < 5 ? LoggedPage(address).replace(at[n], 2, std::string(mark[n], 2))
                 : LoggedPage(address);
  };
  const HistoryReaderHooks full = std::exchange(hooks_, {});
  HistoryImage image = Read(marks);
  EXPECT_TRUE(image.readLength == 5 * kPage && image.bytes == Expected(marks, 5));
  hooks_ = full;
  // Save pressed while a page is asked for in vain does not cut its requests short; a silent
  // meter, one whose replies are all cut short, and one that goes away mid-page end the reading
  // with the pages read, each with its reason, and nothing is asked of a meter that has gone.
  const auto silentFrom3 = [](std::size_t a) { return a < 3 * kPage ? LoggedPage(a) : ""; };
  const struct {
    PageFor pageFor;
    MeterTiming timing;
    std::int64_t saveAt;
    std::size_t pages, writes;
    HistoryReadEnd end;
  } cases[] = {{LoggedPage, {}, 4096, 1, 1, HistoryReadEnd::kDone},
               {silentFrom3, {}, 0, 3, 6, HistoryReadEnd::kMeterSilent},
               {silentFrom3, {}, 4 * 4096, 3, 6, HistoryReadEnd::kMeterSilent},
               {LoggedPage, {.cut = 1}, 0, 0, 3, HistoryReadEnd::kRepliesUnusable},
               {LoggedPage, {.dieAtMs = 1000}, 0, 1, 2, HistoryReadEnd::kLineClosed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pages * 10 + c.saveAt);
    saveAt_ = c.saveAt;
    image = Read(c.pageFor, c.timing);
    EXPECT_EQ(std::tuple(image.readLength, image.end, meter_->writes.size()),
              std::tuple(c.pages * kPage, c.end, c.writes));
    EXPECT_TRUE(image.bytes == Expected(LoggedPage, c.pages));
  }
}

}  // namespace
