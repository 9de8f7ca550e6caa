// The one place for requests and replies, through its three users, against meters that answer
// every request with the right bytes but at any pace, and against meters that do not. Whatever
// the timing, a history page, a screenshot or a mirrored frame is a whole reply to its own
// request or nothing: never the tail of one reply joined to the head of another.

#include <gtest/gtest.h>

#include "history/history_reader.h"
#include "screen/lcd_page_image.h"
#include "screen/screenshot_transfer.h"
#include "support/clocked_meter.h"

namespace {

constexpr std::size_t kPage = kHistoryPageSize, kPages = 3;

// Bytes that differ from reply to reply and hold the end marker here and there, so that a join
// could end on one.
std::string Pattern(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i % 97 == 40 ? 0xAA : (seed * 31 + i * 7) % 251);
  return bytes;
}
std::string MemoryPage(std::size_t n) {
  return n + 1 < kPages ? Pattern(kPage, static_cast<int>(n)) : Pattern(kPage - 2, 9) + "\xFF\xFF";
}
const std::string kInfo{"\x14\x07\x7D\x03\x00\x2D\xAA", 7};
// Bytes 823 and 1017 are the end marker too: 1018 bytes of it after a 7-byte information reply
// make 1025 bytes ending in one.
const std::string kImage = Pattern(1017, 5) + '\xAA' + Pattern(6, 6);
std::string ScreenFrame(int request) { return Pattern(1024, request) + '\xAA'; }

// The meter: pages, the screenshot in slot 2, and a new display at every request.
std::string Answer(const std::string& frame, int request) {
  if (frame.rfind("<SPIR", 0) == 0)
    return MemoryPage((static_cast<std::uint8_t>(frame[5]) << 4) |
                      (static_cast<std::uint8_t>(frame[6]) >> 4));
  if (frame == "<GETSSN2>>") return kInfo;
  if (frame == "<GETSS2>>") return kImage + '\xAA';
  return ScreenFrame(request);
}

struct Case {
  const char* name;
  MeterTiming timing;
  bool honest;          // the right bytes to every request, only their timing varies
  bool inTime = false;  // and within every window
};

MeterTiming Paced(double latencyMs) { return MeterTiming{.latencyMs = latencyMs}; }
MeterTiming Pieces(double latencyMs, std::size_t piece, int pauseMs, bool afterLast = false) {
  return {.latencyMs = latencyMs, .piece = piece, .pauseMs = pauseMs, .pauseAfterLast = afterLast};
}

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {"InTime", Paced(5), true, true},
      {"AtOnce", {.latencyMs = 0, .paced = false}, true, true},
      {"Late150", Paced(150), true, true},
      {"Late246", Paced(246), true},
      {"Late700", Paced(700), true},
      {"Late1500", Paced(1500), true},
      {"Late3000", Paced(3000), true},
      {"HalvesWith400msBetween", Pieces(100, 2048, 400), true},
      {"PiecesOf206With218msBetween", Pieces(190, 206, 218), true},
      {"SlowPiecesOf1000With300msBetween", Pieces(5, 1000, 300), true},
      {"PausesOf1000msAfterEveryPiece", Pieces(5, 1500, 1000, true), true},
      {"LateInPiecesOf1018", Pieces(700, 1018, 500), true},
      {"PausesOf1000msLate", Pieces(2000, 2500, 1000), true},
      {"Short", {.cut = 1}, false},
      {"ShortAndLate", {.latencyMs = 700, .cut = 1}, false},
      {"FirstAndThirdRequestsLost", {.lost = [](int n) { return n == 1 || n == 3; }}, false},
      {"DiesMidReply", {.dieAtMs = 800}, false},
  };
  // Six bytes of junk and a page whose 4096th byte, junk included, comes just before the end of
  // the window (at 243.6 ms late), or just after.
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (int us = 243400; us <= 243800; us += 50) n.push_back("JunkAt" + std::to_string(us) + "us");
    return n;
  }();
  for (int i = 0; i < static_cast<int>(names.size()); ++i)
    cases.push_back({names[i].c_str(), {.latencyMs = 243.4 + i * 0.05, .junk = 6}, false});
  cases.push_back({"JunkInTime", {.junk = 6}, false});
  return cases;
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Timing : public testing::TestWithParam<Case> {
 protected:
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
  // Ticks of 500 ms for 30 s; each capture asks only while the line is quiet.
  int shown = 0;
  for (int tick = 0; tick < 60; ++tick) {
    if (meter.NowMs() < tick * 500L) meter.Sleep(static_cast<int>(tick * 500L - meter.NowMs()));
    const std::uint64_t connection = line.Connection();
    if (connection == 0 || !line.Quiet()) continue;
    const ExchangeResult r = line.Exchange(connection, "<GETSCREEN>>", kGetScreenRule);
    if (r.end != ExchangeEnd::kReply) meter.Sleep(300);
    line.ReadAll();
    if (r.end != ExchangeEnd::kReply) continue;
    ++shown;
    // Replies come in turn: the n-th whole one answers the n-th request.
    bool sent = false;
    for (int n = 1; n <= static_cast<int>(meter.writes.size()); ++n)
      sent = sent || r.reply == ScreenFrame(n);
    EXPECT_TRUE(sent) << "a frame no reply held, at " << meter.NowMs() << " ms";
  }
  // A meter in time is mirrored at every tick.
  EXPECT_TRUE(!GetParam().inTime || shown == 60) << shown;
}

}  // namespace
