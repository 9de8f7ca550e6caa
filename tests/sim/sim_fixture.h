// A simulator on a real pseudo-terminal with a client on its slave side.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "meter_sim/simulator.h"
#include "pty_client.h"

namespace sim_test {

class SimulatorTest : public ::testing::Test {
 protected:
  // Unpaced and without latency, so the tests run quickly.
  static meter_sim::SimulatorOptions Fast() {
    meter_sim::SimulatorOptions o;
    o.paced = false;
    o.latency_ms = 0;
    return o;
  }

  void StartSim(meter_sim::SimulatorOptions options = Fast()) {
    sim_ = std::make_unique<meter_sim::Simulator>(std::move(options));
    sim_->Start();
    ASSERT_TRUE(sim_->Running());
    ASSERT_FALSE(sim_->SlavePath().empty());
    client_ = std::make_unique<PtyClient>(sim_->SlavePath());
    ASSERT_TRUE(client_->IsOpen()) << client_->Error();
  }

  std::vector<uint8_t> Ask(const std::vector<uint8_t>& frame, std::size_t reply_bytes) {
    client_->Write(frame);
    return client_->ReadExactly(reply_bytes);
  }
  std::vector<uint8_t> Ask(const std::string& command, std::size_t reply_bytes) {
    return Ask(meter_sim::MakeFrame(command), reply_bytes);
  }
  // Sends a frame that must get no answer, and shows that none comes.
  std::vector<uint8_t> AskExpectingSilence(const std::vector<uint8_t>& frame) {
    client_->Write(frame);
    return client_->ReadFor(kQuietWindow);
  }

  std::vector<uint8_t> SpirSlice(uint32_t address, std::size_t length) const {
    const std::vector<uint8_t>& mem = sim_->Memory();
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < length; ++i) out.push_back(mem[(address + i) % mem.size()]);
    return out;
  }

  // How long to listen to be sure nothing comes. The simulator never sends
  // on its own, so waiting longer only slows the test; it cannot flake.
  static constexpr std::chrono::milliseconds kQuietWindow{300};

  std::unique_ptr<meter_sim::Simulator> sim_;
  std::unique_ptr<PtyClient> client_;
};

}  // namespace sim_test
