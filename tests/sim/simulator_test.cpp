#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "sim_fixture.h"

namespace sim_test {
namespace {

using meter_sim::Frame;
using meter_sim::FrameRecord;
using meter_sim::kEndMarker;
using meter_sim::Key;
using meter_sim::kScreenFrameBytes;
using meter_sim::kSlotInfoBytes;
using meter_sim::MakeFrame;
using meter_sim::MakeSpirFrame;

bool EndsWithCrLf(const std::vector<uint8_t>& r) {
  return r.size() > 2 && r[r.size() - 2] == '\r' && r.back() == '\n';
}

TEST_F(SimulatorTest, AnswersEveryCommandOverThePty) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  const std::vector<uint8_t> version = Ask("GETVER", 25);
  EXPECT_EQ(Text(version), "MXR-420 EMF Meter V1.12\r\n");
  for (const char* cmd : {"GETSERIAL", "DSID"}) {
    client_->Write(MakeFrame(cmd));
    // Text replies have no fixed length: read up to the line end.
    std::vector<uint8_t> reply;
    while (!EndsWithCrLf(reply)) {
      const std::vector<uint8_t> more = client_->ReadExactly(1);
      ASSERT_EQ(more.size(), 1u) << cmd << " reply incomplete: " << Text(reply);
      reply.push_back(more[0]);
    }
    EXPECT_GT(reply.size(), 4u);
  }
  const std::vector<uint8_t> screen = Ask("GETSCREEN", kScreenFrameBytes);
  ASSERT_EQ(screen.size(), kScreenFrameBytes);
  EXPECT_EQ(screen.back(), kEndMarker);

  for (const char* slot : {"GETSSN1", "GETSSN4"}) {
    const std::vector<uint8_t> info = Ask(slot, kSlotInfoBytes);
    ASSERT_EQ(info.size(), kSlotInfoBytes) << slot;
    EXPECT_EQ(info.back(), kEndMarker) << slot;
  }
  for (const char* slot : {"GETSS2", "GETSS4"}) {
    const std::vector<uint8_t> shot = Ask(slot, kScreenFrameBytes);
    ASSERT_EQ(shot.size(), kScreenFrameBytes) << slot;
    EXPECT_EQ(shot.back(), kEndMarker) << slot;
  }
  const std::vector<uint8_t> page = Ask(MakeSpirFrame(0x002000, 0x1000), 4096);
  EXPECT_EQ(page, SpirSlice(0x2000, 4096));

  EXPECT_EQ(Text(Ask("FACTORYRESET", 4)), "OK\r\n");
  EXPECT_EQ(Text(Ask("REBOOT", 4)), "OK\r\n");
  // Nothing else is on the line: every reply had exactly its length.
  EXPECT_TRUE(client_->ReadFor(kQuietWindow).empty());
}

TEST_F(SimulatorTest, KeysAndUnknownCommandsAreSilentAndNothingIsEchoed) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  // An echoing line would hand the frames straight back.
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("KEY0")).empty());
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("NOSUCH")).empty());
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("GETSSN7")).empty());
  ASSERT_TRUE(sim_->WaitForFrames(3, kSafetyTimeout));
  EXPECT_EQ(sim_->State().view, meter_sim::View::kMagnetic);
  // And the simulator did not read its own output back as frames.
  EXPECT_EQ(sim_->Frames().size(), 3u);
}

TEST_F(SimulatorTest, PacedModeDeliversASmallReply) {
  meter_sim::SimulatorOptions o;  // paced, default latency
  ASSERT_TRUE(o.paced);
  ASSERT_NO_FATAL_FAILURE(StartSim(std::move(o)));
  EXPECT_EQ(Text(Ask("GETVER", 25)), "MXR-420 EMF Meter V1.12\r\n");
  EXPECT_EQ(Ask("GETSSN2", 7).size(), 7u);
}

