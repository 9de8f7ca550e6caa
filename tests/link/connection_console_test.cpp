// How received bytes read in the console's two views; connecting and disconnecting, the mailbox
// and the console, against a pseudo-terminal that the test plays as the meter.

#include <QLineEdit>
#include <QRadioButton>

#include "link/console_text.h"
#include "support/meter_window.h"
#include "support/pty.h"

namespace {

using std::chrono::milliseconds;

// The console text for successive reads, in the ASCII or the HEX view.
QString View(const std::vector<std::string>& reads, bool hex = false) {
  ConsoleLine line;
  QString text;
  for (const std::string& read : reads)
    text += hex ? ConsoleHexText(read, line) : ConsoleAsciiText(read, line);
  return text;
}

TEST(ConsoleAscii, ReadsRunOnAndEveryKindOfLineEndEndsOneLine) {
  const QString dot(QChar(0x00B7));  // unprintable bytes show as dots
  const std::pair<std::vector<std::string>, QString> cases[] = {
      {{"a\r\nb\rc\n\nd\r\re\n\rf"}, "a\nb\nc\n\nd\n\ne\n\nf"},
      // A CR LF split between reads, even with an empty read between, is one line end;
      // only the LF right after the CR belongs to it.
      {{"OK\r", "\nNEXT"}, "OK\nNEXT"},
      {{"OK\r", "", "\n"}, "OK\n"},
      {{"OK\r", "X\n"}, "OK\nX\n"},
      {{std::string("A\0B\x1b[\x7f\x80\xaa\xff\tb ~", 13)},
       "A" + dot + "B" + dot + "[" + dot + dot + dot + dot + "\tb ~"},
  };
  for (const auto& [reads, text] : cases) EXPECT_EQ(View(reads), text) << text.toStdString();
  // An endless line is broken across reads.
  const std::string half(kAsciiMaxLine / 2 + 10, 'x');
  QList<qsizetype> sizes;
  for (const QString& line : View({half, half, "\r\n", half}).split('\n')) sizes << line.size();
  EXPECT_EQ(sizes, (QList<qsizetype>{kAsciiMaxLine, 20, kAsciiMaxLine / 2 + 10}));
}

TEST(ConsoleHex, PairsRunOnSixteenBytesToALineWhereverTheReadsSplit) {
  EXPECT_EQ(View({std::string("\x00\xff\r", 3), "", "\n"}, true), "00 FF 0D 0A ");
  const QStringList lines =
      View({std::string(10, 'A'), std::string(10, 'B'), std::string(20, 'C')}, true).split('\n');
  EXPECT_EQ(lines, QStringList({QString("41 ").repeated(10) + QString("42 ").repeated(6),
                                QString("42 ").repeated(4) + QString("43 ").repeated(12),
                                QString("43 ").repeated(8)}));
  // Switching views starts the line count anew.
  ConsoleLine line;
  EXPECT_EQ(ConsoleAsciiText("ok\r", line), "ok\n");
  EXPECT_EQ(ConsoleHexText(std::string(16, '\n'), line), QString("0A ").repeated(16));
  // Back in ASCII the CR before the switch no longer joins an LF.
  EXPECT_EQ(ConsoleAsciiText("\nz", line), "\nz");
}

// The window's own fixture, with a pseudo-terminal in place of the simulator: the test plays the
// meter byte by byte.
class LinkTest : public MeterWindow {
 protected:
  void SetUp() override {
    ports.Set({{"meter", meter.SlavePath()}});
    window->RefreshPorts()->click();
    meter.Receive(milliseconds(100));  // the probe's version request
  }
  // The display capture the connection starts is not the point here: it is switched off.
  void Connect() {
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
    window->GSTimer()->SetMode(fw::Timer::kModeOff);
  }
  QString Console() { return window->SerialText()->Text(); }
  QString Counter() { return window->SerialSize()->text(); }
  // Connect's caption, whether the port is open, how many of the controls that need a connection
  // are enabled, whether the port list is, and the modes of the port list's and the mirror's
  // timers.
  auto State() {
    int enabled = 0;
    for (QWidget* control :
         {window->SendCommand1(), window->SendCommand2(), window->DHButton(), window->DSButton(),
          window->OnOff(), window->ZoomIn(), window->ZoomOut(), window->SyncTime()})
      enabled += control->isEnabled();
    return std::tuple(window->ConnectButton()->text().toStdString(), window->Serial1()->IsOpen(),
                      enabled, window->SerialPortsPopupMenu()->isEnabled(),
                      window->PortListUpdater()->Mode(), window->GSTimer()->Mode());
  }
  // Lets the line take in what the meter sent, then runs one console tick by hand (with the
  // console timer stopped).
  void Tick() {
    QTest::qWait(200);
    fw::ProgramLockHolder lock;
    window->SerialTimer_Action(window->SerialTimer());
  }

