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
// Requests for one page before the reading gives up on the meter.
inline constexpr int kMaxPageAttempts = 5;

// How long the reader waits on the meter (ms).
inline constexpr int kPageWindowMs = 600;   // a meter in time has sent the whole page by then
inline constexpr int kPagePollMs = 50;      // later looks at a reply that is still coming
inline constexpr int kPageQuietMs = 200;    // a reply is over once the line was quiet this long
inline constexpr int kPageAnswerMs = 2500;  // a request with not one byte back by then was lost

enum class HistoryReadEnd {
  kDone,         // the last page, erased memory or the user's Save
  kMeterSilent,  // a page got no fitting reply in kMaxPageAttempts requests
  kLineClosed,   // the connection was closed under the reading
};

struct HistoryImage {
  std::vector<std::uint8_t> bytes;  // always kHistoryImageSize; zero beyond readLength
  std::size_t readLength;           // bytes read from the start of the memory
  HistoryReadEnd end;
};

struct HistoryReaderHooks {
  std::function<void(std::int64_t)> setProgress;  // bytes read once the current page is in
  std::function<bool()> saveRequested;            // the user pressed Save: stop after this page
  std::function<void(int)> sleep;                 // sleep the calling thread (ms); required
  std::function<void()> yield;                    // let cooperative threads run
  // The connection the reading started on was closed: no request may go out any more (the
  // line may meanwhile be open on another port).
  std::function<bool()> lineClosed;
};

// Reads pages from address 0 until a page ends with FF FF (erased memory: nothing logged after
// it), the user asks to save, the last page is in, the meter stops answering or the line is
// closed. The pages read so far are always kept, and each one is filled only from a reply to a
// request for that very page. Hooks other than sleep may be left empty.
HistoryImage ReadHistoryImage(fw::SerialLine& line, const HistoryReaderHooks& hooks);