TEST_F(SimulatorTest, SpirArgumentsThatLookLikeFrameBytes) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  for (uint32_t address : {0x3C3E00u, 0x3E3E3Cu, 0x003C3Eu, 0x000000u}) {
    EXPECT_EQ(Ask(MakeSpirFrame(address, 0x1000), 4096), SpirSlice(address, 4096))
        << std::hex << address;
  }
  // Lengths of '>' (62) and '<' bytes (0x3C3E).
  EXPECT_EQ(Ask(MakeSpirFrame(0x10, 0x003E), 0x3E), SpirSlice(0x10, 0x3E));
  EXPECT_EQ(Ask(MakeSpirFrame(0x10, 0x3C3E), 0x3C3E), SpirSlice(0x10, 0x3C3E));
  EXPECT_TRUE(client_->ReadFor(kQuietWindow).empty());
}

TEST_F(SimulatorTest, SpirReadsWrapAroundTheEnd) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  const std::vector<uint8_t> r = Ask(MakeSpirFrame(0x0FFC00, 0x1000), 4096);
  ASSERT_EQ(r.size(), 4096u);
  const std::vector<uint8_t>& mem = sim_->Memory();
  EXPECT_TRUE(std::equal(r.begin(), r.begin() + 1024, mem.end() - 1024));
  EXPECT_TRUE(std::equal(r.begin() + 1024, r.end(), mem.begin()));
}

TEST_F(SimulatorTest, GarbageAndFramesTrickledByteByByte) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  client_->Write(std::vector<uint8_t>{0x00, 0xFF, '>', '>', 'x', '<', 'b', 'a', 'd'});
  const std::vector<uint8_t> frame = MakeSpirFrame(0x3E3C3E, 0x0010);
  for (uint8_t b : frame) {
    client_->Write(std::vector<uint8_t>{b});
    std::this_thread::sleep_for(std::chrono::milliseconds(3));  // separate reads
  }
  EXPECT_EQ(client_->ReadExactly(16), SpirSlice(0x3E3C3E, 16));
  ASSERT_TRUE(sim_->WaitForFrames(1, kSafetyTimeout));
  EXPECT_EQ(sim_->Frames().size(), 1u);
}

TEST_F(SimulatorTest, FramesSentTogetherAreAnsweredInOrder) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  std::vector<uint8_t> burst;
  for (const auto& f :
       {MakeFrame("GETSSN4"), MakeSpirFrame(0, 8), MakeFrame("KEY1"), MakeFrame("GETSSN1")}) {
    burst.insert(burst.end(), f.begin(), f.end());
  }
  client_->Write(burst);
  const std::vector<uint8_t> r = client_->ReadExactly(7 + 8 + 7);
  ASSERT_EQ(r.size(), 22u);
  EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 7),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}));
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 7, r.begin() + 15), SpirSlice(0, 8));
  EXPECT_EQ(r[15], 26);
  EXPECT_EQ(r[21], kEndMarker);
}

TEST_F(SimulatorTest, SurvivesThePortBeingClosedAndReopened) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  for (int i = 0; i < 5; ++i) {
    client_->Close();
    client_ = std::make_unique<PtyClient>(sim_->SlavePath());
    ASSERT_TRUE(client_->IsOpen()) << client_->Error();
    EXPECT_EQ(Ask("GETSSN2", 7).size(), 7u) << "round " << i;
  }
  EXPECT_TRUE(sim_->Running());
}

