// A person's roads through the program, with the simulator as the meter: the live mirror and its
// keys, and "Download Screenshot" into real files.

#include <QCheckBox>
#include <QRadioButton>
#include <QScreen>

#include "screen/screenshot_bmp.h"
#include "support/meter_window.h"

using EndToEnd = MeterWindow;

TEST_F(EndToEnd, EachFaceShowsTheMetersDisplayAsTheTickRepaintsItAndItsKeysWork) {
  Connect(StartMeter(3, true, /*hold=*/true), /*mirror=*/true);  // only the clock and keys move
  // What the window last painted, as its screen holds it: nothing is painted on demand here, so a
  // face that the tick leaves alone keeps showing what it showed before. The display lies at
  // (36, 40) on the vertical face at (43, 211), at (40, 36) on the horizontal one at (30, 211).
  const auto faceShowsTheMeter = [&](bool vertical) {
    const QPoint at = window->centralWidget()->mapTo(
        window.get(), vertical ? QPoint(43 + 36, 211 + 40) : QPoint(30 + 40, 211 + 36));
    const QImage shown =
        window->screen()->grabWindow(window->winId(), at.x(), at.y(), 128, 128).toImage();
    const meter_sim::ScreenImage screen = sim->Screen();
    for (int r = 0; r < 64; ++r)
      for (int c = 0; c < 128; ++c)
        if (shown.pixel(vertical ? QPoint(r, c) : QPoint(c, 63 - r)) !=
            (meter_sim::GetPixel(screen, c, r) ? qRgb(0, 0, 0) : qRgb(200, 220, 255)))
          return false;
    return true;
  };
  for (const bool vertical : {true, false}) {
    SCOPED_TRACE(vertical ? "vertical" : "horizontal");
    window->bIsVerticalCheck()->setChecked(vertical);
    // The display's clock moves every second: wait for a capture and the repaint within one.
    ASSERT_TRUE(QTest::qWaitFor([&] { return faceShowsTheMeter(vertical); }, 10000));
    const meter_sim::View before = sim->State().view;
    QTest::mouseClick(vertical ? window->S1V() : window->S1H(), Qt::LeftButton);  // next view
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->State().view != before; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return faceShowsTheMeter(vertical); }, 10000));
  }
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

TEST_F(EndToEnd, EachScreenshotEndSaysItsMessageThenRestoresTheCaptionAndTheMirror) {
  fw::SetSleepSpeedup(4);  // 125 and 250 ms waits: plenty for an unpaced meter
  fs::create_directories(dir / "f.bmp");
  Connect(StartMeter(), /*mirror=*/true);  // a screenshot stops and restarts the mirror
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  PaintSpy spy;
  window->DSButton()->installEventFilter(&spy);
  QString captionAtMessage;
  desktop->whileMessageShows = [&](const std::string&) {
    captionAtMessage = window->DSButton()->text();
    EXPECT_EQ(window->GSTimer()->Mode(), fw::Timer::kModeOff);
  };
  QRadioButton* const radios[] = {window->SS1(), window->SS2(), window->SS3(), window->SS4()};
  const meter_sim::MeterConfig meter = meter_sim::DefaultMeterConfig();
  meter_sim::Misbehaviour noImage, lateImage;
  noImage.only_command = lateImage.only_command = "GETSS";
  noImage.silent = true;
  lateImage.extra_delay_ms = 10000;
  std::thread unplug;
  enum { kSaved, kSilent, kEmpty, kNoImage, kDismissed, kFolder, kUnplugged };
  const std::string notAFile = "The screenshot could not be saved.\nCannot delete \"" +
                               (dir / "f.bmp").string() + "\": it is a folder, not a regular file";
  // The simulator's stored screenshots are from 3 Feb 2026 14:05:09, 14:07:41 and 17 Feb 09:32:15.
  const struct {
    int end, slot, infos, images;
    std::string message;  // "" for none
    bool waiting;         // "Please wait..." while the message shows
    std::string file;     // the file chosen in the save dialog
  } ends[] = {{kSaved, 1, 1, 1, "Download Finished.", true, "emfscreenshot_030226_140509.bmp"},
              {kSaved, 2, 1, 1, "Download Finished.", true, "emfscreenshot_030226_140741.bmp"},
              {kSaved, 3, 1, 1, "Download Finished.", true, "emfscreenshot_170226_093215.bmp"},
              {kSilent, 1, 6, 0, "Failed to download. Please try again.", false, ""},
              {kEmpty, 4, 1, 0, "Screenshot 4 not found.", true, ""},
              {kNoImage, 1, 1, 4, "Download Failed.", false, ""},
              {kDismissed, 1, 1, 1, "", false, ""},
              {kFolder, 1, 1, 1, notAFile, true, "f.bmp"},
              // Pulled out after the image request: the download ends at once.
              {kUnplugged, 1, 1, 1, "The connection to the serial port was lost.", false, ""}};
  for (const auto& e : ends) {
    SCOPED_TRACE(e.message + std::to_string(e.slot));
    desktop->Clear();
    captionAtMessage.clear();
    spy.captions.clear();
    sim->ClearLogs();
    if (!e.file.empty()) desktop->saveAnswers.push_back(fw::FolderItem(dir / e.file));
    if (e.end == kSilent) sim->SetSilent(true);
    if (e.end == kNoImage) sim->SetMisbehaviour(noImage);
    if (e.end == kUnplugged) {
      sim->SetMisbehaviour(lateImage);
      unplug = std::thread([this] {
        sim->WaitForFrames(2, std::chrono::seconds(20));
        sim->Stop();
      });
    }
    radios[e.slot - 1]->setChecked(true);
    window->DSButton()->click();
    if (unplug.joinable()) unplug.join();
    std::vector<std::string> requests(e.infos, "<GETSSN" + std::to_string(e.slot) + ">>"), sent;
    requests.resize(e.infos + e.images, "<GETSS" + std::to_string(e.slot) + ">>");
    for (const auto& f : sim->Frames())
      if (f.name == "GETSSN" || f.name == "GETSS") sent.emplace_back(f.raw.begin(), f.raw.end());
    EXPECT_EQ(
        std::tuple(desktop->messages, captionAtMessage, window->DSButton()->text(),
                   window->GSTimer()->Mode(), sent,
                   std::count(spy.captions.begin(), spy.captions.end(), "Please wait...")),
        std::tuple(std::vector<std::string>(!e.message.empty(), e.message),
                   e.message.empty() ? "" : (e.waiting ? "Please wait..." : "Download Screenshot"),
                   "Download Screenshot",
                   e.end == kUnplugged ? fw::Timer::kModeOff : fw::Timer::kModeMultiple, requests,
                   1));
    if (e.end == kSaved) {
      EXPECT_EQ(desktop->events.at(0), "save:" + e.file);
      const auto& image = meter.slots[e.slot - 1]->image;
      // Not EXPECT_EQ: a failure would print 393,270 bytes twice.
      EXPECT_TRUE(ReadFile(dir / e.file) ==
                  ComposeScreenshotBmp(std::string(image.begin(), image.end())));
    }
    sim->ClearMisbehaviour();
  }
}

