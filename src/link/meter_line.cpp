#include "link/meter_line.h"

#include <algorithm>

namespace {

// A line that never falls quiet (noise without end) is given up after this long.
constexpr int kSettleLimitMs = 3 * MeterLine::kSilenceMs;

// Whether `reply` has the exact length and, where the rule asks for it, the end marker.
bool ReplyFits(std::string_view reply, const ReplyRule& rule) {
  if (reply.size() != rule.length) return false;
  return !rule.endMarker ||
         (!reply.empty() && static_cast<std::uint8_t>(reply.back()) == kEndMarker);
}

}  // namespace

MeterLine::MeterLine(fw::SerialLine& line, Clock clock) : line_(line), clock_(std::move(clock)) {
  lastByteAt_ = lastRequestAt_ = clock_.nowMs() - kSilenceMs;
}

std::string MeterLine::ReadAll() {
  fw::CheckProgramLock(kWhat);
  std::string bytes = line_.ReadAll();
  if (bytes.empty()) return bytes;
  // When it was read, not when it came: a reply is thought to go on a little longer than it
  // did, never the other way round.
  lastByteAt_ = clock_.nowMs();
  for (std::size_t n = bytes.size(); n > 0 && !owed_.empty();) {
    const std::size_t taken = std::min(n, owed_.front());
    n -= taken;
    begun_ = (owed_.front() -= taken) > 0;
    if (!begun_) owed_.pop_front();
  }
  return bytes;
}

bool MeterLine::Owed() {
  fw::CheckProgramLock(kWhat);
  if (begun_ && SinceLastByte() >= kPauseMs) {
    owed_.pop_front();  // stopped short: the rest is not coming
    begun_ = false;
  }
  if (clock_.nowMs() - std::max(lastByteAt_, lastRequestAt_) >= kSilenceMs) owed_.clear();
  return !owed_.empty();
}

bool MeterLine::Quiet() {
  ReadAll();
  return !Owed() && SinceLastByte() >= kQuietMs;
}

bool MeterLine::Lost(std::uint64_t connection) const {
  return connection == 0 || line_.Connection() != connection;
}

bool MeterLine::Settle(std::uint64_t connection) {
  const std::int64_t start = clock_.nowMs();
  while (!Quiet()) {
    if (Lost(connection) || clock_.nowMs() - start >= kSettleLimitMs) return false;
    clock_.sleep(kQuietMs);
  }
  return !Lost(connection);
}

ExchangeResult MeterLine::Exchange(std::uint64_t connection, const std::string& frame,
                                   const ReplyRule& rule) {
  fw::CheckProgramLock(kWhat);
  ExchangeResult result{ExchangeEnd::kNoAnswer, {}};
  // Right after a request that brought nothing, the next goes out without waiting for quiet,
  // and keeps what comes in between: it may be the head of the answer to either request.
  bool again = false;
  std::string got;
  for (int requests = 0; requests < rule.requests; ++requests) {
    if (!again) {
      const bool quiet = Settle(connection);
      if (Lost(connection)) break;
      if (!quiet) {
        result.end = ExchangeEnd::kUnusable;
        return result;
      }
    }
    if (Lost(connection)) break;
    line_.Write(frame);
    Owed();  // what silence has written off stays off
    owed_.push_back(rule.length);
    lastRequestAt_ = clock_.nowMs();
    got.clear();
    switch (Collect(connection, rule, got)) {
      case Got::kWhole:
        result.end = ExchangeEnd::kReply;
        result.reply = std::move(got);
        return result;
      case Got::kLost:
        result.end = ExchangeEnd::kLineLost;
        return result;
      case Got::kNothing:
        again = true;
        break;
      case Got::kUnusable:
        result.end = ExchangeEnd::kUnusable;
        again = false;
        break;
    }
  }
  if (Lost(connection)) result.end = ExchangeEnd::kLineLost;
  return result;
}

MeterLine::Got MeterLine::Collect(std::uint64_t connection, const ReplyRule& rule,
                                  std::string& got) {
  const std::int64_t sent = clock_.nowMs();
  const auto look = [&](int ms) {
    clock_.sleep(ms);
    got += ReadAll();
  };
  // The window, looked at a moment before its end and at its end: bytes that came in that last
  // moment may belong to a reply that is still growing.
  const int last = std::min(kQuietMs, rule.windowMs);
  look(rule.windowMs - last);
  look(last);
  for (;;) {
    if (Lost(connection)) return Got::kLost;
    if (got.empty()) {
      if (!rule.awaitFirstByte || clock_.nowMs() - sent >= kSilenceMs) return Got::kNothing;
    } else if (got.size() > rule.length || (got.size() == rule.length && !ReplyFits(got, rule))) {
      // It can no longer become whole; the next request waits until it has ended.
      return Got::kUnusable;
    } else if (SinceLastByte() >= kQuietMs) {
      if (ReplyFits(got, rule)) return Got::kWhole;
      if (!rule.awaitRest || SinceLastByte() >= kPauseMs) return Got::kUnusable;
    }
    look(kQuietMs);
  }
}
