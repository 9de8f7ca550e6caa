// The port list: probing with the version command, rows in system order, the selection after
// ports came and went, and the connect button following it.

#include "support/meter_window.h"
#include "support/pty.h"

namespace {

using std::chrono::milliseconds;
const char* kMissing = "/nonexistent/ttyMISSING";

class PortProbeTest : public MeterWindow {
 protected:
  void SetUp() override { sim = StartMeter(); }
  // The rows, then the selected row's index.
  QStringList Rows() {
    QStringList rows;
    for (int i = 0; i < List()->count(); ++i) rows << List()->itemText(i);
    return rows << QString::number(List()->currentIndex());
  }
  QComboBox* List() { return window->SerialPortsPopupMenu(); }
  void Refresh() { window->RefreshPorts()->click(); }

  Pty silent;  // opens, never answers
};

// A port that opens but holds no meter is listed by name, as is one that does not open.
TEST_F(PortProbeTest, FirstRefreshListsEveryPortInSystemOrderAndSelectsTheLast) {
  sim->SetSilent(true);
  ports.Set({{"silent", silent.SlavePath()}, {"missing", kMissing}, {"quiet", sim->SlavePath()}});
  Refresh();
  EXPECT_EQ(Rows(), QStringList({"silent", "missing", "quiet", "2"}));
  // Each port that opened got exactly one version request; the probe leaves the line closed.
  EXPECT_EQ(silent.Receive(milliseconds(200)), "<GETVER>>");
  ASSERT_TRUE(sim->WaitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(std::tuple(sim->Frames().size(), window->Serial1()->IsOpen()), std::tuple(1u, false));
}

TEST_F(PortProbeTest, SameNumberOfPortsAsRowsChangesNothing) {
  ports.Set({{"silent", silent.SlavePath()}, {"meter", sim->SlavePath()}});
  Refresh();
  List()->setCurrentIndex(0);
  sim->ClearLogs();
  silent.Receive(milliseconds(100));
  // Same count, other ports: the guard holds and no port is opened.
  ports.Set({{"other", kMissing}, {"meter", sim->SlavePath()}});
  Refresh();
  fw::ProgramLockHolder lock;
  window->PortListUpdater_Action(window->PortListUpdater());
  EXPECT_EQ(Rows(), QStringList({"silent", "MXR-420 EMF Meter V1.12\r\n", "0"}));
  EXPECT_EQ(sim->Frames().size() + silent.Receive(milliseconds(100)).size(), 0u);
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
  ports.Add(sim->SlavePath());
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
  Connect(std::move(sim));
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
