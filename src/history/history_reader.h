// Reads the meter's logging memory (the history) into an image, page by page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "framework/serial_line.h"

inline constexpr std::size_t kHistoryImageSize = 1048576;  // the meter's 1 MiB logging memory
inline constexpr std::size_t kHistoryPageSize = 4096;
inline constexpr std::uint32_t kLastHistoryPage = 1044480;  // address of the last page
// Failed attempts on one page before the reading gives up on the meter.
inline constexpr int kMaxPageAttempts = 10;

struct HistoryImage {
  std::vector<std::uint8_t> bytes;  // always kHistoryImageSize; zero beyond readLength
  std::size_t readLength;           // bytes read from the start of the memory
  bool meterStoppedAnswering;       // a page got no fitting reply in kMaxPageAttempts attempts
};

struct HistoryReaderHooks {
  std::function<void(std::int64_t)> setProgress;  // bytes read once the current page is in
  std::function<bool()> saveRequested;            // the user pressed Save: stop after this page
  std::function<void(int)> sleep;                 // sleep the calling thread (ms); required
  std::function<void()> yield;                    // let cooperative threads run
};

// Reads pages from address 0 until a page ends with FF FF (erased memory: nothing logged after
// it), the user asks to save, the last page is in, or the meter stops answering. The pages read
// so far are always kept. Hooks other than sleep may be left empty.
HistoryImage ReadHistoryImage(fw::SerialLine& line, const HistoryReaderHooks& hooks);
