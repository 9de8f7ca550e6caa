// The port list: probing with the version command, rows in system order, the selection after
// ports came and went, and the connect button following it.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "framework/program_lock.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"
#include "support/pty.h"

namespace {

using std::chrono::milliseconds;
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
  // The rows, then the selected row's index.
  QStringList Rows() {
    QStringList rows;
    for (int i = 0; i < List()->count(); ++i) rows << List()->itemText(i);
    return rows << QString::number(List()->currentIndex());
  }
  QComboBox* List() { return window->SerialPortsPopupMenu(); }
  void Refresh() { window->RefreshPorts()->click(); }

  FakeDesktopScope desktop;
  TestPorts ports;
  Pty silent;  // opens, never answers
  meter_sim::Simulator sim{Unpaced()};
  std::unique_ptr<MAGLYX> window;
};

// A port that opens but holds no meter is listed by name, as is one that does not open.
TEST_F(PortProbeTest, FirstRefreshListsEveryPortInSystemOrderAndSelectsTheLast) {
  sim.SetSilent(true);
  ports.Set({{"silent", silent.SlavePath()}, {"missing", kMissing}, {"quiet", sim.SlavePath()}});
  Refresh();
  EXPECT_EQ(Rows(), QStringList({"silent", "missing", "quiet", "2"}));
  // Each port that opened got exactly one version request; the probe leaves the line closed.
  EXPECT_EQ(silent.Receive(milliseconds(200)), "<GETVER>>");
  ASSERT_TRUE(sim.WaitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(std::tuple(sim.Frames().size(), window->Serial1()->IsOpen()), std::tuple(1u, false));
}

TEST_F(PortProbeTest, SameNumberOfPortsAsRowsChangesNothing) {
  ports.Set({{"silent", silent.SlavePath()}, {"meter", sim.SlavePath()}});
  Refresh();
  List()->setCurrentIndex(0);
  sim.ClearLogs();
  silent.Receive(milliseconds(100));
  // Same count, other ports: the guard holds and no port is opened.
  ports.Set({{"other", kMissing}, {"meter", sim.SlavePath()}});
  Refresh();
  fw::ProgramLockHolder lock;
  window->PortListUpdater_Action(window->PortListUpdater());
  EXPECT_EQ(Rows(), QStringList({"silent", "MXR-420 EMF Meter V1.12\r\n", "0"}));
  EXPECT_EQ(sim.Frames().size() + silent.Receive(milliseconds(100)).size(), 0u);
}

// The meter shows under its whole reply; a port that goes away selects the first row, one that
// comes the last, and Connect follows whether a row is selected.
TEST_F(PortProbeTest, ThePortsComeAndGoAndTheSelectionAndConnectFollow) {
  Refresh();
  EXPECT_FALSE(List()->count() || window->ConnectButton()->isEnabled());
  ports.Set({{"a", kMissing}, {"b", silent.SlavePath()}, {"c", kMissing}});
  Refresh();
  ports.RemoveAt(0);
  Refresh();
  EXPECT_EQ(Rows(), QStringList({"b", "c", "0"}));
  ports.Add(sim.SlavePath());
  ports.Add(kMissing);
  Refresh();
  EXPECT_EQ(Rows(), QStringList({"b", "c", "MXR-420 EMF Meter V1.12\r\n", kMissing, "3"}));
  QList<bool> enabled{window->ConnectButton()->isEnabled()};
  for (int row : {-1, 1}) {
    List()->setCurrentIndex(row);
    enabled << window->ConnectButton()->isEnabled();
  }
  EXPECT_EQ(enabled, QList<bool>({true, false, true}));
}

TEST_F(PortProbeTest, RefreshWhileConnectedLeavesTheConnectionAlone) {
  ports.Set({{"meter", sim.SlavePath()}});
  Refresh();
  window->ConnectButton()->click();
  ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
  window->GSTimer()->SetMode(fw::Timer::kModeOff);
  ports.Add(silent.SlavePath());
  Refresh();
  EXPECT_EQ(
      std::tuple(List()->count(), window->Serial1()->IsOpen(), silent.Receive(milliseconds(200))),
      std::tuple(1, true, ""));
  // After the disconnect the port timer catches up with the new port.
  window->ConnectButton()->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return List()->count() == 2; }, 5000));
}

}  // namespace
