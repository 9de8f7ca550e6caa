// A serial line for tests: records what the code under test writes and answers with scripted
// bytes.
//
// The model is a queue of ReadAll results. Each ReadAll takes the first queued string, or
// returns "" when the queue is empty (nothing received). Each Write appends the answer scripted
// for it to the queue, so unread bytes of one answer are still there for the next ReadAll, as
// on a real line:
//
//   ScriptedLine line;
//   line.Receive("junk");             // bytes already waiting: the next ReadAll returns "junk"
//   line.Answer({"part1", "part2"});  // after the 1st write, ReadAll returns "part1", then "part2"
//   line.Answer({"reply", "late"});   // after the 2nd write: "reply"; a later ReadAll gets "late"
//   line.Respond([](const std::string& frame) { ... });  // answers for writes past the script
//
// Writes past the scripted answers go to the responder when one is set, else get no answer
// (a meter that was unplugged). Trace() shows the order of calls: 'R' per ReadAll, 'W' per
// Write, e.g. "RWR" for drain, write, read.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "framework/serial_line.h"

class ScriptedLine : public fw::SerialLine {
 public:
  using Responder = std::function<std::vector<std::string>(const std::string& frame)>;

  // Bytes received now, before or between writes: queued for a coming ReadAll.
  void Receive(std::string bytes) { queue_.push_back(std::move(bytes)); }

  // The answer to the next write that has no scripted answer yet: successive ReadAll results.
  void Answer(std::vector<std::string> reads) { answers_.push_back(std::move(reads)); }

  // The same answer for each of the next `count` writes.
  void AnswerEach(int count, const std::vector<std::string>& reads) {
    for (int i = 0; i < count; ++i) answers_.push_back(reads);
  }

  // Computes the answer for writes past the scripted answers.
  void Respond(Responder responder) { responder_ = std::move(responder); }

  void Write(const std::string& bytes) override {
    writes_.push_back(bytes);
    trace_ += 'W';
    if (answers_.empty() && responder_) answers_.push_back(responder_(bytes));
    if (answers_.empty()) return;
    for (auto& r : answers_.front()) queue_.push_back(std::move(r));
    answers_.pop_front();
  }

  std::string ReadAll() override {
    trace_ += 'R';
    if (queue_.empty()) return {};
    std::string bytes = std::move(queue_.front());
    queue_.pop_front();
    return bytes;
  }

  const std::vector<std::string>& Writes() const { return writes_; }
  const std::string& Trace() const { return trace_; }

 private:
  std::deque<std::vector<std::string>> answers_;
  std::deque<std::string> queue_;
  Responder responder_;
  std::vector<std::string> writes_;
  std::string trace_;
};

// A meter that is slow but sound, on a clock that only Sleep moves: it answers every request it
// gets, in turn, starting `latencyMs` after it takes the request up (once its previous reply is
// out), each reply trickling in over `replyMs` like a paced line. `answer` gives the reply to a
// frame; an empty reply means the request was lost on the way.
class SlowMeterLine : public fw::SerialLine {
 public:
  SlowMeterLine(int latencyMs, int replyMs, std::function<std::string(const std::string&)> answer)
      : latency_(latencyMs), replyTime_(replyMs), answer_(std::move(answer)) {}

  void Sleep(int ms) { now_ += ms; }
  long Now() const { return now_; }

  void Write(const std::string& frame) override {
    writes_.push_back(frame);
    std::string reply = answer_(frame);
    if (reply.empty()) return;
    const long start = std::max(now_, busyUntil_) + latency_;
    busyUntil_ = start + replyTime_;
    pending_.push_back({start, std::move(reply), 0});
  }

  std::string ReadAll() override {
    std::string out;
    for (; !pending_.empty() && now_ >= pending_.front().start; pending_.pop_front()) {
      Reply& r = pending_.front();
      const std::size_t size = r.bytes.size(),
                        due = replyTime_ ? std::min(size, size * (now_ - r.start) / replyTime_)
                                         : size;
      out += r.bytes.substr(r.sent, due - r.sent);
      r.sent = due;
      if (due < size) break;
    }
    return out;
  }

  const std::vector<std::string>& Writes() const { return writes_; }

 private:
  struct Reply {
    long start;
    std::string bytes;
    std::size_t sent;
  };
  int latency_, replyTime_;
  std::function<std::string(const std::string&)> answer_;
  long now_ = 0, busyUntil_ = 0;
  std::deque<Reply> pending_;
  std::vector<std::string> writes_;
};