// A meter that sends its image in pieces with pauses, late, whose picture holds the end marker
// inside: the file is the whole picture, never one cut at a pause and joined to the next reply.
TEST_F(EndToEnd, AScreenshotInPiecesWithTheEndMarkerInsideIsSavedWhole) {
  meter_sim::SimulatorOptions options;
  options.meter = meter_sim::DefaultMeterConfig();
  auto& image = options.meter.slots[0]->image;
  image[823] = 0xAA;
  options.misbehaviour.only_command = "GETSS";
  options.misbehaviour.extra_delay_ms = 185;  // 190 ms in all
  options.misbehaviour.split_bytes = 206;
  options.misbehaviour.split_pause_ms = 218;
  const std::string expected = ComposeScreenshotBmp(std::string(image.begin(), image.end()));
  auto meter = std::make_unique<meter_sim::Simulator>(std::move(options));
  meter->Start();
  Connect(std::move(meter));
  desktop->saveAnswers.push_back(fw::FolderItem(dir / "a.bmp"));
  window->DSButton()->click();
  EXPECT_EQ(desktop->messages, std::vector<std::string>{"Download Finished."});
  EXPECT_TRUE(ReadFile(dir / "a.bmp") == expected);
}

// Pulled out while a save dialog is open: the download does not start, the history file is not
// made, and the mirror is not switched on again; a screenshot already read is still saved.
TEST_F(EndToEnd, APortPulledWhileASaveDialogIsOpenStartsNothingAndRestartsNothing) {
  for (QPushButton* button : {window->DHButton(), window->DSButton()}) {
    Connect(StartMeter());
    desktop->whileDialogShows = [&] {
      sim->Stop();
      EXPECT_TRUE(QTest::qWaitFor([&] { return !desktop->messages.empty(); }, 5000));
    };
    desktop->saveAnswers.push_back(fw::FolderItem(dir / "chosen"));
    button->click();
    QTest::qWait(1000);  // a download would have asked the meter by now
    std::vector<std::string> messages{"The connection to the serial port was lost."};
    if (button == window->DSButton()) messages.push_back("Download Finished.");
    EXPECT_EQ(desktop->messages, messages);
    EXPECT_EQ(std::tuple(window->download_started, fs::exists(dir / "chosen"),
                         window->GSTimer()->Mode(), window->ConnectButton()->text()),
              std::tuple(false, button == window->DSButton(), fw::Timer::kModeOff, "Connect"));
    desktop->whileDialogShows = nullptr;
  }
}
