#include "history/history_reader.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/format.h"
#include "link/command_frame.h"
#include "support/scripted_line.h"

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
  std::vector<std::uint8_t> image(kHistoryImageSize, 0);
  for (std::size_t p = 0; p < pages; ++p) {
    const std::string page = pageFor(p * kPage);
    std::copy(page.begin(), page.end(), image.begin() + static_cast<std::ptrdiff_t>(p * kPage));
  }
  return image;
}

class HistoryReaderTest : public ::testing::Test {
 protected:
  HistoryReaderTest() {
    hooks_.setProgress = [this](std::int64_t bytes) { progress_.push_back(bytes); };
    hooks_.saveRequested = [this] { return saveAt_ > 0 && progress_.back() >= saveAt_; };
    hooks_.sleep = [this](int) {
      if (++sleeps_ > 1000) throw std::runtime_error("endless retries");
    };
    hooks_.yield = [this] { ++yields_; };
  }

  // A fresh line on which the meter answers each page with `pageFor`, up to `silentFrom`.
  void MeterAnswers(const PageFor& pageFor, std::size_t silentFrom = kHistoryImageSize) {
    line_ = ScriptedLine();
    progress_.clear();
    line_.Respond([this, pageFor, silentFrom](const std::string& frame) {
      progressAtWrite_.push_back(progress_.back());
      const std::size_t address = static_cast<std::uint8_t>(frame[5]) << 16 |
                                  static_cast<std::uint8_t>(frame[6]) << 8 |
                                  static_cast<std::uint8_t>(frame[7]);
      if (address >= silentFrom) return std::vector<std::string>{};
      return std::vector<std::string>{pageFor(address)};
    });
  }

  ScriptedLine line_;
  HistoryReaderHooks hooks_;
  std::vector<std::int64_t> progress_;
  std::vector<std::int64_t> progressAtWrite_;
  std::int64_t saveAt_ = 0;  // Save is pressed once progress reaches this
  int sleeps_ = 0;
  int yields_ = 0;
};

TEST_F(HistoryReaderTest, AsksForEachPageInTurnAndReportsItsProgressFirst) {
  MeterAnswers(LoggedPage);
  ReadHistoryImage(line_, hooks_);
  ASSERT_EQ(line_.Writes().size(), 256u);
  EXPECT_EQ(line_.Writes().front(), SpirFrame(0));
  EXPECT_EQ(fw::EncodeHex(line_.Writes().back(), true), "3C 53 50 49 52 0F F0 00 10 00 3E 3E");
  // Page n is asked for while the progress shows n + 1 pages, reported once per page.
  std::vector<std::int64_t> expected;
  for (std::int64_t n = 0; n < 256; ++n) expected.push_back((n + 1) * 4096);
  EXPECT_EQ(progressAtWrite_, expected);
  EXPECT_EQ(progress_, expected);
  EXPECT_GE(yields_, 256 * 16);  // the copy gives way regularly, not only between pages
}

TEST_F(HistoryReaderTest, OnlyFfFfAtThePageEndStopsTheReading) {
  const PageFor pageFor = [](std::size_t address) {
    std::string page = LoggedPage(address);
    const std::size_t n = address / kPage;
    if (n == 0) page.replace(kPage - 2, 2, std::string("\xFF\x00", 2));
    if (n == 1) page.replace(kPage - 2, 2, std::string("\x00\xFF", 2));
    if (n == 2) page.replace(0, 2, "\xFF\xFF");
    if (n == 3) page.replace(kPage - 3, 2, "\xFF\xFF");
    if (n == 4) page.replace(kPage - 2, 2, "\xFF\xFF");
    return page;
  };
  MeterAnswers(pageFor);
  const HistoryImage image = ReadHistoryImage(line_, hooks_);
  EXPECT_EQ(image.readLength, 5 * kPage);
  EXPECT_TRUE(image.bytes == Expected(pageFor, 5));
}

TEST_F(HistoryReaderTest, EndsAfterTheLastPageOnSaveOrASilentMeterKeepingThePagesRead) {
  // Save pressed while a page is asked for in vain does not cut its attempts short.
  const struct {
    std::size_t silentFrom;
    std::int64_t saveAt;
    std::size_t pages;
    std::size_t writes;
  } cases[] = {{kHistoryImageSize, 0, 256, 256},  // never erased
               {kHistoryImageSize, 4096, 1, 1},
               {kHistoryImageSize, 5 * 4096, 5, 5},
               {3 * kPage, 0, 3, 3 + kMaxPageAttempts},
               {3 * kPage, 4 * 4096, 3, 3 + kMaxPageAttempts},
               {0, 0, 0, kMaxPageAttempts}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saveAt + c.silentFrom);
    MeterAnswers(LoggedPage, c.silentFrom);
    saveAt_ = c.saveAt;
    const HistoryImage image = ReadHistoryImage(line_, hooks_);
    EXPECT_EQ(image.readLength, c.pages * kPage);
    EXPECT_EQ(image.meterStoppedAnswering, c.silentFrom < kHistoryImageSize);
    EXPECT_EQ(line_.Writes().size(), c.writes);
    EXPECT_TRUE(image.bytes == Expected(LoggedPage, c.pages));
  }
}

TEST_F(HistoryReaderTest, RetriesAPageWithTheSameFrameUntilTheLengthIsExact) {
  const std::string lastPage = LoggedPage(kPage).replace(kPage - 2, 2, "\xFF\xFF");
  line_.Answer({LoggedPage(0)});
  line_.Answer({lastPage.substr(1)});
  line_.Answer({lastPage + "X"});
  line_.Answer({lastPage});
  const HistoryImage image = ReadHistoryImage(line_, hooks_);
  EXPECT_EQ(image.readLength, 2 * kPage);
  EXPECT_EQ(line_.Writes(), (std::vector<std::string>{SpirFrame(0), SpirFrame(kPage),
                                                      SpirFrame(kPage), SpirFrame(kPage)}));
  EXPECT_EQ(line_.Trace(), "RWRRWRRWRRWR");
  EXPECT_EQ(progress_, (std::vector<std::int64_t>{4096, 8192}));
}

TEST_F(HistoryReaderTest, OptionalHooksMayBeLeftEmpty) {
  line_.Answer({LoggedPage(0)});  // then silence
  HistoryReaderHooks onlySleep;
  onlySleep.sleep = hooks_.sleep;
  EXPECT_EQ(ReadHistoryImage(line_, onlySleep).readLength, kPage);
}

}  // namespace
