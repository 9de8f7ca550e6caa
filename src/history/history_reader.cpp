#include "history/history_reader.h"

#include <algorithm>
#include <string>

#include "link/command_frame.h"

namespace {

// Copying a page is quick, but the reading runs on a cooperative thread: give way regularly so
// the window stays responsive.
constexpr std::size_t kYieldEveryBytes = 256;

void Yield(const HistoryReaderHooks& hooks) {
  if (hooks.yield) hooks.yield();
}

HistoryReadEnd EndOf(ExchangeEnd end) {
  switch (end) {
    case ExchangeEnd::kNoAnswer:
      return HistoryReadEnd::kMeterSilent;
    case ExchangeEnd::kLineLost:
      return HistoryReadEnd::kLineClosed;
    default:
      return HistoryReadEnd::kRepliesUnusable;
  }
}

}  // namespace

HistoryImage ReadHistoryImage(MeterLine& line, const HistoryReaderHooks& hooks) {
  HistoryImage image{std::vector<std::uint8_t>(kHistoryImageSize, 0), 0, HistoryReadEnd::kDone};
  const std::uint64_t connection = line.Connection();

  std::size_t address = 0;
  while (address <= kLastHistoryPage) {
    if (hooks.setProgress) hooks.setProgress(static_cast<std::int64_t>(address + kHistoryPageSize));

    const ExchangeResult reply =
        line.Exchange(connection, SpirFrame(static_cast<std::uint32_t>(address)), kHistoryPageRule);
    if (reply.end != ExchangeEnd::kReply) {
      image.end = EndOf(reply.end);
      break;
    }
    const std::string& page = reply.reply;
    for (std::size_t offset = 0; offset < kHistoryPageSize; offset += kYieldEveryBytes) {
      std::copy_n(page.begin() + static_cast<std::ptrdiff_t>(offset), kYieldEveryBytes,
                  image.bytes.begin() + static_cast<std::ptrdiff_t>(address + offset));
      Yield(hooks);
    }
    address += kHistoryPageSize;

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