  Pty meter;
};

TEST_F(LinkTest, ConnectAndDisconnectSwitchTheWindowsState) {
  meter.Send("stale bytes");
  QTest::qWait(100);
  window->ConnectButton()->click();
  EXPECT_EQ(State(), std::tuple("Disconnect", true, 8, false, 0, 2));
  // Connecting sends nothing but the mirror's requests, and what was waiting before is not shown.
  QTest::qWait(300);  // for the console timer
  EXPECT_EQ(Counter() + QString(meter.Receive(milliseconds(100)).c_str()).remove("<GETSCREEN>>"),
            "19");
  // The mirror stops too: its captures would take the port list probe's replies.
  window->ConnectButton()->click();
  EXPECT_EQ(State(), std::tuple("Connect", false, 0, true, 2, 0));
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
    EXPECT_EQ(State(), std::tuple("Connect", false, 0, true, 0, 0));
  }
}

TEST_F(LinkTest, TheConsoleShowsWhatArrivesAsTextOrHexCountsFollowsTheEndAndClears) {
  Connect();
  meter.Send("ABC");
  ASSERT_TRUE(WaitUntil([&] { return Counter() == "22"; }));  // the console timer took it in
  // Switching keeps what is shown; only later bytes come as hex.
  window->HEXButton()->click();
  meter.Send(std::string(800, 'D'));
  ASSERT_TRUE(WaitUntil([&] { return Counter() == "822"; }));
  EXPECT_TRUE(Console().startsWith("Welcome to MAGLYX!\nABC44 44 "));
  // The end stays in view (where exactly is ScrollDown's own test).
  EXPECT_GT(window->SerialText()->ScrollPosition(), 0);
  // Clear empties the console and drops what is pending.
  window->SerialTimer()->SetMode(fw::Timer::kModeOff);
  meter.Send("pending");
  QTest::qWait(200);
  window->ClearButton()->click();
  Tick();
  EXPECT_EQ(Console() + " " + Counter(), " 0");
  meter.Send("Z");
  Tick();
  EXPECT_EQ(Console() + " " + Counter(), "5A  1");
}

TEST_F(LinkTest, TheMailboxSendsTheLatestTextOnceUnechoedAndWaitsOutADownload) {
  window->Command2()->setText("abc");
  window->SendCommand2()->setEnabled(true);  // its handler reads the connection state itself
  window->SendCommand2()->click();
  EXPECT_TRUE(window->TxBuffer.empty()) << "the free command goes out only while connected";
  Connect();
  window->SerialTimer()->SetMode(fw::Timer::kModeOff);
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
  Tick();
  EXPECT_EQ(Counter() + meter.Receive(milliseconds(100)).c_str(), "19");
  window->download_started = false;
  Tick();
  EXPECT_EQ(meter.Receive(), "<GETSERIAL>>");
  EXPECT_EQ(Console(), "Welcome to MAGLYX!\nlate");  // commands are not echoed
}

}  // namespace
