#include "link/timed_exchange.h"

bool ReplyFits(std::string_view reply, const ExchangeRule& rule) {
  if (reply.size() != rule.length) return false;
  if (rule.endMarker && (reply.empty() || static_cast<std::uint8_t>(reply.back()) != kEndMarker)) {
    return false;
  }
  return true;
}

ExchangeResult TimedExchange(fw::SerialLine& line, const std::string& frame,
                             const ExchangeRule& rule, const std::function<void(int ms)>& sleep) {
  ExchangeResult result{false, {}, 0};
  for (;;) {
    ++result.attempts;
    // Bytes still arriving from an earlier, rejected or abandoned reply would otherwise be
    // taken as the start of this one.
    line.ReadAll();
    line.Write(frame);
    sleep(rule.delayMs);
    // Long replies can straddle the end of the delay; a second read right away collects the
    // tail that was still on its way during the first.
    std::string reply = line.ReadAll();
    for (int read = 1; read < rule.reads; ++read) reply += line.ReadAll();

    if (ReplyFits(reply, rule)) {
      result.accepted = true;
      result.reply = std::move(reply);
      return result;
    }
    if (result.attempts >= rule.maxAttempts) return result;
  }
}
