// Reads the meter's logging memory (the history) into an image, page by page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/meter_line.h"

inline constexpr std::size_t kHistoryImageSize = 1048576;  // the meter's 1 MiB logging memory
inline constexpr std::size_t kHistoryPageSize = 4096;
inline constexpr std::uint32_t kLastHistoryPage = 1044480;  // address of the last page

// A meter in time has sent a page 600 ms after the request. A later one is waited for as long as
// its reply may still come, through pauses too: the page it sends is as good. Three requests in
// vain end the reading.
inline constexpr ReplyRule kHistoryPageRule{600, kHistoryPageSize, false, 3, true, true};

enum class HistoryReadEnd : int {
  kDone,             // the last page, erased memory or the user's Save
  kMeterSilent,      // a page was asked for in vain: not one byte came
  kRepliesUnusable,  // replies came for a page, but never a whole one
  kLineClosed,       // the connection went away under the reading
};

struct HistoryImage {
  std::vector<std::uint8_t> bytes;  // always kHistoryImageSize; zero beyond readLength
  std::size_t readLength;           // bytes read from the start of the memory
  HistoryReadEnd end;
};

struct HistoryReaderHooks {
  std::function<void(std::int64_t)> setProgress;  // bytes read once the current page is in
  std::function<bool()> saveRequested;            // the user pressed Save: stop after this page
  std::function<void()> yield;                    // let cooperative threads run
};

// Reads pages from address 0, on the connection open when it begins, until a page ends with
// FF FF (erased memory: nothing logged after it), the user asks to save, the last page is in,
// a page cannot be had or the connection goes. The pages read so far are always kept, and each
// is filled only from a whole reply to a request for that very page. Hooks may be left empty.
HistoryImage ReadHistoryImage(MeterLine& line, const HistoryReaderHooks& hooks);
