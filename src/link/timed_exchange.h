// The request-and-reply pattern every transfer with the meter uses.
//
// The meter answers after a while, without a length prefix or a reliable terminator, so a
// transfer cannot wait for "the end of the reply". Instead each attempt
//   1. drains: reads and discards everything received so far (late bytes of an earlier reply),
//   2. writes the whole frame in one write,
//   3. sleeps the calling thread for a fixed delay,
//   4. reads: `reads` ReadAll calls in immediate succession, joined in order,
//   5. accepts the reply only if its length is exactly the expected length and, for formats
//      that end with a marker, its last byte is kEndMarker;
//   6. otherwise drops it and starts again at 1, as far as the attempt rule allows.
// Attempts share nothing: a rejected reply is never combined with a later one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "framework/serial_line.h"

inline constexpr std::uint8_t kEndMarker = 0xAA;

struct ExchangeRule {
  int delayMs;         // sleep between the write and the read
  int reads;           // ReadAll calls joined into the reply (at least 1 is made)
  std::size_t length;  // exact reply length
  bool endMarker;      // the reply's last byte must be kEndMarker
  int maxAttempts;     // at least 1
};

struct ExchangeResult {
  bool accepted;      // a reply passed the checks
  std::string reply;  // the accepted reply; empty when none was accepted
  int attempts;       // attempts made, including the accepted one
};

// The live screen: one try, the next refresh asks again.
inline constexpr ExchangeRule kGetScreenExchange{200, 2, 1025, true, 1};
// The header of a saved screenshot.
inline constexpr ExchangeRule kScreenshotInfoExchange{500, 1, 7, true, 6};
// The image of a saved screenshot.
inline constexpr ExchangeRule kScreenshotImageExchange{1000, 2, 1025, true, 4};

// Whether `reply` has the exact length and, where the rule asks for it, the end marker.
bool ReplyFits(std::string_view reply, const ExchangeRule& rule);

// Runs attempts until a reply fits or `rule.maxAttempts` attempts have failed. `sleep` must be
// callable; it receives rule.delayMs.
ExchangeResult TimedExchange(fw::SerialLine& line, const std::string& frame,
                             const ExchangeRule& rule, const std::function<void(int ms)>& sleep);
