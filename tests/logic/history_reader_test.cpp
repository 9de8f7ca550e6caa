#include "history/history_reader.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/format.h"
#include "link/command_frame.h"
#include "support/scripted_line.h"

namespace {

constexpr std::size_t kPage = kHistoryPageSize;

// Page content that differs from page to page and never ends in FF FF.
std::string LoggedPage(std::size_t address) {
  std::string page(kPage, '\0');
  for (std::size_t i = 0; i < kPage; ++i)
    page[i] = static_cast<char>((address / kPage * 7 + i) % 251);
  page[kPage - 2] = '\x12';
  page[kPage - 1] = '\x34';
  return page;
}

std::string WithEnd(std::string page, char beforeLast, char last) {
  page[kPage - 2] = beforeLast;
  page[kPage - 1] = last;
  return page;
}

std::size_t AddressOf(const std::string& spirFrame) {
  return (static_cast<std::size_t>(static_cast<std::uint8_t>(spirFrame[5])) << 16) |
         (static_cast<std::size_t>(static_cast<std::uint8_t>(spirFrame[6])) << 8) |
         static_cast<std::uint8_t>(spirFrame[7]);
}

bool ImageHoldsPages(const HistoryImage& image, std::size_t pages) {
  for (std::size_t p = 0; p < pages; ++p) {
    const std::string expected = LoggedPage(p * kPage);
    if (!std::equal(expected.begin(), expected.end() - 2,
                    reinterpret_cast<const char*>(image.bytes.data()) + p * kPage)) {
      return false;
    }
  }
  return true;
}

bool ZeroFrom(const HistoryImage& image, std::size_t offset) {
  for (std::size_t i = offset; i < image.bytes.size(); ++i) {
    if (image.bytes[i] != 0) return false;
  }
  return true;
}

class HistoryReaderTest : public ::testing::Test {
 protected:
  HistoryReaderTest() {
    hooks_.setProgress = [this](std::int64_t bytes) { progress_.push_back(bytes); };
    hooks_.saveRequested = [this] { return saveAt_ > 0 && Progress() >= saveAt_; };
    hooks_.sleep = [this](int ms) { sleeps_.push_back(ms); };
    hooks_.yield = [this] { ++yields_; };
  }

  std::int64_t Progress() const { return progress_.empty() ? 0 : progress_.back(); }

  // The meter answers every page, with the page from `pageFor`, until `silentFrom` (an address).
  void MeterAnswers(std::function<std::string(std::size_t)> pageFor,
                    std::size_t silentFrom = kHistoryImageSize) {
    line_.Respond([this, pageFor, silentFrom](const std::string& frame) {
      progressAtWrite_.push_back(Progress());
      const std::size_t address = AddressOf(frame);
      if (address >= silentFrom) return std::vector<std::string>{};
      return std::vector<std::string>{pageFor(address)};
    });
  }

  HistoryImage Read() { return ReadHistoryImage(line_, hooks_); }

