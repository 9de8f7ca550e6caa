// The port list: probing with the version command, rows in system order, the
// selection after ports came and went, and the connect button following it.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "framework/program_lock.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"
#include "support/pty.h"

namespace {

const char* kMissing = "/nonexistent/ttyMISSING";

meter_sim::SimulatorOptions Unpaced() {
  meter_sim::SimulatorOptions options;
  options.paced = false;
  options.latency_ms = 1;
  return options;
}

class PortProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    sim.Start();
    window = std::make_unique<MAGLYX>();
  }
  QStringList Rows() {
    QStringList rows;
    for (int i = 0; i < List()->count(); ++i) rows << List()->itemText(i);
    return rows;
  }
  QComboBox* List() { return window->SerialPortsPopupMenu(); }
  void Refresh() { window->RefreshPorts()->click(); }

  FakeDesktopScope desktop;
  TestPorts ports;
  Pty silent;  // opens, never answers
  meter_sim::Simulator sim{Unpaced()};
  std::unique_ptr<MAGLYX> window;
};

TEST_F(PortProbeTest, FirstRefreshListsEveryPortInSystemOrder) {
  ports.Set({{"silent", silent.SlavePath()}, {"missing", kMissing}, {"meter", sim.SlavePath()}});
  Refresh();
  const QStringList rows = Rows();
  ASSERT_EQ(rows.size(), 3);
  EXPECT_EQ(rows[0], "silent");
  EXPECT_EQ(rows[1], "missing");
  // The meter shows under its whole reply, line end included.
  EXPECT_TRUE(rows[2].contains("EMF"));
  EXPECT_TRUE(rows[2].endsWith("\r\n"));
  // Three ports came: the last row is selected.
  EXPECT_EQ(List()->currentIndex(), 2);
  EXPECT_TRUE(window->ConnectButton()->isEnabled());
  // Each port that opened got exactly one version request; the probe leaves
  // the line closed.
  EXPECT_EQ(silent.Receive(std::chrono::milliseconds(200)), "<GETVER>>");
  ASSERT_TRUE(sim.WaitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(sim.Frames().size(), 1u);
  EXPECT_FALSE(window->Serial1()->IsOpen());
}

TEST_F(PortProbeTest, SameNumberOfPortsAsRowsChangesNothing) {
  ports.Set({{"silent", silent.SlavePath()}, {"meter", sim.SlavePath()}});
  Refresh();
  List()->setCurrentIndex(0);
  sim.ClearLogs();
  silent.Receive(std::chrono::milliseconds(100));
  // Same count, other ports: the guard holds and no port is opened.
  ports.Set({{"other", kMissing}, {"meter", sim.SlavePath()}});
  Refresh();
  fw::ProgramLockHolder lock;
  window->PortListUpdater_Action(window->PortListUpdater());
  EXPECT_EQ(Rows()[0], "silent");
  EXPECT_EQ(List()->currentIndex(), 0);
  EXPECT_TRUE(sim.Frames().empty());
  EXPECT_EQ(silent.Receive(std::chrono::milliseconds(100)), "");
}

TEST_F(PortProbeTest, APortThatGoesAwaySelectsTheFirstRowAndOneThatComesTheLast) {
  ports.Set({{"a", kMissing}, {"b", silent.SlavePath()}, {"c", kMissing}});
  Refresh();
  ports.RemoveAt(0);
  Refresh();
  EXPECT_EQ(Rows(), QStringList({"b", "c"}));
  EXPECT_EQ(List()->currentIndex(), 0);
  ports.Add(sim.SlavePath());
  ports.Add(kMissing);
  Refresh();
  ASSERT_EQ(Rows().size(), 4);
  EXPECT_TRUE(Rows()[2].contains("EMF"));
  EXPECT_EQ(List()->currentIndex(), 3);
}

TEST_F(PortProbeTest, AReplyWithoutTheMeterMarkIsListedByName) {
  sim.SetSilent(true);
  ports.Set({{"quiet meter", sim.SlavePath()}, {"missing", kMissing}});
  Refresh();
  EXPECT_EQ(Rows(), QStringList({"quiet meter", "missing"}));
}

TEST_F(PortProbeTest, ConnectFollowsWhetherARowIsSelected) {
  Refresh();  // no ports, no rows
  EXPECT_EQ(List()->count(), 0);
  EXPECT_FALSE(window->ConnectButton()->isEnabled());
  ports.Set({{"a", kMissing}, {"b", kMissing}});
  Refresh();
  EXPECT_TRUE(window->ConnectButton()->isEnabled());
  List()->setCurrentIndex(-1);
  EXPECT_FALSE(window->ConnectButton()->isEnabled());
  List()->setCurrentIndex(1);
  EXPECT_TRUE(window->ConnectButton()->isEnabled());
}

TEST_F(PortProbeTest, RefreshWhileConnectedLeavesTheConnectionAlone) {
  ports.Set({{"meter", sim.SlavePath()}});
  Refresh();
  window->ConnectButton()->click();
  ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
  sim.ClearLogs();
  ports.Add(silent.SlavePath());
  Refresh();
  EXPECT_EQ(List()->count(), 1);
  EXPECT_TRUE(window->Serial1()->IsOpen());
  EXPECT_EQ(silent.Receive(std::chrono::milliseconds(200)), "");
  // After the disconnect the port timer catches up with the new port.
  window->ConnectButton()->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return List()->count() == 2; }, 5000));
}

}  // namespace
