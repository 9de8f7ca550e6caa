#include "screen/screenshot_transfer.h"

#include <cstddef>

#include "link/command_frame.h"
#include "link/timed_exchange.h"

namespace {

// A paced line brings about 11 bytes a millisecond; a USB adapter hands them
// over every few milliseconds. Nothing new for this long means a reply that
// was arriving has ended.
constexpr int kQuietGapMs = 20;
// A meter that never stops sending is not waited out for ever.
constexpr int kMaxQuietChecks = 50;

// Throws away what has come in, and waits while more keeps coming: after a
// reply that was cut short by the end of its delay, its tail is still on the
// way even when none of it has come in yet. Returns the bytes thrown away.
std::size_t DrainUntilQuiet(fw::SerialLine& line, const std::function<void(int)>& sleep,
                            bool mayStillArrive) {
  std::size_t drained = line.ReadAll().size();
  bool arriving = mayStillArrive || drained > 0;
  for (int check = 0; arriving && check < kMaxQuietChecks; ++check) {
    sleep(kQuietGapMs);
    const std::size_t more = line.ReadAll().size();
    drained += more;
    arriving = more > 0;
  }
  return drained;
}

struct Exchange {
  bool accepted = false;
  std::string reply;
  int requests = 0;
  std::size_t received = 0;  // bytes that came in after the first request
};

Exchange Run(fw::SerialLine& line, const std::string& frame, const ExchangeRule& rule,
             const std::function<void(int)>& sleep) {
  Exchange exchange;
  bool rejectedBytes = false;  // the last reply was refused but had begun to come
  while (exchange.requests < rule.maxAttempts) {
    const std::size_t drained = DrainUntilQuiet(line, sleep, rejectedBytes);
    if (exchange.requests > 0) exchange.received += drained;
    line.Write(frame);
    ++exchange.requests;
    sleep(rule.delayMs);
    std::string reply = line.ReadAll();
    for (int read = 1; read < rule.reads; ++read) reply += line.ReadAll();
    exchange.received += reply.size();
    if (ReplyFits(reply, rule)) {
      exchange.accepted = true;
      exchange.reply = std::move(reply);
      break;
    }
    rejectedBytes = !reply.empty();
  }
  return exchange;
}

}  // namespace

bool IsEmptyScreenshotSlot(std::uint8_t firstInfoValue) {
  return firstInfoValue < 19 || firstInfoValue == 255;
}

ScreenshotFetch FetchScreenshot(fw::SerialLine& line, int slot,
                                const std::function<void(int ms)>& sleep) {
  ScreenshotFetch fetch;
  const Exchange info = Run(line, ScreenshotInfoFrame(slot), kScreenshotInfoExchange, sleep);
  if (!info.accepted) return fetch;
  fetch.info = info.reply;
  if (IsEmptyScreenshotSlot(static_cast<std::uint8_t>(info.reply[0]))) {
    fetch.outcome = ScreenshotFetch::Outcome::kEmptySlot;
    return fetch;
  }

  // Replies still owed to earlier information requests.
  const std::size_t expected = kScreenshotInfoExchange.length * info.requests;
  std::size_t received = info.received;
  for (int wait = 1; wait < info.requests && received < expected; ++wait) {
    sleep(kScreenshotInfoExchange.delayMs);
    received += DrainUntilQuiet(line, sleep, false);
  }

  const Exchange image = Run(line, ScreenshotImageFrame(slot), kScreenshotImageExchange, sleep);
  if (!image.accepted) {
    fetch.outcome = ScreenshotFetch::Outcome::kNoImage;
    return fetch;
  }
  fetch.outcome = ScreenshotFetch::Outcome::kImage;
  fetch.image = image.reply.substr(0, image.reply.size() - 1);
  return fetch;
}