  ScriptedLine line_;
  HistoryReaderHooks hooks_;
  std::vector<std::int64_t> progress_;
  std::vector<std::int64_t> progressAtWrite_;
  std::vector<int> sleeps_;
  std::int64_t saveAt_ = 0;  // Save is pressed once progress reaches this
  int yields_ = 0;
};

TEST_F(HistoryReaderTest, ReadsAllPagesOfAMemoryNeverErased) {
  MeterAnswers(LoggedPage);
  const HistoryImage image = Read();
  EXPECT_EQ(image.readLength, kHistoryImageSize);
  EXPECT_FALSE(image.meterStoppedAnswering);
  ASSERT_EQ(image.bytes.size(), kHistoryImageSize);
  ASSERT_EQ(line_.Writes().size(), 256u);
  EXPECT_EQ(line_.Writes().front(), SpirFrame(0));
  EXPECT_EQ(fw::EncodeHex(line_.Writes().back(), true), "3C 53 50 49 52 0F F0 00 10 00 3E 3E");
  for (std::size_t n = 0; n < 256; ++n) EXPECT_EQ(AddressOf(line_.Writes()[n]), n * kPage);
  EXPECT_TRUE(ImageHoldsPages(image, 256));
  EXPECT_EQ(sleeps_, std::vector<int>(256, 600));
  // The copy gives way regularly, not only between pages.
  EXPECT_GE(yields_, 256 * 16);
}

TEST_F(HistoryReaderTest, ReportsProgressBeforeEachPageIsRequested) {
  MeterAnswers(LoggedPage);
  Read();
  ASSERT_EQ(progress_.size(), 256u);
  ASSERT_EQ(progressAtWrite_.size(), 256u);
  for (std::size_t n = 0; n < 256; ++n) {
    EXPECT_EQ(progress_[n], static_cast<std::int64_t>((n + 1) * kPage));
    EXPECT_EQ(progressAtWrite_[n], static_cast<std::int64_t>((n + 1) * kPage));
  }
}

TEST_F(HistoryReaderTest, StopsAfterAPageEndingInErasedBytes) {
  MeterAnswers([](std::size_t address) {
    return address == 2 * kPage ? WithEnd(LoggedPage(address), '\xFF', '\xFF')
                                : LoggedPage(address);
  });
  const HistoryImage image = Read();
  EXPECT_EQ(image.readLength, 3 * kPage);
  EXPECT_FALSE(image.meterStoppedAnswering);
  EXPECT_EQ(line_.Writes().size(), 3u);
  EXPECT_TRUE(ImageHoldsPages(image, 2));
  EXPECT_EQ(image.bytes[3 * kPage - 1], 0xFF);
  EXPECT_TRUE(ZeroFrom(image, 3 * kPage));
}

TEST_F(HistoryReaderTest, OnlyFfFfAtThePageEndStopsTheReading) {
  MeterAnswers([](std::size_t address) {
    std::string page = LoggedPage(address);
    switch (address / kPage) {
      case 0:
        return WithEnd(page, '\xFF', '\x00');
      case 1:
        return WithEnd(page, '\x00', '\xFF');
      case 2:
        page[0] = page[1] = '\xFF';  // FF FF at the start
        return page;
      case 3:
        page[kPage - 3] = page[kPage - 2] = '\xFF';  // FF FF ending one byte early
        return page;
      case 4:
        return WithEnd(page, '\xFF', '\xFF');
      default:
        return page;
    }
  });
  const HistoryImage image = Read();
  EXPECT_EQ(image.readLength, 5 * kPage);
  EXPECT_EQ(line_.Writes().size(), 5u);
}

TEST_F(HistoryReaderTest, SaveEndsTheReadingAfterTheCurrentPage) {
  for (std::size_t n : {0u, 4u, 255u}) {
    SCOPED_TRACE(n);
    line_ = ScriptedLine();
    progress_.clear();
    MeterAnswers(LoggedPage);
    saveAt_ = static_cast<std::int64_t>((n + 1) * kPage);
    const HistoryImage image = Read();
    EXPECT_EQ(image.readLength, (n + 1) * kPage);
    EXPECT_FALSE(image.meterStoppedAnswering);
    EXPECT_EQ(line_.Writes().size(), n + 1);
    EXPECT_TRUE(ImageHoldsPages(image, n + 1));
  }
}

TEST_F(HistoryReaderTest, RetriesAPageWithTheSameFrameUntilTheLengthIsExact) {
  line_.Answer({LoggedPage(0)});
  line_.Answer({LoggedPage(kPage).substr(0, kPage - 1)});  // 4095 bytes
  line_.Answer({LoggedPage(kPage) + "X"});                 // 4097 bytes
  line_.Answer({WithEnd(LoggedPage(kPage), '\xFF', '\xFF')});
  const HistoryImage image = Read();
  EXPECT_EQ(image.readLength, 2 * kPage);
  EXPECT_FALSE(image.meterStoppedAnswering);
  EXPECT_EQ(line_.Writes(), (std::vector<std::string>{SpirFrame(0), SpirFrame(kPage),
                                                      SpirFrame(kPage), SpirFrame(kPage)}));
  EXPECT_EQ(line_.Trace(), "RWRRWRRWRRWR");
  EXPECT_TRUE(ImageHoldsPages(image, 1));
  // A retried page reports its progress once.
  EXPECT_EQ(progress_, (std::vector<std::int64_t>{4096, 8192}));
}

TEST_F(HistoryReaderTest, ASilentMeterEndsTheReadingWithThePagesAlreadyRead) {
  MeterAnswers(LoggedPage, 3 * kPage);
  const HistoryImage image = Read();
  EXPECT_TRUE(image.meterStoppedAnswering);
  EXPECT_EQ(image.readLength, 3 * kPage);
  EXPECT_EQ(line_.Writes().size(), 3u + kMaxPageAttempts);
  EXPECT_EQ(line_.Writes().back(), SpirFrame(3 * kPage));
  EXPECT_TRUE(ImageHoldsPages(image, 3));
  EXPECT_TRUE(ZeroFrom(image, 3 * kPage));
}

TEST_F(HistoryReaderTest, ASilentMeterEndsTheReadingAfterSaveToo) {
  MeterAnswers(LoggedPage, 3 * kPage);
  saveAt_ = 4 * kPage;  // pressed while page 3 is being asked for in vain
  const HistoryImage image = Read();
  EXPECT_TRUE(image.meterStoppedAnswering);
  EXPECT_EQ(image.readLength, 3 * kPage);
  EXPECT_EQ(line_.Writes().size(), 3u + kMaxPageAttempts);
}

TEST_F(HistoryReaderTest, AMeterSilentFromTheStartGivesAnEmptyImage) {
  const HistoryImage image = Read();
  EXPECT_TRUE(image.meterStoppedAnswering);
  EXPECT_EQ(image.readLength, 0u);
  EXPECT_EQ(image.bytes.size(), kHistoryImageSize);
  EXPECT_TRUE(ZeroFrom(image, 0));
  EXPECT_EQ(progress_, std::vector<std::int64_t>{4096});
}

TEST_F(HistoryReaderTest, OptionalHooksMayBeLeftEmpty) {
  MeterAnswers([](std::size_t address) {
    return address == kPage ? WithEnd(LoggedPage(address), '\xFF', '\xFF') : LoggedPage(address);
  });
  HistoryReaderHooks onlySleep;
  onlySleep.sleep = [](int) {};
  const HistoryImage image = ReadHistoryImage(line_, onlySleep);
  EXPECT_EQ(image.readLength, 2 * kPage);
}

}  // namespace
