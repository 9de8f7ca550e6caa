// Fetching a stored screenshot from the meter: the information exchange
// ("<GETSSN" + slot + ">>", 7 bytes ending 0xAA, up to 6 sends 500 ms apart),
// the empty-slot test, then the image exchange ("<GETSS" + slot + ">>", a
// 1025-byte screen frame, up to 4 sends 1000 ms apart).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/serial_line.h"

struct ScreenshotFetch {
  enum class Outcome { kNoInformation, kEmptySlot, kNoImage, kImage };
  Outcome outcome = Outcome::kNoInformation;
  std::string info;   // the accepted 7-byte information reply, when there was one
  std::string image;  // the 1024-byte page image, with kImage only
};

// A first information value below 19, or 255, says the slot holds nothing.
bool IsEmptyScreenshotSlot(std::uint8_t firstInfoValue);

// Runs both exchanges for `slot` (1 to 4) on `line`; `sleep` waits the given
// milliseconds (giving the line time to bring the reply).
//
// The replies carry nothing that ties them to their request, so besides the
// exact-length tests two rules keep a late reply from being joined with
// another one into something that looks whole:
// - a request goes out only once the bytes of an earlier reply that were
//   still arriving have all come in (and been thrown away);
// - when some information request has had no reply yet, the image is asked
//   for only after that reply has come in, or after one more information
//   delay per unanswered request: its 7 bytes followed by the head of an
//   image would otherwise make up 1025 bytes.
ScreenshotFetch FetchScreenshot(fw::SerialLine& line, int slot,
                                const std::function<void(int ms)>& sleep);
