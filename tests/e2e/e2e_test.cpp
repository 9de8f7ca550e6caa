// A person's roads through the program, with the simulator as the meter: the console, the live
// mirror and its keys, and "Download Screenshot" into real files.

#include <QLineEdit>
#include <QRadioButton>
#include <filesystem>
#include <thread>

#include "framework/format.h"
#include "screen/lcd_page_image.h"
#include "screen/screenshot_bmp.h"
#include "support/history_files.h"
#include "support/meter_window.h"

namespace {

namespace fs = std::filesystem;
using EndToEnd = MeterWindow;

TEST_F(EndToEnd, TalkToTheMeterInTheConsole) {
  Connect(StartMeter(3, true));
  const auto shows = [&](const QString& end) {
    return QTest::qWaitFor([&] { return window->SerialText()->Text().endsWith(end); }, 10000);
  };
  window->SendCommand1()->click();
  ASSERT_TRUE(shows("MXR-420 EMF Meter V1.12\n"));
  window->Command1()->setCurrentIndex(1);
  window->SendCommand1()->click();
  ASSERT_TRUE(shows("MX42017733\n"));
  window->HEXButton()->click();
  window->Command2()->setText("<DSID>>");
  window->SendCommand2()->click();
  ASSERT_TRUE(shows("44 53 2D 35 41 33 43 2D 39 31 46 30 0D 0A "));  // "DS-5A3C-91F0\r\n"
  EXPECT_EQ(window->SerialSize()->text().toInt(), 19 + 25 + 12 + 14);
  window->ClearButton()->click();
  EXPECT_EQ(window->SerialText()->Text() + window->SerialSize()->text(), "0");
}

TEST_F(EndToEnd, TheFaceShowsTheMetersDisplayAndItsKeysWork) {
  Connect(StartMeter(3, true, /*hold=*/true), /*mirror=*/true);  // only the clock moves
  const auto faceShowsTheMeter = [&] {
    const QImage face = window->CScreenV()->grab().toImage();
    const meter_sim::ScreenImage screen = sim->Screen();
    for (int r = 0; r < kLcdHeight; ++r)
      for (int c = 0; c < kLcdWidth; ++c)
        if (face.pixel(36 + r, 40 + c) !=
            (meter_sim::GetPixel(screen, c, r) ? kMirrorInkColor : kMirrorPaperColor))
          return false;
    return true;
  };
  // The display's clock moves every second: wait for a capture and repaint within one.
  ASSERT_TRUE(QTest::qWaitFor(faceShowsTheMeter, 10000));
  const meter_sim::View before = sim->State().view;
  QTest::mouseClick(window->S1V(), Qt::LeftButton);  // the next view
  ASSERT_TRUE(QTest::qWaitFor([&] { return sim->State().view != before; }, 10000));
  ASSERT_TRUE(QTest::qWaitFor(faceShowsTheMeter, 10000));
}

// Records the caption each time the button is painted.
struct PaintSpy : QObject {
  std::vector<QString> captions;
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      captions.push_back(static_cast<QPushButton*>(object)->text());
    return false;
  }
};

class Screenshot : public MeterWindow {
 protected:
  void SetUp() override {
    fw::SetSleepSpeedup(4);  // 125 and 250 ms waits: plenty for an unpaced meter
    fs::create_directories(dir);
    Connect(StartMeter(), /*mirror=*/true);  // a screenshot stops and restarts the mirror
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->DSButton()->installEventFilter(&spy);
    desktop->whileMessageShows = [this](const std::string&) {
      captionAtMessage = window->DSButton()->text();
      timerAtMessage = window->GSTimer()->Mode();
    };
  }
  void TearDown() override {
    MeterWindow::TearDown();
    fs::remove_all(dir);
  }
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const auto& f : sim->Frames())
      if (f.name == "GETSSN" || f.name == "GETSS") out.emplace_back(f.raw.begin(), f.raw.end());
    return out;
  }

  PaintSpy spy;
  const fs::path dir = fs::temp_directory_path() / ("maglyx-shot-e2e-" + std::to_string(getpid()));
  QString captionAtMessage;
  int timerAtMessage = -1;
};

TEST_F(Screenshot, EachSlotBecomesItsBmpUnderTheProposedName) {
  QRadioButton* const radios[] = {window->SS1(), window->SS2(), window->SS3()};
  const meter_sim::MeterConfig meter = meter_sim::DefaultMeterConfig();
  for (int slot = 0; slot < 3; ++slot) {
    const meter_sim::StoredScreen& stored = *meter.slots[slot];
    const auto f = [](int v) { return fw::Format(v, "00"); };
    const std::string name = "emfscreenshot_" + f(stored.when.day) + f(stored.when.month) +
                             f(stored.when.year % 100) + "_" + f(stored.when.hour) +
                             f(stored.when.minute) + f(stored.when.second) + ".bmp";
    desktop->Clear();
    desktop->saveAnswers.push_back(fw::FolderItem(dir / name));
    radios[slot]->setChecked(true);
    window->DSButton()->click();
    EXPECT_EQ(desktop->events,
              (std::vector<std::string>{"save:" + name, "msg:Download Finished."}));
    // Not EXPECT_EQ: a failure would print 393,270 bytes twice.
    EXPECT_TRUE(ReadFile(dir / name) ==
                ComposeScreenshotBmp(std::string(stored.image.begin(), stored.image.end())))
        << slot;
  }
}

TEST_F(Screenshot, EachEndSaysItsMessageThenRestoresTheCaptionAndTheMirror) {
  const std::string info = "<GETSSN1>>", image = "<GETSS1>>";
  meter_sim::Misbehaviour noImage, lateImage;
  noImage.only_command = lateImage.only_command = "GETSS";
  noImage.silent = true;
  lateImage.extra_delay_ms = 10000;
  std::thread unplug;
  struct End {
    std::function<void()> setup;
    std::string message;  // "" for none
    QString captionAtMessage;
    std::vector<std::string> requests;
  } const ends[] = {
      {[&] { sim->SetSilent(true); }, "Failed to download. Please try again.",
       "Download Screenshot", std::vector<std::string>(6, info)},
      {[&] { window->SS4()->setChecked(true); },
       "Screenshot 4 not found.",
       "Please wait...",
       {"<GETSSN4>>"}},
      {[&] { sim->SetMisbehaviour(noImage); },
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
         sim->SetMisbehaviour(lateImage);
         unplug = std::thread([this] {
           sim->WaitForFrames(2, std::chrono::seconds(20));
           sim->Stop();
         });
       },
       "Download Failed.",
       "Download Screenshot",
       {info, image}},
  };
  for (const End& end : ends) {
    SCOPED_TRACE(end.message);
    desktop->Clear();
    spy.captions.clear();
    sim->ClearLogs();
    end.setup();
    window->DSButton()->click();
    if (unplug.joinable()) unplug.join();
    EXPECT_EQ(desktop->messages,
              end.message.empty() ? std::vector<std::string>{} : std::vector{end.message});
    if (!end.message.empty()) {
      EXPECT_EQ(captionAtMessage, end.captionAtMessage);
      EXPECT_EQ(timerAtMessage, fw::Timer::kModeOff);
    }
    EXPECT_EQ(window->DSButton()->text(), "Download Screenshot");
    EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeMultiple);
    EXPECT_EQ(Requests(), end.requests);
    EXPECT_EQ(std::count(spy.captions.begin(), spy.captions.end(), "Please wait..."), 1);
    sim->ClearMisbehaviour();
    window->SS1()->setChecked(true);
  }
  EXPECT_TRUE(fs::is_empty(dir / "f.bmp"));
}

}  // namespace