TEST_F(SimulatorTest, LogsEveryFrameWithTimeHexAndOutcome) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("KEY3")).empty());
  EXPECT_EQ(Ask("GETSSN1", 7).size(), 7u);
  EXPECT_TRUE(AskExpectingSilence(MakeFrame("XYZ")).empty());
  Ask(MakeSpirFrame(0x3C0000, 2), 2);
  ASSERT_TRUE(sim_->WaitForFrames(4, kSafetyTimeout));
  const std::vector<FrameRecord> log = sim_->Frames();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].name, "KEY3");
  EXPECT_EQ(log[0].hex, "3C 4B 45 59 33 3E 3E");
  EXPECT_EQ(log[0].outcome, "no reply");
  EXPECT_EQ(log[1].name, "GETSSN");
  EXPECT_EQ(log[1].arg, std::vector<uint8_t>{'1'});
  EXPECT_EQ(log[1].outcome, "reply");
  EXPECT_EQ(log[2].name, "XYZ");
  EXPECT_EQ(log[2].outcome, "no reply");
  EXPECT_EQ(log[3].name, "SPIR");
  EXPECT_EQ(log[3].hex, "3C 53 50 49 52 3C 00 00 00 02 3E 3E");
  for (std::size_t i = 1; i < log.size(); ++i) EXPECT_GE(log[i].time_s, log[i - 1].time_s);

  ASSERT_TRUE(sim_->WaitForReplies(2, kSafetyTimeout));
  const auto replies = sim_->Replies();
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[1].command, "SPIR");
  EXPECT_EQ(replies[1].bytes, 2u);
  EXPECT_TRUE(replies[1].complete);

  sim_->ClearLogs();
  EXPECT_TRUE(sim_->Frames().empty());
  EXPECT_FALSE(sim_->WaitForFrames(1, std::chrono::milliseconds(1)));
}

TEST_F(SimulatorTest, LinkPointsToTheDeviceAndIsRemovedOnStop) {
  const std::filesystem::path link =
      std::filesystem::temp_directory_path() / ("meter_sim_link_" + std::to_string(::getpid()));
  std::filesystem::remove(link);
  meter_sim::SimulatorOptions o = Fast();
  o.link_path = link.string();
  ASSERT_NO_FATAL_FAILURE(StartSim(std::move(o)));
  ASSERT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim_->SlavePath());

  PtyClient via_link(link.string());
  ASSERT_TRUE(via_link.IsOpen()) << via_link.Error();
  via_link.Write(MakeFrame("GETSSN3"));
  EXPECT_EQ(via_link.ReadExactly(7).size(), 7u);

  sim_->Stop();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(SimulatorTest, RefusesToReplaceARegularFileWithTheLink) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("meter_sim_notalink_" + std::to_string(::getpid()));
  { std::ofstream(file) << "keep me"; }
  meter_sim::SimulatorOptions o = Fast();
  o.link_path = file.string();
  meter_sim::Simulator sim(std::move(o));
  EXPECT_THROW(sim.Start(), std::runtime_error);
  EXPECT_FALSE(sim.Running());
  EXPECT_TRUE(std::filesystem::is_regular_file(file));
  std::filesystem::remove(file);
}

TEST_F(SimulatorTest, StopInterruptsAReplyInProgress) {
  meter_sim::SimulatorOptions o;
  o.baud = 1200;  // a 4096-byte page would take 34 s
  ASSERT_NO_FATAL_FAILURE(StartSim(std::move(o)));
  client_->Write(MakeSpirFrame(0, 0x1000));
  ASSERT_TRUE(sim_->WaitForFrames(1, kSafetyTimeout));
  sim_->Stop();
  EXPECT_FALSE(sim_->Running());
  const auto replies = sim_->Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_FALSE(replies[0].complete);
  EXPECT_LT(replies[0].bytes, 4096u);
}

TEST_F(SimulatorTest, KeysPressedInProcessShowOnTheLine) {
  ASSERT_NO_FATAL_FAILURE(StartSim());
  sim_->PressKey(Key::kPower);
  EXPECT_FALSE(sim_->State().power_on);
  std::vector<uint8_t> blank(meter_sim::kImageBytes, 0);
  blank.push_back(kEndMarker);
  EXPECT_EQ(Ask("GETSCREEN", kScreenFrameBytes), blank);
  EXPECT_EQ(sim_->Screen(), meter_sim::ScreenImage{});
  sim_->PressKey(Key::kPower);
  EXPECT_NE(Ask("GETSCREEN", kScreenFrameBytes), blank);
}

TEST_F(SimulatorTest, MeterTimeStartsAtZeroAndRuns) {
  meter_sim::Simulator idle(Fast());
  EXPECT_EQ(idle.Now(), 0.0);
  EXPECT_FALSE(idle.Running());
  ASSERT_NO_FATAL_FAILURE(StartSim());
  const double a = sim_->Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GT(sim_->Now(), a);
}

}  // namespace
}  // namespace sim_test
