#include "history/history_reader.h"

#include <stdexcept>

#include <gtest/gtest.h>

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
    hooks_.sleep = [this](int ms) {
      if (++sleeps_ > 100000) throw std::runtime_error("endless retries");
      if (meter_) meter_->Sleep(ms);
    };
    hooks_.lineClosed = [this] { return closed_; };
    hooks_.yield = [this] { ++yields_; };
  }

  // A meter answering each page request with `pageFor` ("": never), `latencyMs` late, each
  // reply taking `replyMs`; requests (counted from 1) that `lost` names never reach it.
  SlowMeterLine& Meter(const PageFor& pageFor, int latencyMs = 0, int replyMs = 0,
                       std::function<bool(int)> lost = {}) {
    progress_.clear();
    closed_ = false;
    meter_ = std::make_unique<SlowMeterLine>(
        latencyMs, replyMs, [=, this, n = 0](const std::string& frame) mutable {
          progressAtWrite_.push_back(progress_.empty() ? 0 : progress_.back());
          closed_ = meter_->Writes().size() == closeAtWrite_;
          if (lost && lost(++n)) return std::string();
          return pageFor(static_cast<std::uint8_t>(frame[5]) << 16 |
                         static_cast<std::uint8_t>(frame[6]) << 8);
        });
    return *meter_;
  }
  // `pages` logged pages, the last ending in FF FF; silent beyond `silentFrom`.
  static PageFor Memory(std::size_t pages, std::size_t silentFrom = kHistoryImageSize) {
    return [=](std::size_t address) {
      std::string page = address < silentFrom ? LoggedPage(address) : "";
      if (address / kPage == pages - 1) page.replace(kPage - 2, 2, "\xFF\xFF");
      return page;
    };
  }

  ScriptedLine line_;
  std::unique_ptr<SlowMeterLine> meter_;
  bool closed_ = false;
  std::size_t closeAtWrite_ = 0;  // the line is closed as this request goes out
  HistoryReaderHooks hooks_;
  std::vector<std::int64_t> progress_, progressAtWrite_;
  std::int64_t saveAt_ = 0;  // Save is pressed once progress reaches this
  int sleeps_ = 0, yields_ = 0;
};

TEST_F(HistoryReaderTest, AsksForEachPageInTurnAndReportsItsProgressFirst) {
  // The whole memory; each page is asked for while the progress, reported once, already shows it.
  const bool whole = ReadHistoryImage(Meter(LoggedPage), hooks_).bytes == Expected(LoggedPage, 256);
  std::vector<std::int64_t> expected;
  for (std::int64_t n = 1; n <= 256; ++n) expected.push_back(n * 4096);
  EXPECT_EQ(std::tuple(whole, meter_->Writes().size(), progressAtWrite_, progress_),
            std::tuple(true, 256u, expected, expected));
  EXPECT_GE(yields_, 256 * 16);  // the copy gives way regularly, not only between pages
}

// Only FF FF at the page end stops the reading; optional hooks may be left empty.
TEST_F(HistoryReaderTest, EndsAfterAnErasedPageOnSaveOrASilentMeterKeepingThePagesRead) {
  const PageFor marks = [](std::size_t address) {
    const std::size_t n = address / kPage, at[] = {kPage - 2, kPage - 2, 0, kPage - 3, kPage - 2};
    const char* mark[] = {"\xFF", "\x00\xFF", "\xFF\xFF", "\xFF\xFF", "\xFF\xFF"};
    return n < 5 ? LoggedPage(address).replace(at[n], 2, std::string(mark[n], 2))
                 : LoggedPage(address);
  };
  HistoryReaderHooks onlySleep;
  onlySleep.sleep = hooks_.sleep;
  HistoryImage image = ReadHistoryImage(Meter(marks), onlySleep);
  EXPECT_TRUE(image.readLength == 5 * kPage && image.bytes == Expected(marks, 5));
  // Save pressed while a page is asked for in vain does not cut its attempts short.
  const struct {
    std::size_t silentFrom;
    std::int64_t saveAt;
    std::size_t pages, writes;
  } cases[] = {{kHistoryImageSize, 4096, 1, 1},
               {3 * kPage, 0, 3, 3 + kMaxPageAttempts},
               {3 * kPage, 4 * 4096, 3, 3 + kMaxPageAttempts},
               {0, 0, 0, kMaxPageAttempts}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saveAt + c.silentFrom);
    saveAt_ = c.saveAt;
    image = ReadHistoryImage(Meter(Memory(0, c.silentFrom)), hooks_);
    const auto end =
        c.silentFrom < kHistoryImageSize ? HistoryReadEnd::kMeterSilent : HistoryReadEnd::kDone;
    EXPECT_EQ(std::tuple(image.readLength, image.end, meter_->Writes().size()),
              std::tuple(c.pages * kPage, end, c.writes));
    EXPECT_TRUE(image.bytes == Expected(LoggedPage, c.pages));
  }
}

