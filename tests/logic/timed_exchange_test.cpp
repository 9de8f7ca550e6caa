#include "link/timed_exchange.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/scripted_line.h"

namespace {

// A reply of `length` bytes whose last byte is `last`.
std::string Reply(std::size_t length, char last) {
  std::string r(length, '\x11');
  if (length > 0) r.back() = last;
  return r;
}

const char kMarker = static_cast<char>(kEndMarker);

class TimedExchangeTest : public ::testing::Test {
 protected:
  ExchangeResult Run(const ExchangeRule& rule, const std::function<bool(int)>& mayRetry = {}) {
    return TimedExchange(
        line_, frame_, rule, [this](int ms) { sleeps_.push_back(ms); }, mayRetry);
  }

  ScriptedLine line_;
  const std::string frame_ = "<GETSSN2>>";
  std::vector<int> sleeps_;
};

TEST_F(TimedExchangeTest, DrainsWritesSleepsAndReadsOnce) {
  line_.Receive("stale bytes");
  line_.Answer({Reply(7, kMarker)});
  const ExchangeResult result = Run(kScreenshotInfoExchange);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.reply, Reply(7, kMarker));
  EXPECT_EQ(result.attempts, 1);
  EXPECT_EQ(line_.Trace(), "RWR");
  EXPECT_EQ(line_.Writes(), std::vector<std::string>{frame_});
  EXPECT_EQ(sleeps_, std::vector<int>{500});
}

TEST_F(TimedExchangeTest, StaleBytesNeverReachTheReply) {
  // Without the drain, the leftover would be read as the reply and the real reply left behind.
  line_.Receive(Reply(7, kMarker).substr(0, 3));
  line_.Answer({"\x01\x02\x03\x04\x05\x06" + std::string(1, kMarker)});
  const ExchangeResult result = Run(kScreenshotInfoExchange);
  ASSERT_TRUE(result.accepted);
  EXPECT_EQ(result.reply, "\x01\x02\x03\x04\x05\x06" + std::string(1, kMarker));
}

TEST_F(TimedExchangeTest, JoinsTwoReadsInOrder) {
  const std::string head(600, 'a');
  const std::string tail = std::string(424, 'b') + kMarker;
  line_.Answer({head, tail});
  const ExchangeResult result = Run(kGetScreenExchange);
  ASSERT_TRUE(result.accepted);
  EXPECT_EQ(result.reply, head + tail);
  EXPECT_EQ(line_.Trace(), "RWRR");
  EXPECT_EQ(sleeps_, std::vector<int>{200});
}

TEST_F(TimedExchangeTest, TwoReadsMayFindEverythingInTheFirst) {
  line_.Answer({Reply(1025, kMarker)});
  EXPECT_TRUE(Run(kScreenshotImageExchange).accepted);
  EXPECT_EQ(line_.Trace(), "RWRR");
}

TEST_F(TimedExchangeTest, AcceptsOnlyTheExactLength) {
  line_.Answer({Reply(1024, kMarker)});
  line_.Answer({Reply(1026, kMarker)});
  line_.Answer({Reply(1025, kMarker)});
  const ExchangeResult result = Run(kScreenshotImageExchange);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.attempts, 3);
  EXPECT_EQ(result.reply.size(), 1025u);
}

TEST_F(TimedExchangeTest, RequiresTheEndMarkerWhereTheFormatHasOne) {
  line_.Answer({Reply(1025, '\x00')});
  const ExchangeResult result = Run(kGetScreenExchange);
  EXPECT_FALSE(result.accepted);
  EXPECT_TRUE(result.reply.empty());
  EXPECT_EQ(result.attempts, 1);
}

TEST_F(TimedExchangeTest, IgnoresTheLastByteWhereTheFormatHasNoMarker) {
  line_.Answer({Reply(4096, '\x00')});
  EXPECT_TRUE(Run(kSpirExchange).accepted);
}

