// "Download Screenshot" with the simulator as the meter, on a pseudo-terminal,
// into real files: every slot into its BMP under the proposed name, and every
// other way the download can end.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "framework/format.h"
#include "framework/thread.h"
#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "screen/screenshot_bmp.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"

namespace {

namespace fs = std::filesystem;

// Records the caption each time the button is painted.
struct PaintSpy : QObject {
  std::vector<QString> captions;
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      captions.push_back(static_cast<QPushButton*>(object)->text());
    return false;
  }
};

class Screenshot : public testing::Test {
 protected:
  void SetUp() override {
    fw::SetSleepSpeedup(4);  // 125 and 250 ms waits: plenty for an unpaced meter
    fs::create_directories(dir);
    sim.Start();
    ports.Set({{"meter", sim.SlavePath()}});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.RefreshPorts()->click();
    window.ConnectButton()->click();
    ASSERT_EQ(window.ConnectButton()->text(), "Disconnect");
    window.DSButton()->installEventFilter(&spy);
    desktop->whileMessageShows = [this](const std::string&) {
      captionAtMessage = window.DSButton()->text();
      timerAtMessage = window.GSTimer()->Mode();
    };
    sim.ClearLogs();
  }
  void TearDown() override {
    fw::SetSleepSpeedup(1);
    fs::remove_all(dir);
  }
  static meter_sim::SimulatorOptions Options() {
    meter_sim::SimulatorOptions options;
    options.paced = false;
    options.latency_ms = 1;
    options.meter.slots = meter_sim::DefaultStoredScreens(3);  // slot 4 stays empty
    return options;
  }
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& f : sim.Frames())
      if (f.name == "GETSSN" || f.name == "GETSS") out.emplace_back(f.raw.begin(), f.raw.end());
    return out;
  }
  // Pulls the meter's plug once it has seen `frames` frames.
  std::thread UnplugAfter(std::size_t frames) {
    return std::thread([this, frames] {
      sim.WaitForFrames(frames, std::chrono::seconds(20));
      sim.Stop();
    });
  }

  FakeDesktopScope desktop;
  TestPorts ports;
  meter_sim::Simulator sim{Options()};
  MAGLYX window;
  PaintSpy spy;
  const fs::path dir = fs::temp_directory_path() / ("maglyx-shot-e2e-" + std::to_string(getpid()));
  QString captionAtMessage;
  int timerAtMessage = -1;
};

TEST_F(Screenshot, EachSlotBecomesItsBmpUnderTheProposedName) {
  QRadioButton* const radios[] = {window.SS1(), window.SS2(), window.SS3()};
  const meter_sim::StoredScreens slots = Options().meter.slots;
  for (int slot = 1; slot <= 3; ++slot) {
    const meter_sim::StoredScreen& stored = *slots[slot - 1];
    const auto f = [](int v) { return fw::Format(v, "00"); };
    const std::string name = "emfscreenshot_" + f(stored.when.day) + f(stored.when.month) +
                             f(stored.when.year % 100) + "_" + f(stored.when.hour) +
                             f(stored.when.minute) + f(stored.when.second) + ".bmp";
    desktop->Clear();
    desktop->saveAnswers.push_back(fw::FolderItem(dir / name));
    radios[slot - 1]->setChecked(true);
    window.DSButton()->click();
    EXPECT_EQ(desktop->events,
              (std::vector<std::string>{"save:" + name, "msg:Download Finished."}));
    std::stringstream got;
    got << std::ifstream(dir / name, std::ios::binary).rdbuf();
    // Not EXPECT_EQ: a failure would print 393,270 bytes twice.
    EXPECT_TRUE(got.str() ==
                ComposeScreenshotBmp(std::string(stored.image.begin(), stored.image.end())))
        << slot;
  }
}

TEST_F(Screenshot, EachEndSaysItsMessageThenRestoresTheCaptionAndTheMirror) {
  const std::string info = "<GETSSN1>>", image = "<GETSS1>>";
  meter_sim::Misbehaviour noImage;
  noImage.only_command = "GETSS";
  noImage.silent = true;
  meter_sim::Misbehaviour lateImage;
  lateImage.only_command = "GETSS";
  lateImage.extra_delay_ms = 10000;
  std::thread unplug;
  struct End {
    std::function<void()> setup;
    std::string message;  // "" for none
    QString captionAtMessage;
    std::vector<std::string> requests;
  } const ends[] = {
      {[&] { sim.SetSilent(true); }, "Failed to download. Please try again.", "Download Screenshot",
       std::vector<std::string>(6, info)},
      {[&] { window.SS4()->setChecked(true); },
       "Screenshot 4 not found.",
       "Please wait...",
       {"<GETSSN4>>"}},
      {[&] { sim.SetMisbehaviour(noImage); },
       "Download Failed.",
       "Download Screenshot",
       {info, image, image, image, image}},
      {[] {}, "", "", {info, image}},  // dialog dismissed
      {[&] {
         fs::create_directory(dir / "f.bmp");
         desktop->saveAnswers.push_back(fw::FolderItem(dir / "f.bmp"));
       },
       "The screenshot could not be saved.\nCannot delete \"" + (dir / "f.bmp").string() +
           "\": it is not a regular file",
       "Please wait...",
       {info, image}},
      {[&] {  // the image request is the last thing the meter sees
         sim.SetMisbehaviour(lateImage);
         unplug = UnplugAfter(2);
       },
       "Download Failed.",
       "Download Screenshot",
       {info, image}},
  };
  for (const End& end : ends) {
    SCOPED_TRACE(end.message);
    desktop->Clear();
    spy.captions.clear();
    end.setup();
    window.DSButton()->click();
    if (unplug.joinable()) unplug.join();
    EXPECT_EQ(desktop->messages,
              end.message.empty() ? std::vector<std::string>{} : std::vector{end.message});
    if (!end.message.empty()) {
      EXPECT_EQ(captionAtMessage, end.captionAtMessage);
      EXPECT_EQ(timerAtMessage, fw::Timer::kModeOff);
    }
    EXPECT_EQ(window.DSButton()->text(), "Download Screenshot");
    EXPECT_EQ(window.GSTimer()->Mode(), fw::Timer::kModeMultiple);
    EXPECT_EQ(Requests(), end.requests);
    EXPECT_EQ(std::count(spy.captions.begin(), spy.captions.end(), "Please wait..."), 1);
    sim.ClearMisbehaviour();
    sim.ClearLogs();
    window.SS1()->setChecked(true);
  }
  EXPECT_TRUE(fs::is_empty(dir / "f.bmp"));
}

TEST_F(Screenshot, RefusedDuringAHistoryDownloadWithNothingChanged) {
  window.download_started = true;
  window.GSTimer()->SetMode(fw::Timer::kModeOff);
  window.DSButton()->click();
  window.download_started = false;
  EXPECT_EQ(desktop->events, std::vector<std::string>{"msg:Downloading history.\nPlease wait."});
  EXPECT_EQ(window.DSButton()->text(), "Download Screenshot");
  EXPECT_EQ(window.GSTimer()->Mode(), fw::Timer::kModeOff);
  EXPECT_TRUE(spy.captions.empty());
  QTest::qWait(50);
  EXPECT_TRUE(Requests().empty());
}

}  // namespace