TEST_F(HistoryReaderTest, RetriesAPageWithTheSameFrameUntilTheLengthIsExact) {
  const std::string lastPage = LoggedPage(kPage).replace(kPage - 2, 2, "\xFF\xFF");
  for (const std::string& reply : {LoggedPage(0), lastPage.substr(1), lastPage + "X", lastPage})
    line_.Answer({reply});
  EXPECT_EQ(ReadHistoryImage(line_, hooks_).readLength, 2 * kPage);
  EXPECT_EQ(line_.Writes(), (std::vector<std::string>{SpirFrame(0), SpirFrame(kPage),
                                                      SpirFrame(kPage), SpirFrame(kPage)}));
  // Every request follows a drain, and none goes out while the last reply is still coming.
  const std::string& trace = line_.Trace();
  EXPECT_EQ(trace.find("WW"), std::string::npos);
  for (std::size_t w = trace.find('W'); w != std::string::npos; w = trace.find('W', w + 1))
    EXPECT_EQ(trace[w - 1], 'R');
  // A line that never falls quiet is given up like a silent meter.
  line_ = ScriptedLine();
  line_.Respond([](const std::string&) { return std::vector<std::string>(100000, "noise"); });
  const HistoryReadEnd end = ReadHistoryImage(line_, hooks_).end;
  EXPECT_EQ(std::tuple(end, line_.Writes().size()),
            std::tuple(HistoryReadEnd::kMeterSilent, std::size_t{kMaxPageAttempts}));
}

TEST_F(HistoryReaderTest, ASlowOrLossyMeterGivesTheExactMemoryWithoutNeedlessRequests) {
  // Latency x reply time (0: all at once, 356 ms: a page paced at 115200 baud) x requests lost
  // on the way. A late reply must be taken for the page it answers, never for the next one.
  const std::function<bool(int)> lossy = [](int n) { return n == 2 || n == 5 || n == 6; };
  constexpr std::size_t kPages = 5;
  for (const int latency : {0, 300, 700, 1000, 2000, 6000})
    for (const int replyMs : {0, 356})
      for (const bool losing : {false, true}) {
        SCOPED_TRACE(std::to_string(latency) + "+" + std::to_string(replyMs) + " ms " +
                     (losing ? "lossy" : ""));
        const HistoryImage image = ReadHistoryImage(
            Meter(Memory(kPages), latency, replyMs, losing ? lossy : nullptr), hooks_);
        EXPECT_TRUE(image.end == HistoryReadEnd::kDone && image.readLength == kPages * kPage &&
                    image.bytes == Expected(Memory(kPages), kPages));
        // No request again while the answer may still come; a meter in time costs the
        // window per page and nothing more.
        if (latency + replyMs < kPageAnswerMs) {
          EXPECT_EQ(meter_->Writes().size(), kPages + (losing ? 3 : 0));
        }
        if (latency + replyMs <= kPageWindowMs && !losing) {
          EXPECT_EQ(meter_->Now(), static_cast<long>(kPages * kPageWindowMs));
        }
      }
  // A closed line ends the reading before any further request, in time or late.
  closeAtWrite_ = 3;
  for (const int latency : {0, 1000}) {
    const HistoryImage image = ReadHistoryImage(Meter(Memory(10), latency, 356), hooks_);
    EXPECT_EQ(std::tuple(image.end, image.readLength, meter_->Writes().size()),
              std::tuple(HistoryReadEnd::kLineClosed, 2 * kPage, 3u));
  }
}

}  // namespace