TEST_F(TimedExchangeTest, ReplyFitsChecksLengthAndMarker) {
  const ExchangeRule screen = kGetScreenExchange;
  EXPECT_TRUE(ReplyFits(Reply(1025, kMarker), screen));
  EXPECT_FALSE(ReplyFits(Reply(1026, kMarker), screen));
  EXPECT_FALSE(ReplyFits(Reply(1024, kMarker), screen));
  EXPECT_FALSE(ReplyFits(Reply(1025, '\xAB'), screen));
  EXPECT_FALSE(ReplyFits("", ExchangeRule{0, 1, 0, true, 1}));
}

TEST_F(TimedExchangeTest, EachRetryDrainsAndResendsTheSameFrame) {
  line_.Answer({Reply(6, kMarker)});
  line_.Answer({Reply(7, 'x')});
  line_.Answer({Reply(7, kMarker)});
  const ExchangeResult result = Run(kScreenshotInfoExchange);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.attempts, 3);
  EXPECT_EQ(line_.Trace(), "RWRRWRRWR");
  EXPECT_EQ(line_.Writes(), std::vector<std::string>(3, frame_));
  EXPECT_EQ(sleeps_, std::vector<int>(3, 500));
}

TEST_F(TimedExchangeTest, LateBytesAreDiscardedByTheNextDrain) {
  // The first reply comes in two pieces but this format reads once: the piece that arrives
  // late must be thrown away, not taken as the start of the next reply.
  const std::string reply = Reply(7, kMarker);
  line_.Answer({reply.substr(0, 4), reply.substr(4)});
  line_.Answer({reply});
  const ExchangeResult result = Run(kScreenshotInfoExchange);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.attempts, 2);
  EXPECT_EQ(result.reply, reply);
  EXPECT_EQ(line_.Unread(), 0u);
}

TEST_F(TimedExchangeTest, AttemptsDoNotCombine) {
  // Two halves of a fitting reply in successive attempts are two failures, not one reply.
  const std::string reply = Reply(1025, kMarker);
  line_.Answer({reply.substr(0, 500), ""});
  line_.Answer({reply.substr(500), ""});
  const ExchangeResult result = Run(kScreenshotImageExchange);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.attempts, 4);
}

TEST_F(TimedExchangeTest, StopsAtTheAttemptLimit) {
  EXPECT_EQ(Run(kGetScreenExchange).attempts, 1);
  EXPECT_EQ(Run(kScreenshotInfoExchange).attempts, 6);
  EXPECT_EQ(Run(kScreenshotImageExchange).attempts, 4);
  EXPECT_EQ(line_.Writes().size(), 11u);
}

TEST_F(TimedExchangeTest, SucceedsOnTheLastAllowedAttempt) {
  line_.AnswerEach(3, {""});
  line_.Answer({Reply(1025, kMarker)});
  const ExchangeResult result = Run(kScreenshotImageExchange);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.attempts, 4);
}

TEST_F(TimedExchangeTest, WithoutLimitRetriesUntilAReplyFits) {
  line_.AnswerEach(25, {Reply(4095, '\x00')});
  line_.Answer({Reply(4096, '\x00')});
  const ExchangeResult result = Run(kSpirExchange);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.attempts, 26);
  EXPECT_EQ(sleeps_, std::vector<int>(26, 600));
}

TEST_F(TimedExchangeTest, MayRetryIsAskedBeforeEachFurtherAttempt) {
  std::vector<int> asked;
  const ExchangeResult result = Run(kSpirExchange, [&](int attempt) {
    asked.push_back(attempt);
    return attempt < 4;
  });
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.attempts, 3);
  EXPECT_EQ(asked, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(line_.Writes().size(), 3u);
}

TEST_F(TimedExchangeTest, MayRetryIsNotAskedAfterSuccessOrAtTheLimit) {
  int asked = 0;
  const auto count = [&](int) {
    ++asked;
    return true;
  };
  line_.Answer({Reply(1025, kMarker)});
  EXPECT_TRUE(Run(kGetScreenExchange, count).accepted);
  EXPECT_FALSE(Run(kGetScreenExchange, count).accepted);
  EXPECT_EQ(asked, 0);
}

}  // namespace
