#include "history/history_reader.h"

#include <algorithm>
#include <optional>
#include <string>

#include "link/command_frame.h"

namespace {

// Copying a page is quick, but the reading runs on a cooperative thread: give way regularly so
// the window stays responsive.
constexpr std::size_t kYieldEveryBytes = 256;
// A request whose reply never falls quiet (a line full of noise) is given up after this long.
constexpr int kAttemptLimitMs = 4 * kPageAnswerMs;

enum class Outcome { kPage, kWrong, kNothing, kClosed };

struct Attempt {
  Outcome outcome = Outcome::kClosed;
  std::string reply;
  int elapsedMs = 0;    // from the write to the end of the attempt
  int firstByteMs = 0;  // from the write to the first look that found bytes
};

struct PageResult {
  std::string page;                    // empty when no page was read
  std::optional<HistoryReadEnd> stop;  // set when the reading ends here
};

// The meter keeps no identity in its replies, and a slow one answers every request it got, in
// turn. So a reply that completes after the window is still taken for the page it answers, a
// request goes out again only once the line says that the last one was answered or lost, and
// a page that needed several requests waits out their answers before the next page is asked
// for: otherwise a whole answer for one page lands in the next page's window.
class PageReader {
 public:
  PageReader(fw::SerialLine& line, const HistoryReaderHooks& hooks) : line_(line), hooks_(hooks) {}

  bool Closed() const { return hooks_.lineClosed && hooks_.lineClosed(); }

  PageResult Read(std::uint32_t address) {
    const std::string frame = SpirFrame(address);
    int sinceFirstWrite = 0;
    for (int attempt = 1; attempt <= kMaxPageAttempts; ++attempt) {
      Attempt a = Request(frame);
      if (a.outcome == Outcome::kClosed) return {{}, HistoryReadEnd::kLineClosed};
      if (a.outcome == Outcome::kPage) {
        PageResult result{std::move(a.reply), std::nullopt};
        // A meter answers in turn, each answer after about as long as this one took.
        const int latency = sinceFirstWrite + a.firstByteMs;
        if (attempt > 1 && !Settle(std::max(kPageAnswerMs, latency + kPageQuietMs))) {
          result.stop = Closed() ? HistoryReadEnd::kLineClosed : HistoryReadEnd::kMeterSilent;
        }
        return result;
      }
      sinceFirstWrite += a.elapsedMs;
    }
    return {{}, HistoryReadEnd::kMeterSilent};
  }

 private:
  // Sleeps; false when the line was closed meanwhile.
  bool Wait(int ms) {
    hooks_.sleep(ms);
    return !Closed();
  }

  // One request: drain, write, and collect the reply until it is over.
  Attempt Request(const std::string& frame) {
    Attempt a;
    if (Closed()) return a;
    line_.ReadAll();  // leftovers of earlier traffic
    line_.Write(frame);
    if (!Wait(kPageWindowMs)) return a;
    a.elapsedMs = kPageWindowMs;
    a.firstByteMs = kPageWindowMs;
    a.reply = line_.ReadAll();
    // A meter in time: the page as it stands at the end of the window.
    if (a.reply.size() == kHistoryPageSize) {
      a.outcome = Outcome::kPage;
      return a;
    }
    int quietMs = 0;
    for (;;) {
      if (a.reply.empty() && a.elapsedMs >= kPageAnswerMs) {
        a.outcome = Outcome::kNothing;
        return a;
      }
      if ((!a.reply.empty() && quietMs >= kPageQuietMs) || a.elapsedMs >= kAttemptLimitMs) {
        const bool whole = a.reply.size() == kHistoryPageSize && quietMs >= kPageQuietMs;
        a.outcome = whole ? Outcome::kPage : Outcome::kWrong;
        return a;
      }
      if (!Wait(kPagePollMs)) return a;
      a.elapsedMs += kPagePollMs;
      const std::string more = line_.ReadAll();
      if (more.empty()) {
        quietMs += kPagePollMs;
        continue;
      }
      if (a.reply.empty()) a.firstByteMs = a.elapsedMs;
      a.reply += more;
      quietMs = 0;
    }
  }

  // Throws away what arrives until the line has been quiet for `quietMs`; false when the line
  // was closed or never fell quiet.
  bool Settle(int quietMs) {
    int quiet = 0;
    for (int waited = 0; quiet < quietMs; waited += kPagePollMs) {
      if (waited >= kMaxPageAttempts * kAttemptLimitMs || !Wait(kPagePollMs)) return false;
      quiet = line_.ReadAll().empty() ? quiet + kPagePollMs : 0;
    }
    return true;
  }

  fw::SerialLine& line_;
  const HistoryReaderHooks& hooks_;
};

void Yield(const HistoryReaderHooks& hooks) {
  if (hooks.yield) hooks.yield();
}

}  // namespace

HistoryImage ReadHistoryImage(fw::SerialLine& line, const HistoryReaderHooks& hooks) {
  HistoryImage image{std::vector<std::uint8_t>(kHistoryImageSize, 0), 0, HistoryReadEnd::kDone};
  PageReader reader(line, hooks);

  std::size_t address = 0;
  while (address <= kLastHistoryPage) {
    if (hooks.setProgress) hooks.setProgress(static_cast<std::int64_t>(address + kHistoryPageSize));

    const PageResult result = reader.Read(static_cast<std::uint32_t>(address));
    if (result.page.empty()) {
      image.end = *result.stop;
      break;
    }
    const std::string& page = result.page;
    for (std::size_t offset = 0; offset < kHistoryPageSize; offset += kYieldEveryBytes) {
      std::copy_n(page.begin() + static_cast<std::ptrdiff_t>(offset), kYieldEveryBytes,
                  image.bytes.begin() + static_cast<std::ptrdiff_t>(address + offset));
      Yield(hooks);
    }
    address += kHistoryPageSize;
    if (result.stop) {
      image.end = *result.stop;
      break;
    }

    // The logger fills memory from the start; erased flash reads FF, so a page whose last two
    // bytes are FF FF is where the records end.
    const bool saveRequested = hooks.saveRequested && hooks.saveRequested();
    const bool erasedTail = static_cast<std::uint8_t>(page[kHistoryPageSize - 1]) == 0xFF &&
                            static_cast<std::uint8_t>(page[kHistoryPageSize - 2]) == 0xFF;
    if (saveRequested || erasedTail) break;
    Yield(hooks);
  }
  image.readLength = address;
  return image;
}
