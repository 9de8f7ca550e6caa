// The one place that knows when a reply of the meter has ended and when the line is quiet enough
// to ask the meter again.
//
// The meter's replies carry no identity, length prefix or checksum, and nothing in a memory page
// or a display image can be checked. Only timing can tell that bytes answer the request just
// sent, so every request and every read of the line goes through here:
//
// - A reply has ended once the line has said nothing for kQuietMs after its last byte. A reply
//   is taken only when it has ended with exactly the expected bytes (and end marker): one that is
//   still growing may yet prove too long, junk in front of it included.
// - A request goes out only when no byte of an earlier reply may still come. Every request leaves
//   its reply owed until that many bytes have come in. A reply that has begun is owed its rest
//   until the line has said nothing for kPauseMs (longer than a meter pauses inside a reply);
//   one that has not begun, until the line has said nothing for kSilenceMs (longer than a meter
//   takes to begin one).
// - A request that brought nothing at all may be sent again at once where its user wants that
//   (the screenshot's quick attempts): a late answer to the first is as good as an answer to the
//   second, and what is still owed then keeps the next, different request back.
//
// Late replies are counted wherever they land, so the console can leave out what a transfer is
// still owed instead of showing it as noise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "framework/program_lock.h"
#include "framework/serial_line.h"

inline constexpr std::uint8_t kEndMarker = 0xAA;

// One kind of exchange, with its user's timing for a meter in time.
struct ReplyRule {
  int windowMs;         // a meter in time has sent its whole reply by then
  std::size_t length;   // a whole reply has exactly this many bytes,
  bool endMarker;       // and, when set, kEndMarker last
  int requests;         // requests at most before the exchange gives up
  bool awaitFirstByte;  // nothing by the window's end: wait for a late reply rather than ask again
  bool awaitRest;       // a reply that stopped short: wait for the rest rather than give it up
};

enum class ExchangeEnd {
  kReply,     // a whole reply came
  kNoAnswer,  // not one byte came
  kUnusable,  // bytes came, but never a whole reply
  kLineLost,  // the connection went away
};

struct ExchangeResult {
  ExchangeEnd end;
  std::string reply;  // with kReply only
};

class MeterLine {
 public:
  // A reply has ended once nothing more came for this long. A paced line brings a byte every
  // 87 us, and a USB adapter hands bytes on every few milliseconds while they come.
  static constexpr int kQuietMs = 50;
  // The rest of a reply that has begun is written off once nothing came for this long,
  static constexpr int kPauseMs = 1500;
  // and replies that have not begun once the line has said nothing for this long.
  static constexpr int kSilenceMs = 4000;

  struct Clock {
    std::function<std::int64_t()> nowMs;  // the clock that `sleep` moves
    std::function<void(int ms)> sleep;    // sleeps the calling thread
  };

  MeterLine(fw::SerialLine& line, Clock clock);

  // The connection open now, 0 when none. A transfer notes it when it begins and passes it on:
  // nothing of it goes out on another connection, even on the same port.
  std::uint64_t Connection() const {
    fw::CheckProgramLock(kWhat);
    return line_.Connection();
  }
  // Every byte received and not yet read, counted against the replies owed.
  std::string ReadAll();
  // Bytes that await no reply (the console's commands).
  void Write(const std::string& bytes) {
    fw::CheckProgramLock(kWhat);
    line_.Write(bytes);
  }
  // A reply to an earlier request may still come.
  bool Owed();
  // Drops what has come; true when a request may go out now: nothing is owed and nothing came
  // for kQuietMs.
  bool Quiet();
  // Sends `frame` until a whole reply has come, up to rule.requests times, each time only when
  // the line is quiet (or right after a request that brought nothing, where the rule allows).
  ExchangeResult Exchange(std::uint64_t connection, const std::string& frame,
                          const ReplyRule& rule);

 private:
  // Program code only, under the program lock: the line's state is shared without locks.
  static constexpr const char* kWhat = "the meter line";
  enum class Got { kWhole, kNothing, kUnusable, kLost };
  // Waits, dropping what comes, until Quiet(); false when `connection` is gone, or the line
  // never falls quiet.
  bool Settle(std::uint64_t connection);
  Got Collect(std::uint64_t connection, const ReplyRule& rule, std::string& got);
  bool Lost(std::uint64_t connection) const;
  std::int64_t SinceLastByte() const { return clock_.nowMs() - lastByteAt_; }

  fw::SerialLine& line_;
  Clock clock_;
  // Bytes still to come of each reply asked for, oldest first; whether the oldest has begun.
  std::deque<std::size_t> owed_;
  bool begun_ = false;
  // Long ago: a new line is quiet.
  std::int64_t lastByteAt_ = -kSilenceMs;
  std::int64_t lastRequestAt_ = -kSilenceMs;
};
