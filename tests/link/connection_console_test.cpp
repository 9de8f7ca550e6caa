// Connecting and disconnecting, the mailbox and the console, against a
// pseudo-terminal that the test plays as the meter.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

#include "framework/program_lock.h"
#include "mainwindow/maglyx.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"
#include "support/pty.h"

namespace {

using std::chrono::milliseconds;

class LinkTest : public testing::Test {
 protected:
  void SetUp() override {
    ports.Set({{"meter", meter.SlavePath()}});
    window = std::make_unique<MAGLYX>();
    window->RefreshPorts()->click();
    meter.Receive(milliseconds(100));  // the probe's version request
  }
  void Connect() {
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
  }
  QString Console() { return window->SerialText()->Text(); }
  QString Counter() { return window->SerialSize()->text(); }
  // Lets the console timer pick up what the meter sent.
  bool WaitForCounter(const QString& value) {
    return QTest::qWaitFor([&] { return Counter() == value; }, 5000);
  }
  // Runs one console tick by hand (with the console timer stopped).
  void Tick() {
    fw::ProgramLockHolder lock;
    window->SerialTimer_Action(window->SerialTimer());
  }
  void StopConsoleTimer() { window->SerialTimer()->SetMode(fw::Timer::kModeOff); }

  FakeDesktopScope desktop;
  TestPorts ports;
  Pty meter;
  std::unique_ptr<MAGLYX> window;
};

TEST_F(LinkTest, ConnectAndDisconnectSwitchTheWindowsState) {
  meter.Send("stale bytes");
  QTest::qWait(100);
  for (int twice = 0; twice < 2; ++twice) {
    Connect();
    EXPECT_TRUE(window->Serial1()->IsOpen());
    EXPECT_FALSE(window->SerialPortsPopupMenu()->isEnabled());
    EXPECT_EQ(window->PortListUpdater()->Mode(), fw::Timer::kModeOff);
    EXPECT_TRUE(window->SendCommand1()->isEnabled());
    EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeMultiple);
    // Connecting sends nothing, and what was waiting before is not shown.
    EXPECT_EQ(meter.Receive(milliseconds(200)), "");
    EXPECT_EQ(Counter(), "19");

    window->ConnectButton()->click();
    EXPECT_EQ(window->ConnectButton()->text(), "Connect");
    EXPECT_FALSE(window->Serial1()->IsOpen());
    EXPECT_TRUE(window->SerialPortsPopupMenu()->isEnabled());
    EXPECT_EQ(window->PortListUpdater()->Mode(), fw::Timer::kModeMultiple);
    EXPECT_FALSE(window->SendCommand2()->isEnabled());
    EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);
  }
}

TEST_F(LinkTest, APortThatWillNotOpenBeepsThenSaysSo) {
  // A missing device, then a row whose port was unplugged since the list was built.
  ports.Set({{"meter", meter.SlavePath()}, {"gone", "/nonexistent/ttyGONE"}});
  window->RefreshPorts()->click();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) ports.Set({});
    desktop->Clear();
    window->SerialPortsPopupMenu()->setCurrentIndex(1);
    window->ConnectButton()->click();
    EXPECT_EQ(desktop->events, (std::vector<std::string>{
                                   "beep", "msg:The selected serial port could not be opened."}));
    EXPECT_EQ(window->ConnectButton()->text(), "Connect");
    EXPECT_TRUE(window->SerialPortsPopupMenu()->isEnabled());
    EXPECT_FALSE(window->SendCommand1()->isEnabled());
  }
}

TEST_F(LinkTest, TheConsoleAppendsWhatArrivesAsTextOrHexAndCounts) {
  Connect();
  meter.Send("AB");
  ASSERT_TRUE(WaitForCounter("21"));
  meter.Send("C");
  ASSERT_TRUE(WaitForCounter("22"));
  EXPECT_EQ(Console(), "Welcome to MAGLYX!\nABC");
  // Switching keeps what is shown; only later bytes come as hex.
  window->HEXButton()->click();
  meter.Send("AB");
  ASSERT_TRUE(WaitForCounter("24"));
  meter.Send("C");
  ASSERT_TRUE(WaitForCounter("25"));
  EXPECT_EQ(Console(), "Welcome to MAGLYX!\nABC41 42 43 ");
}

TEST_F(LinkTest, ClearEmptiesTheConsoleAndDropsWhatIsPending) {
  Connect();
  StopConsoleTimer();
  meter.Send("pending");
  QTest::qWait(200);  // let the line take it in
  window->ClearButton()->click();
  EXPECT_EQ(Console(), "");
  EXPECT_EQ(Counter(), "0");
  Tick();
  EXPECT_EQ(Console(), "");
  EXPECT_EQ(Counter(), "0");
  meter.Send("Z");
  QTest::qWait(200);
  Tick();
  EXPECT_EQ(Console(), "Z");
  EXPECT_EQ(Counter(), "1");
}

TEST_F(LinkTest, TheMailboxSendsTheLatestTextOnceAndWaitsOutADownload) {
  window->Command2()->setText("abc");
  {
    fw::ProgramLockHolder lock;
    window->SendCommand2_Action(window->SendCommand2());
  }
  EXPECT_TRUE(window->TxBuffer.empty()) << "the free command goes out only while connected";
  Connect();
  StopConsoleTimer();
  window->SendCommand1()->click();
  window->Command1()->setCurrentIndex(1);
  window->SendCommand1()->click();
  Tick();
  EXPECT_EQ(meter.Receive(), "<GETSERIAL>>");  // only the latest, once
  Tick();
  EXPECT_EQ(meter.Receive(milliseconds(100)), "");
  QTest::keyClick(window->Command2(), Qt::Key_Return);  // presses the field's "Send"
  Tick();
  EXPECT_EQ(meter.Receive(), "abc");
  // An empty free command empties a waiting one.
  window->SendCommand1()->click();
  window->Command2()->setText("");
  window->SendCommand2()->click();
  EXPECT_TRUE(window->TxBuffer.empty());
  // Nothing moves while a download owns the line; then the waiting text goes out.
  window->download_started = true;
  window->SendCommand1()->click();
  meter.Send("late");
  QTest::qWait(200);
  Tick();
  EXPECT_EQ(meter.Receive(milliseconds(100)), "");
  EXPECT_EQ(Counter(), "19");
  window->download_started = false;
  Tick();
  EXPECT_EQ(meter.Receive(), "<GETSERIAL>>");
  EXPECT_EQ(Counter(), "23");
}

TEST_F(LinkTest, CommandsAreNotEchoedAndTheConsoleFollowsTheEnd) {
  Connect();
  window->SendCommand1()->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->TxBuffer.empty(); }, 5000));
  EXPECT_EQ(meter.Receive(), "<GETVER>>");
  std::string many;
  for (int i = 0; i < 40; ++i) many += "line " + std::to_string(i) + "\r\n";
  meter.Send(many);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Console().endsWith("line 39\n"); }, 5000));
  EXPECT_FALSE(Console().contains("<GETVER>>"));
  // The end stays in view: six lines above the last, as far as it scrolls.
  fw::TextArea* area = window->SerialText();
  const int wanted = area->LineNumAtCharPos(area->Length()) - 6;
  EXPECT_EQ(area->ScrollPosition(), std::min(wanted, area->verticalScrollBar()->maximum()));
  EXPECT_GT(area->ScrollPosition(), 0);
}

}  // namespace
