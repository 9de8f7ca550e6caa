#include <chrono>

#include "sim_fixture.h"

namespace sim_test {
namespace {

using meter_sim::JunkBytes;
using meter_sim::MakeFrame;
using meter_sim::MakeSpirFrame;
using meter_sim::Misbehaviour;
using Clock = std::chrono::steady_clock;

const std::string kVersion = "MXR-420 EMF Meter V1.12\r\n";

TEST_F(SimulatorTest, LateRepliesComeOnlyAfterTheDelay) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->SetExtraDelay(900);
  const auto sent = Clock::now();
  client_->Write(MakeFrame("GETVER"));
  // The reply may not start early (a slow machine only makes it later).
  EXPECT_TRUE(client_->ReadFor(std::chrono::milliseconds(250)).empty());
  EXPECT_EQ(Text(client_->ReadExactly(kVersion.size())), kVersion);
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(900));

  sim_->SetExtraDelay(0);
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);
}

TEST_F(SimulatorTest, SplitRepliesArriveInPiecesWithPauses) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->SetSplit(10, 400);
  const auto sent = Clock::now();
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);  // 25 bytes: 10 + 10 + 5
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(800));
  ASSERT_TRUE(sim_->WaitForReplies(1, kSafetyTimeout));
  EXPECT_EQ(sim_->Replies().back().pieces, 3u);

  // Split pieces are also paced when pacing is on; content stays intact.
  sim_->SetPaced(true);
  sim_->SetSplit(1000, 50);
  EXPECT_EQ(Ask(MakeSpirFrame(0x100, 0x1000), 4096), SpirSlice(0x100, 4096));
  ASSERT_TRUE(sim_->WaitForReplies(2, kSafetyTimeout));
  EXPECT_EQ(sim_->Replies().back().pieces, 5u);
}

TEST_F(SimulatorTest, JunkComesBeforeAnIntactReply) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->SetJunk(9);
  const std::vector<uint8_t> r = Ask("GETVER", 9 + kVersion.size());
  ASSERT_EQ(r.size(), 9 + kVersion.size());
  const std::vector<uint8_t> junk = JunkBytes(9);
  EXPECT_TRUE(std::equal(junk.begin(), junk.end(), r.begin()));
  EXPECT_EQ(Text(std::span<const uint8_t>(r).subspan(9)), kVersion);
  EXPECT_TRUE(client_->ReadFor(kQuietWindow).empty());
  EXPECT_EQ(JunkBytes(9), junk) << "junk must be reproducible";
}

TEST_F(SimulatorTest, CutShortRepliesLoseTheirTail) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->SetCutShort(100);
  EXPECT_EQ(Ask(MakeSpirFrame(0x4000, 0x1000), 3996), SpirSlice(0x4000, 3996));
  EXPECT_TRUE(client_->ReadFor(kQuietWindow).empty()) << "the tail was sent after all";
  ASSERT_TRUE(sim_->WaitForReplies(1, kSafetyTimeout));
  EXPECT_EQ(sim_->Replies().back().cut, 100u);

  // Cutting more than the reply leaves nothing at all.
  sim_->SetCutShort(5000);
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("GETSSN1")).empty());

  sim_->ClearMisbehaviour();
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);
}

TEST_F(SimulatorTest, IgnoresTheGivenNumberOfFramesThenAnswers) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->IgnoreNext(3);
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("GETVER")).empty());
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("KEY0")).empty());
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("GETVER")).empty());
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);
  EXPECT_EQ(sim_->GetMisbehaviour().ignore_requests, 0);
  EXPECT_EQ(sim_->State().view, meter_sim::View::kAll) << "an ignored key acted";

  const auto log = sim_->Frames();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].outcome, "ignored");
  EXPECT_EQ(log[1].outcome, "ignored");
  EXPECT_EQ(log[2].outcome, "ignored");
  EXPECT_EQ(log[3].outcome, "reply");
}

TEST_F(SimulatorTest, MisbehaviourCanTargetOneCommand) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->SetOnlyCommand("SPIR");
  sim_->IgnoreNext(1);
  sim_->SetJunk(4);
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);  // untouched
  EXPECT_TRUE(AskExpectingSilence(MakeSpirFrame(0, 16)).empty());
  const std::vector<uint8_t> r = Ask(MakeSpirFrame(0, 16), 4 + 16);
  ASSERT_EQ(r.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 4, r.end()), SpirSlice(0, 16));
  EXPECT_EQ(sim_->GetMisbehaviour().ignore_requests, 0);
}

TEST_F(SimulatorTest, ClosesTheLineAfterTheGivenNumberOfPages) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->CloseAfterSpirReplies(2);
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);  // not counted
  EXPECT_EQ(Ask(MakeSpirFrame(0x0000, 0x1000), 4096), SpirSlice(0x0000, 4096));
  EXPECT_TRUE(sim_->Running());
  EXPECT_EQ(Ask(MakeSpirFrame(0x1000, 0x1000), 4096), SpirSlice(0x1000, 4096));
  EXPECT_TRUE(client_->WaitForHangup()) << "line still up after the last page";
  EXPECT_TRUE(sim_->WaitUntilStopped(kSafetyTimeout));
  EXPECT_FALSE(sim_->Running());
  EXPECT_EQ(sim_->Replies().size(), 3u);
}

TEST_F(SimulatorTest, SilentMeterActsButNeverAnswers) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->SetSilent(true);
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("GETVER")).empty());
  EXPECT_TRUE(AskExpectingSilence(MakeSpirFrame(0, 0x1000)).empty());
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("KEY0")).empty());
  ASSERT_TRUE(sim_->WaitForFrames(3, kSafetyTimeout));
  EXPECT_EQ(sim_->State().view, meter_sim::View::kMagnetic);
  EXPECT_EQ(sim_->Frames()[0].outcome, "silent");
  EXPECT_TRUE(sim_->Replies().empty());

  sim_->SetSilent(false);
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);
}

TEST_F(SimulatorTest, MisbehaviourCombinesAndCanBeSetWhole) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  Misbehaviour m;
  m.junk_bytes = 3;
  m.cut_bytes = 2;
  m.split_bytes = 8;
  m.split_pause_ms = 20;
  sim_->SetMisbehaviour(m);
  const std::vector<uint8_t> r = Ask("GETVER", 3 + kVersion.size() - 2);
  ASSERT_EQ(r.size(), 3 + kVersion.size() - 2);
  EXPECT_EQ(Text(std::span<const uint8_t>(r).subspan(3)), kVersion.substr(0, kVersion.size() - 2));
  EXPECT_TRUE(client_->ReadFor(kQuietWindow).empty());
  ASSERT_TRUE(sim_->WaitForReplies(1, kSafetyTimeout));
  EXPECT_EQ(sim_->Replies().back().pieces, 4u);  // 26 bytes in pieces of 8

  sim_->ClearMisbehaviour();
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);
}

TEST_F(SimulatorTest, MisbehaviourCanBeConfiguredAtStart) {
  meter_sim::SimulatorOptions o = Fast();
  o.misbehaviour.junk_bytes = 2;
  o.misbehaviour.only_command = "GETSSN";
  ASSERT_NO_FATAL_FAILURE(StartSim(std::move(o)));
  EXPECT_EQ(Ask("GETSSN4", 9).size(), 9u);
  EXPECT_EQ(Text(Ask("GETVER", kVersion.size())), kVersion);
  EXPECT_TRUE(client_->ReadFor(kQuietWindow).empty());
}

}  // namespace
}  // namespace sim_test
