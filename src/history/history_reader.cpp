#include "history/history_reader.h"

#include <algorithm>

#include "link/command_frame.h"
#include "link/timed_exchange.h"

namespace {

// Copying a page is quick, but the reading runs on a cooperative thread: give way regularly so
// the window stays responsive.
constexpr std::size_t kYieldEveryBytes = 256;

void Yield(const HistoryReaderHooks& hooks) {
  if (hooks.yield) hooks.yield();
}

}  // namespace

HistoryImage ReadHistoryImage(fw::SerialLine& line, const HistoryReaderHooks& hooks) {
  HistoryImage image{std::vector<std::uint8_t>(kHistoryImageSize, 0), 0, false};

  // Without a bound a meter that was unplugged mid-reading would be asked for the same page
  // forever, and even Save could not end it.
  ExchangeRule rule = kSpirExchange;
  rule.maxAttempts = kMaxPageAttempts;

  std::size_t address = 0;
  while (address <= kLastHistoryPage) {
    if (hooks.setProgress) hooks.setProgress(static_cast<std::int64_t>(address + kHistoryPageSize));

    const ExchangeResult page =
        TimedExchange(line, SpirFrame(static_cast<std::uint32_t>(address)), rule, hooks.sleep);
    if (!page.accepted) {
      image.meterStoppedAnswering = true;
      break;
    }

    for (std::size_t offset = 0; offset < kHistoryPageSize; offset += kYieldEveryBytes) {
      std::copy_n(page.reply.begin() + static_cast<std::ptrdiff_t>(offset), kYieldEveryBytes,
                  image.bytes.begin() + static_cast<std::ptrdiff_t>(address + offset));
      Yield(hooks);
    }

    // The logger fills memory from the start; erased flash reads FF, so a page whose last two
    // bytes are FF FF is where the records end.
    const bool saveRequested = hooks.saveRequested && hooks.saveRequested();
    const bool erasedTail = static_cast<std::uint8_t>(page.reply[kHistoryPageSize - 1]) == 0xFF &&
                            static_cast<std::uint8_t>(page.reply[kHistoryPageSize - 2]) == 0xFF;
    if (saveRequested || erasedTail) {
      address += kHistoryPageSize;
      break;
    }
    Yield(hooks);
    address += kHistoryPageSize;
  }
  image.readLength = address;
  return image;
}
