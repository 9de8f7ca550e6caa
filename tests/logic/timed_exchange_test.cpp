#include "link/timed_exchange.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "support/scripted_line.h"

namespace {

const char kMarker = static_cast<char>(kEndMarker);

// A reply of `length` bytes whose last byte is `last`.
std::string Reply(std::size_t length, char last) { return std::string(length - 1, 'x') + last; }

class TimedExchangeTest : public ::testing::Test {
 protected:
  ExchangeResult Run(const ExchangeRule& rule) {
    const auto sleep = [this](int ms) {
      sleeps_.push_back(ms);
      if (sleeps_.size() > 100) throw std::runtime_error("endless retries");
    };
    return TimedExchange(line_, frame_, rule, sleep);
  }

  ScriptedLine line_;
  const std::string frame_ = "<GETSS2>>";
  std::vector<int> sleeps_;
};

TEST_F(TimedExchangeTest, EachAttemptDrainsResendsAndAcceptsOnlyAnExactFit) {
  const std::string head(600, 'a');
  const std::string tail = Reply(425, kMarker);
  line_.Receive("stale bytes");
  line_.Answer({Reply(1026, kMarker)});
  line_.Answer({Reply(1025, '\x00')});
  line_.Answer({Reply(1024, kMarker)});
  line_.Answer({head, tail});  // the last allowed attempt
  const ExchangeResult result = Run(kScreenshotImageExchange);
  EXPECT_EQ(
      std::tuple(result.attempts, result.reply, line_.Trace(), line_.Writes(), sleeps_),
      std::tuple(4, head + tail, "RWRRRWRRRWRRRWRR", std::vector(4, frame_), std::vector(4, 1000)));
  // This format reads once: the second piece arrives late and must not start the next reply.
  const std::string reply = Reply(7, kMarker);
  line_.Answer({reply.substr(0, 4), reply.substr(4)});
  line_.Answer({reply});
  const ExchangeResult late = Run(kScreenshotInfoExchange);
  EXPECT_EQ(std::tuple(late.attempts, late.reply), std::tuple(2, reply));
}

TEST_F(TimedExchangeTest, StopsAtTheLimitNeverCombiningAttempts) {
  // Two halves of a fitting reply in successive attempts are two failures, not one reply.
  const std::string reply = Reply(1025, kMarker);
  line_.Answer({reply.substr(0, 500), ""});
  line_.Answer({reply.substr(500), ""});
  line_.AnswerEach(2, {Reply(1025, '\x00')});
  const ExchangeResult image = Run(kScreenshotImageExchange);
  EXPECT_EQ(std::tuple(image.accepted, image.reply, image.attempts), std::tuple(false, "", 4));
  // The live screen is asked once per capture.
  line_.Answer({Reply(1025, kMarker)});
  const bool first = Run(kGetScreenExchange).accepted;
  const bool atTheLimit = Run(kGetScreenExchange).accepted;
  EXPECT_EQ(std::tuple(first, atTheLimit, line_.Writes().size()), std::tuple(true, false, 4u + 2));
}

}  // namespace
