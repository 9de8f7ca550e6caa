// A meter on a clock that only Sleep moves, for the transfers' unit tests.
//
// It answers every request it gets, in turn: a reply begins `latencyMs` after the meter takes
// the request up (at once, or once its previous reply is out), and comes a byte every 87 us as
// at 115200 baud, or all at once. It can also answer in pieces with pauses, put junk in front,
// cut a reply short, lose requests, or go away (the connection ends) at a given moment.
#pragma once

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "framework/serial_line.h"
#include "link/meter_line.h"

struct MeterTiming {
  double latencyMs = 5;
  bool paced = true;
  std::size_t piece = 0;        // > 0: the reply comes in pieces of this size ...
  int pauseMs = 0;              // ... with this pause after each piece
  bool pauseAfterLast = false;  // the pause also follows the last piece
  std::size_t junk = 0;         // bytes of noise in front of each reply
  std::size_t cut = 0;          // bytes missing at the end of each reply
  std::function<bool(int request)> lost = nullptr;  // requests (counted from 1) never arriving
  long dieAtMs = -1;                                // the device goes away then
};

class ClockedMeter : public fw::SerialLine {
 public:
  using Answer = std::function<std::string(const std::string& frame, int request)>;
  ClockedMeter(MeterTiming timing, Answer answer)
      : timing_(std::move(timing)), answer_(std::move(answer)) {}

  void Sleep(int ms) {
    if ((nowUs_ += ms * 1000L) > 3'600'000'000L) throw std::runtime_error("an hour on one test");
  }
  long NowMs() const { return nowUs_ / 1000; }
  // The line as the transfers see it, on this meter's clock.
  MeterLine Line() {
    return MeterLine(*this, {[this] { return NowMs(); }, [this](int ms) { Sleep(ms); }});
  }

  void Write(const std::string& frame) override {
    writes.push_back(frame);
    const int n = static_cast<int>(writes.size());
    if (Gone() || (timing_.lost && timing_.lost(n))) return;
    std::string reply = std::string(timing_.junk, '\x5A') + answer_(frame, n);
    reply.resize(reply.size() - std::min(reply.size(), timing_.cut));
    long at = std::max(nowUs_, busyUntilUs_) + std::lround(timing_.latencyMs * 1000);
    for (std::size_t i = 0; i < reply.size(); ++i) {
      if (timing_.piece && i > 0 && i % timing_.piece == 0) at += timing_.pauseMs * 1000L;
      coming_.push_back({at += timing_.paced ? 87 : 0, reply[i]});
    }
    busyUntilUs_ = at + (timing_.pauseAfterLast ? timing_.pauseMs * 1000L : 0);
  }
  std::string ReadAll() override {
    std::string got;
    for (; !coming_.empty() && coming_.front().first <= nowUs_ && !Gone(); coming_.pop_front())
      got += coming_.front().second;
    return got;
  }
  std::uint64_t Connection() const override { return Gone() ? 0 : 1; }

  std::vector<std::string> writes;

 private:
  bool Gone() const { return timing_.dieAtMs >= 0 && nowUs_ >= timing_.dieAtMs * 1000L; }
  MeterTiming timing_;
  Answer answer_;
  long nowUs_ = 0, busyUntilUs_ = 0;
  std::deque<std::pair<long, char>> coming_;
};
