#include "meter_sim/frame_parser.h"

#include <cstdio>

namespace meter_sim {
namespace {

bool IsNameByte(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9'); }

}  // namespace

void FrameParser::Reset() {
  state_ = State::kIdle;
  token_.clear();
  raw_.clear();
  spir_arg_.clear();
}

void FrameParser::StartFrame() {
  Reset();
  state_ = State::kName;
  raw_.push_back('<');
}

// Drops the partial frame. A '<' that broke the frame opens the next one, so
// a truncated frame followed directly by a good one loses nothing but itself.
void FrameParser::Abandon(uint8_t byte) {
  discarded_ += raw_.size();
  if (byte == '<') {
    StartFrame();
  } else {
    ++discarded_;
    Reset();
  }
}

void FrameParser::Finish(std::vector<Frame>& out) {
  Frame frame;
  if (!spir_arg_.empty()) {
    frame.name = token_;
    frame.arg = spir_arg_;
  } else {
    SplitNameAndDigit(token_, frame.name, frame.arg);
  }
  frame.raw = std::move(raw_);
  out.push_back(std::move(frame));
  Reset();
}

void FrameParser::Feed(std::span<const uint8_t> bytes, std::vector<Frame>& out) {
  for (uint8_t b : bytes) {
    switch (state_) {
      case State::kIdle:
        if (b == '<') {
          StartFrame();
        } else {
          ++discarded_;
        }
        break;
      case State::kName:
        if (IsNameByte(b) && token_.size() < kMaxNameLength) {
          token_.push_back(static_cast<char>(b));
          raw_.push_back(b);
          if (token_ == "SPIR") state_ = State::kSpirArg;
        } else if (b == '>' && !token_.empty()) {
          raw_.push_back(b);
          state_ = State::kSecondClose;
        } else {
          Abandon(b);
        }
        break;
      case State::kSpirArg:
        // Binary address and length: every byte value is data here.
        spir_arg_.push_back(b);
        raw_.push_back(b);
        if (spir_arg_.size() == kSpirArgBytes) state_ = State::kFirstClose;
        break;
      case State::kFirstClose:
        if (b == '>') {
          raw_.push_back(b);
          state_ = State::kSecondClose;
        } else {
          Abandon(b);
        }
        break;
      case State::kSecondClose:
        if (b == '>') {
          raw_.push_back(b);
          Finish(out);
        } else {
          Abandon(b);
        }
        break;
    }
  }
}

std::vector<Frame> FrameParser::Feed(std::span<const uint8_t> bytes) {
  std::vector<Frame> out;
  Feed(bytes, out);
  return out;
}

void SplitNameAndDigit(const std::string& token, std::string& name, std::vector<uint8_t>& arg) {
  arg.clear();
  name = token;
  for (const char* prefix : {"GETSSN", "GETSS"}) {
    const std::string p(prefix);
    if (token.size() == p.size() + 1 && token.compare(0, p.size(), p) == 0 && token.back() >= '0' &&
        token.back() <= '9') {
      name = p;
      arg.push_back(static_cast<uint8_t>(token.back()));
      return;
    }
  }
}

std::vector<uint8_t> MakeFrame(const std::string& name_and_digit) {
  const std::string text = "<" + name_and_digit + ">>";
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> MakeSpirFrame(uint32_t address, uint16_t length) {
  std::vector<uint8_t> out = {'<', 'S', 'P', 'I', 'R'};
  out.push_back(static_cast<uint8_t>(address >> 16));
  out.push_back(static_cast<uint8_t>(address >> 8));
  out.push_back(static_cast<uint8_t>(address));
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length));
  out.push_back('>');
  out.push_back('>');
  return out;
}

std::string ToHex(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += buf;
  }
  return out;
}

}  // namespace meter_sim
