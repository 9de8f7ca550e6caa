// A simulated meter on a pseudo-terminal.
//
//   meter_sim::Simulator sim(options);
//   sim.Start();
//   open(sim.SlavePath().c_str(), ...);   // the host program's serial port
//   ...
//   sim.Stop();                           // the destructor stops too
//
// The simulator reads command frames from the pty master on its own thread
// and writes the meter's replies back, paced like a 115200 baud 8N1 line
// unless told otherwise. It can misbehave on purpose; every knob can be
// turned while it runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "meter_sim/frame_parser.h"
#include "meter_sim/meter.h"

namespace meter_sim {

// Ways to misbehave. Counters count down as they are used and can be read
// back with Simulator::GetMisbehaviour().
struct Misbehaviour {
  // Empty: applies to every command. Otherwise only to frames with this name
  // ("SPIR", "GETSCREEN", "GETSSN", ...). The close-after counter always
  // counts SPIR replies.
  std::string only_command;
  int extra_delay_ms = 0;       // answer late, on top of the normal latency
  std::size_t split_bytes = 0;  // > 0: send replies in pieces of this size ...
  int split_pause_ms = 0;       // ... with this pause between pieces
  std::size_t junk_bytes = 0;   // noise bytes sent before each reply
  std::size_t cut_bytes = 0;    // drop this many bytes from the end of each reply
  int ignore_requests = 0;      // drop the next N frames as if never received
  int close_after_spir = 0;     // > 0: close the line after N more SPIR replies
  bool silent = false;          // act on commands but never answer (broken TX line)
};

// The noise sent for Misbehaviour::junk_bytes: pseudo-random bytes, the same
// every time, so a test can predict them.
std::vector<uint8_t> JunkBytes(std::size_t count);

struct FrameRecord {
  double time_s = 0;  // meter time (seconds since Start) at which the frame was complete
  std::string name;   // command name without argument
  std::vector<uint8_t> arg;
  std::vector<uint8_t> raw;
  std::string hex;  // the raw frame as hex
  // What happened: "reply", "no reply", "ignored" or "silent".
  std::string outcome;
};

struct ReplyRecord {
  double start_s = 0;  // first byte written
  double end_s = 0;    // last byte written
  std::string command;
  std::size_t bytes = 0;   // bytes written, junk included
  std::size_t pieces = 0;  // separately paused pieces
  std::size_t junk = 0;
  std::size_t cut = 0;
  bool complete = true;  // false if interrupted by Stop()
};

struct SimulatorOptions {
  MeterConfig meter = DefaultMeterConfig();
  bool paced = true;   // write at the line rate instead of all at once
  int baud = 115200;   // 8N1: 10 bits per byte
  int latency_ms = 5;  // time the meter takes before it starts answering
  // Pacing granularity: each chunk is written when its last byte would have
  // left a real UART.
  std::size_t chunk_bytes = 32;
  // Optional symlink to the slave device, removed again on Stop().
  std::string link_path;
  Misbehaviour misbehaviour;
  // Called on the simulator thread for each frame / finished reply.
  std::function<void(const FrameRecord&)> on_frame;
  std::function<void(const ReplyRecord&)> on_reply;
  // Called on the simulator thread when it closes the line on purpose.
  std::function<void()> on_line_closed;
};

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the pseudo-terminal, creates the link and starts the thread.
  // Throws std::system_error (or std::runtime_error for a bad link path).
  void Start();
  // Stops the thread promptly (also mid-reply), closes the line, removes
  // the link. Safe to call more than once.
  void Stop();
  // False before Start, after Stop, and after the line was closed on purpose.
  bool Running() const { return running_.load(); }
  bool WaitUntilStopped(std::chrono::milliseconds timeout) const;

  // The slave device, e.g. "/dev/pts/7" (valid after Start).
  const std::string& SlavePath() const { return slave_path_; }
  // Meter time: seconds since Start().
  double Now() const;

  // --- run-time control (thread-safe) ---
  void SetMisbehaviour(const Misbehaviour& m);
  Misbehaviour GetMisbehaviour() const;
  void SetPaced(bool paced);
  void SetLatency(int ms);
  void SetOnlyCommand(const std::string& name);
  void SetExtraDelay(int ms);
  void SetSplit(std::size_t bytes, int pause_ms);
  void SetJunk(std::size_t bytes);
  void SetCutShort(std::size_t bytes);
  void IgnoreNext(int frames);
  void CloseAfterSpirReplies(int replies);
  void SetSilent(bool silent);
  // Behave again: clears every misbehaviour.
  void ClearMisbehaviour() { SetMisbehaviour({}); }

  // --- the meter (thread-safe) ---
  MeterState State() const;
  void PressKey(Key key);
  // What GETSCREEN would answer now (image only).
  ScreenImage Screen() const;
  // The logging memory (1 MiB); it does not change while running.
  const std::vector<uint8_t>& Memory() const;

  // --- what happened (thread-safe copies) ---
  std::vector<FrameRecord> Frames() const;
  std::vector<ReplyRecord> Replies() const;
  void ClearLogs();
  bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
  bool WaitForReplies(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  using SteadyClock = std::chrono::steady_clock;

  void Run();
  void Process(const Frame& frame);
  bool SendReply(std::vector<uint8_t> reply, const Misbehaviour& m, bool applies, bool paced,
                 int latency_ms, ReplyRecord& record);
  bool WriteAll(std::span<const uint8_t> data);
  bool SleepUntil(SteadyClock::time_point when);
  bool SleepFor(std::chrono::microseconds d) { return SleepUntil(SteadyClock::now() + d); }
  void CloseLine();
  void CloseFds();
  void RemoveLink();
  double Seconds(SteadyClock::time_point t) const;

  SimulatorOptions options_;
  Meter meter_;

  int master_fd_ = -1;
  int slave_fd_ = -1;  // held open so the master never sees a hang-up
  std::string slave_path_;
  bool link_created_ = false;
  SteadyClock::time_point start_{};

  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;  // guards everything below and the meter
  mutable std::condition_variable cv_;
  Misbehaviour misbehaviour_;
  bool paced_;
  int latency_ms_;
  std::deque<FrameRecord> frames_;
  std::deque<ReplyRecord> replies_;
  std::size_t frames_total_ = 0;
  std::size_t replies_total_ = 0;
};

}  // namespace meter_sim
