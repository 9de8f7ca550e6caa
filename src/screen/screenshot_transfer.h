// Fetching a stored screenshot from the meter: the information exchange
// ("<GETSSN" + slot + ">>", 7 bytes ending 0xAA, up to 6 requests 500 ms
// apart), the empty-slot test, then the image exchange ("<GETSS" + slot +
// ">>", a 1025-byte screen frame, up to 4 requests 1000 ms apart).
#pragma once

#include <cstdint>
#include <string>

#include "link/meter_line.h"

// A request that brought nothing by the window's end is sent again at once; a
// reply that has begun is waited for to its end.
inline constexpr ReplyRule kScreenshotInfoRule{500, 7, true, 6, false, true};
inline constexpr ReplyRule kScreenshotImageRule{1000, 1025, true, 4, false, true};

struct ScreenshotFetch {
  enum class Outcome { kNoInformation, kEmptySlot, kNoImage, kImage, kLineLost };
  Outcome outcome = Outcome::kNoInformation;
  std::string info;   // the accepted 7-byte information reply, when there was one
  std::string image;  // the 1024-byte page image, with kImage only
};

// A first information value below 19, or 255, says the slot holds nothing.
bool IsEmptyScreenshotSlot(std::uint8_t firstInfoValue);

// Runs both exchanges for `slot` (1 to 4) on the connection open now; the
// image is asked for only once no information reply may still come.
ScreenshotFetch FetchScreenshot(MeterLine& line, int slot);
