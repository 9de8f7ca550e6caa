// A person's road through the program, with the simulator as the meter:
// find it in the port list, connect, talk to it in the console, download its
// history into a CSV file.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "support/fake_desktop.h"
#include "support/history_files.h"

namespace {

namespace fs = std::filesystem;

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    meter_sim::MemoryOptions memory;
    memory.pages = 4;
    meter_sim::SimulatorOptions options;  // paced at 115200 baud, as a real meter
    options.meter = meter_sim::DefaultMeterConfig(memory);
    sim = std::make_unique<meter_sim::Simulator>(options);
    sim->Start();
    // The program's own port listing, reaching the simulator as a user would.
    setenv("MAGLYX_EXTRA_PORTS", sim->SlavePath().c_str(), 1);
    fw::SetPortSource(fw::MakeSystemPortSource());
    window = std::make_unique<MAGLYX>();
  }
  void TearDown() override {
    window.reset();
    sim.reset();
    unsetenv("MAGLYX_EXTRA_PORTS");
  }
  int MeterRow() {
    QComboBox* list = window->SerialPortsPopupMenu();
    for (int i = 0; i < list->count(); ++i)
      if (list->itemText(i).contains("EMF")) return i;
    return -1;
  }
  void FindAndConnect() {
    window->RefreshPorts()->click();
    const int row = MeterRow();
    ASSERT_GE(row, 0) << "the simulator is not in the port list";
    EXPECT_EQ(window->SerialPortsPopupMenu()->itemText(row).toStdString(),
              "MXR-420 EMF Meter V1.12\r\n");
    window->SerialPortsPopupMenu()->setCurrentIndex(row);
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
  }
  QString Console() { return window->SerialText()->Text(); }

  FakeDesktopScope desktop;
  std::unique_ptr<meter_sim::Simulator> sim;
  std::unique_ptr<MAGLYX> window;
};

TEST_F(EndToEnd, FindTheMeterConnectAndTalkToIt) {
  FindAndConnect();
  window->SendCommand1()->click();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return Console().endsWith("MXR-420 EMF Meter V1.12\n"); }, 10000));
  window->Command1()->setCurrentIndex(1);
  window->SendCommand1()->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Console().endsWith("MX42017733\n"); }, 10000));

  window->HEXButton()->click();
  window->Command2()->setText("<DSID>>");
  window->SendCommand2()->click();
  // "DS-5A3C-91F0\r\n" as hex pairs.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Console().endsWith("44 53 2D 35 41 33 43 2D 39 31 46 30 0D 0A "); }, 10000));
  const int counted = 19 + 25 + 12 + 14;
  EXPECT_EQ(window->SerialSize()->text().toInt(), counted);

  window->ClearButton()->click();
  EXPECT_EQ(Console(), "");
  EXPECT_EQ(window->SerialSize()->text(), "0");
  window->ConnectButton()->click();
  EXPECT_EQ(window->ConnectButton()->text(), "Connect");
}

// A meter in time, and meters slower than the page wait, paced like the real
// line or answering at once: the file is the meter's memory, decoded, byte for
// byte, and every page was asked for once, in order.
struct Meter {
  int latencyMs;
  bool paced;
};
void PrintTo(const Meter& m, std::ostream* os) { *os << m.latencyMs << " ms, paced " << m.paced; }

class Download : public EndToEnd, public testing::WithParamInterface<Meter> {};

TEST_P(Download, TheHistoryIntoACsvFile) {
  FindAndConnect();
  sim->SetLatency(GetParam().latencyMs);
  sim->SetPaced(GetParam().paced);
  const fs::path csv =
      fs::temp_directory_path() / ("maglyx-e2e-" + std::to_string(getpid()) + ".csv");
  desktop->saveAnswers.push_back(fw::FolderItem(csv));
  window->DHButton()->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !desktop->messages.empty(); }, 60000));

  const int pages = meter_sim::PagesInUse(sim->Memory());
  const std::size_t length = 4096u * pages;
  EXPECT_EQ(desktop->messages[0],
            "Finished!\nDownloaded " + std::to_string(length / 1000) + " KB.");
  const std::string expected = ExpectedCsv(sim->Memory(), length);
  EXPECT_EQ(ReadFile(csv), expected);
  EXPECT_GT(std::count(expected.begin(), expected.end(), '\n'), 100);
  int asked = 0;
  for (const auto& frame : sim->Frames()) asked += frame.name == "SPIR";
  EXPECT_EQ(asked, pages);
  fs::remove(csv);
}

INSTANTIATE_TEST_SUITE_P(InTimeAndLate, Download,
                         testing::Values(Meter{5, true}, Meter{300, true}, Meter{700, true},
                                         Meter{300, false}, Meter{700, false}),
                         [](const auto& info) {
                           return std::to_string(info.param.latencyMs) + "ms" +
                                  (info.param.paced ? "Paced" : "Unpaced");
                         });

}  // namespace
