// Streaming parser for the command frames the meter receives.
//
// A frame is '<', a command name of upper-case letters and digits, an optional
// argument and ">>". No line terminator follows. Anything between frames is
// noise and is skipped until the next '<'.
//
// The argument forms:
//   - none                          "<GETVER>>"
//   - one decimal digit             "<GETSS2>>", "<GETSSN4>>"
//   - five raw bytes after "SPIR"   "<SPIR" a2 a1 a0 l1 l0 ">>"
// The SPIR bytes are binary and may be '<', '>' or 0x00, so the parser switches
// to counting bytes as soon as it has seen the name "SPIR".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace meter_sim {

struct Frame {
  // The command name without its argument: "GETVER", "GETSS", "GETSSN", "SPIR", "KEY0".
  std::string name;
  // The argument bytes: empty, one ASCII digit, or the five raw SPIR bytes.
  std::vector<uint8_t> arg;
  // Every byte of the frame from '<' to the final '>'.
  std::vector<uint8_t> raw;

  bool operator==(const Frame&) const = default;
};

// Number of raw argument bytes that follow "SPIR".
inline constexpr std::size_t kSpirArgBytes = 5;
// Longest name (plus digit argument) accepted; longer runs are treated as noise.
inline constexpr std::size_t kMaxNameLength = 24;

class FrameParser {
 public:
  // Feeds received bytes; complete frames are appended to `out` in order. A
  // frame may be split across any number of calls.
  void Feed(std::span<const uint8_t> bytes, std::vector<Frame>& out);

  // Convenience wrapper returning the frames completed by these bytes.
  std::vector<Frame> Feed(std::span<const uint8_t> bytes);

  // Bytes that were skipped as noise or as parts of malformed frames.
  std::size_t DiscardedBytes() const { return discarded_; }

  // Forgets any partly received frame.
  void Reset();

 private:
  enum class State { kIdle, kName, kSpirArg, kFirstClose, kSecondClose };

  void StartFrame();
  void Abandon(uint8_t byte);
  void Finish(std::vector<Frame>& out);

  State state_ = State::kIdle;
  std::string token_;
  std::vector<uint8_t> raw_;
  std::vector<uint8_t> spir_arg_;
  std::size_t discarded_ = 0;
};

// Splits a received token such as "GETSS3" into name and digit argument. Only
// GETSS and GETSSN carry a digit; every other token is a plain name.
void SplitNameAndDigit(const std::string& token, std::string& name, std::vector<uint8_t>& arg);

// Builders for frames as a host program sends them (used by tests and tools).
std::vector<uint8_t> MakeFrame(const std::string& name_and_digit);
std::vector<uint8_t> MakeSpirFrame(uint32_t address, uint16_t length);

// "3C 47 45 ..." upper-case hex with single spaces.
std::string ToHex(std::span<const uint8_t> bytes);

}  // namespace meter_sim
