// The live mirror: decoding the display, the capture against a scripted or a
// pseudo-terminal meter, the orientation step and the keys.

#include <QCheckBox>
#include <QLineEdit>

#include "framework/coop_internal.h"
#include "framework/exceptions.h"
#include "screen/lcd_page_image.h"
#include "support/clocked_meter.h"
#include "support/meter_window.h"
#include "support/pty.h"
#include "support/window_seam.h"

// The ink pixels of a picture's written area; the rest of that area must be
// paper and everything outside it fully transparent.
std::vector<QPoint> Ink(const QImage& p, int width, int height) {
  std::vector<QPoint> ink;
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) {
      const QRgb c = p.pixel(x, y);
      const bool inside = x < width && y < height;
      if (inside && c == qRgb(0, 0, 0))
        ink.push_back({x, y});
      else  // outside: alpha 0
        EXPECT_EQ(c, inside ? qRgb(200, 220, 255) : c & 0xFFFFFFu);
    }
  return ink;
}

TEST(LcdPageImage, EachBitLandsOnItsPixelInBothPictures) {
  // Byte, value, ScreenH pixel, ScreenV pixel (the rest paper); all paper; then all ink.
  const std::tuple<int, char, std::vector<QPoint>, std::vector<QPoint>> cases[] = {
      {0, 1, {{0, 63}}, {{0, 0}}},
      {0, 0, {}, {}},
      {127, 1, {{127, 63}}, {{0, 127}}},
      {128, 1, {{0, 55}}, {{8, 0}}},
      {1023, '\x80', {{127, 0}}, {{63, 127}}},
      {-1, '\xFF', {}, {}}};
  for (const auto& [at, value, h, v] : cases) {
    std::string image(1024, at < 0 ? value : 0);
    if (at >= 0) image[at] = value;
    const fw::Picture sv = fw::NewPicture(128, 256), sh = fw::NewPicture(256, 128);
    DrawLcdPageImage(image, *sv, *sh);
    const std::vector<QPoint> inkH = Ink(*sh, 128, 64), inkV = Ink(*sv, 64, 128);
    EXPECT_TRUE(value == '\xFF' ? inkH.size() == 8192 && inkV.size() == 8192
                                : inkH == h && inkV == v)
        << at;
  }
}

class MirrorTest : public MeterWindow {
 public:
  void SetUp() override { fw::SetSleepSpeedup(50); }
  bool Idle() {
    return !window->GSThreadRunning && window->SerialTimer()->Mode() == fw::Timer::kModeMultiple;
  }
  void StartCapture() {
    Locked([&] { window->GSTimer_Action(window->GSTimer()); });
  }
};

TEST_F(MirrorTest, OnlyAWholeFrameReplacesThePicturesAndEndStepsRunOnEveryExit) {
  const std::string frame = std::string(1024, '\x5A') + '\xAA';
  const std::string replies[] = {
      std::string(), frame.substr(1), frame + '\xAA', frame.substr(0, 1024) + '\xAB', frame, frame};
  ClockedMeter meter({}, [&](const std::string&, int n) { return replies[n - 1]; });
  MeterLine line = meter.Line();
  fw::Picture h, v;
  for (const std::string& reply : replies) {
    const std::size_t requests = meter.writes.size();
    Locked([&] { WindowSeam::CaptureScreen(*window, line); });
    // A rejected reply leaves the very same pictures (none before the first frame).
    EXPECT_EQ(std::tuple(meter.writes.size(), meter.writes.back(), Idle(),
                         (window->ScreenH != h) + (window->ScreenV != v)),
              std::tuple(requests + 1, "<GETSCREEN>>", true, reply == frame ? 2 : 0));
    std::tie(h, v) = std::tuple(window->ScreenH, window->ScreenV);
    meter.Sleep(MeterLine::kSilenceMs);  // whatever was still owed is written off
  }
  // A line that fails amid a capture, and a tick meanwhile that must change nothing.
  ClockedMeter broken({}, [&](const std::string&, int) -> std::string {
    EXPECT_FALSE(Idle());
    StartCapture();  // a tick during the capture
    throw fw::IOException(5, "device failed");
  });
  MeterLine brokenLine = broken.Line();
  EXPECT_THROW(Locked([&] { WindowSeam::CaptureScreen(*window, brokenLine); }), fw::IOException);
  EXPECT_EQ(std::tuple(window->GSThread()->IsRunning(), Idle(), window->ScreenV),
            std::tuple(false, true, v));
  // On a closed port the real capture ends quietly; a window closed amid one.
  StartCapture();
  ASSERT_TRUE(WaitUntil([&] { return !window->GSThread()->IsRunning(); }, 5000));
  EXPECT_TRUE(Idle() && desktop->messages.empty() && window->ScreenV == v);
  StartCapture();
  window.reset();
}

// A repaint during a decode, which gives way at every pixel, shows the last frame where the new
// one has not been drawn yet: never the empty glass.
TEST_F(MirrorTest, APictureBeingFilledNeverShowsLessThanTheLastFrame) {
  ClockedMeter meter({}, [](const std::string&, int n) {
    // The second request waits until the test asks for the lock, so that the decode gives way
    // to it at its first pixel.
    while (n == 2 && fw::coop::ProgramLockWaiterCount() == 0) std::this_thread::yield();
    return std::string(1024, n == 1 ? '\xFF' : '\x00') + '\xAA';
  });
  MeterLine line = meter.Line();
  Locked([&] { WindowSeam::CaptureScreen(*window, line); });
  const fw::Picture first = window->ScreenV;
  meter.Sleep(1000);
  fw::Thread capture("capture");
  capture.RunHandler = [&] { WindowSeam::CaptureScreen(*window, line); };
  capture.Run();
  int halfDone = 0, blank = 0;
  while (capture.IsRunning() && !halfDone) {
    Locked([&] {
      const QImage& h = *window->ScreenH;
      // The last pixel drawn, still ink from the first frame.
      halfDone = window->ScreenV != first && h.pixel(127, 0) == qRgb(0, 0, 0);
      for (const QImage* p : {&h, static_cast<const QImage*>(window->ScreenV.get())})
        for (int y = 0; y < 128; ++y)
          for (int x = 0; x < 128; ++x)
            blank +=
                (p->width() == 256 ? x < 128 && y < 64 : x < 64) && qAlpha(p->pixel(x, y)) == 0;
    });
  }
  capture.Join();
  EXPECT_EQ(std::tuple(halfDone, blank, window->ScreenV->pixel(0, 0)),
            std::tuple(1, 0, qRgb(200, 220, 255)));
}

TEST_F(MirrorTest, KeysWaitForTheCaptureThatTheConsoleNeverSeesAndOnlyTheLatestGoesOut) {
  fw::SetSleepSpeedup(1);
  Pty meter;
  ports.Set({{"meter", meter.SlavePath()}});
  window->RefreshPorts()->click();
  meter.Receive(std::chrono::milliseconds(100));  // the probe's request
  window->ConnectButton()->click();
  // Captures only when the test asks.
  Locked([&] { window->GSTimer()->SetMode(fw::Timer::kModeOff); });
  StartCapture();
  EXPECT_EQ(meter.Receive(), "<GETSCREEN>>");
  QTest::mouseClick(window->S2V(), Qt::LeftButton);
  meter.Send("meant for nobody");
  EXPECT_EQ(meter.Receive(std::chrono::milliseconds(100)), "");  // the key waits
  ASSERT_TRUE(WaitUntil([&] { return Idle() && window->TxBuffer.empty(); }, 5000));
  EXPECT_EQ(meter.Receive(), "<KEY1>>");
  EXPECT_EQ(window->SerialSize()->text(), "19");
  Locked([&] { window->SerialTimer()->SetMode(fw::Timer::kModeOff); });
  // The panel, the faces and the keys at their design places (window content coordinates, also
  // inside a face); a press where a key is drawn, on the face shown, stores that key's command.
  QWidget* content = window->centralWidget();
  const auto place = [&](QWidget* w) { return QRect(w->mapTo(content, QPoint()), w->size()); };
  EXPECT_EQ(
      std::tuple(place(window->SimBorder()), place(window->CScreenH()), place(window->CScreenV())),
      std::tuple(QRect(15, 196, 291, 288), QRect(30, 211, 261, 136), QRect(43, 211, 136, 261)));
  const std::tuple<bool, QRect, std::string> keys[] = {
      {false, {228, 300, 21, 17}, "<KEY0>>"},    {false, {228, 279, 21, 17}, "<KEY1>>"},
      {false, {228, 258, 21, 17}, "<KEY2>>"},    {false, {228, 237, 21, 17}, "<KEY3>>"},
      {true, {69, 408, 21, 17}, "<KEY0>>"},      {true, {92, 408, 21, 17}, "<KEY1>>"},
      {true, {115, 408, 21, 17}, "<KEY2>>"},     {true, {138, 408, 21, 17}, "<KEY3>>"},
      {true, {198, 411, 80, 22}, "<KEYHOLD1>>"}, {true, {198, 385, 80, 22}, "<KEYHOLD2>>"},
      {true, {198, 359, 80, 22}, "<KEYHOLD3>>"}};
  for (const auto& [vertical, drawn, command] : keys) {
    window->bIsVerticalCheck()->setChecked(vertical);
    Locked([&] { window->Timer100ms_Action(window->Timer100ms()); });  // shows that face
    QWidget* key = content->childAt(drawn.center());
    QTest::mouseClick(key, Qt::LeftButton, {}, key->mapFrom(content, drawn.center()));
    EXPECT_EQ(std::pair(place(key), window->TxBuffer), std::pair(drawn, command));
  }
  for (int tick = 0; tick < 2; ++tick)
    Locked([&] { window->SerialTimer_Action(window->SerialTimer()); });
  EXPECT_EQ(meter.Receive(), "<KEYHOLD3>>");
}

TEST_F(MirrorTest, TheTickShowsTheChosenFaceAndOnceAFrameCameItsKeys) {
  const std::vector<QWidget*> keysH{window->S1H(), window->S2H(), window->S3H(), window->S4H()},
      keysV{window->S1V(), window->S2V(), window->S3V(), window->S4V()};
  auto shown = [](const std::vector<QWidget*>& keys, bool wanted) {
    return std::ranges::all_of(keys, [&](QWidget* k) { return k->isHidden() != wanted; });
  };
  for (const bool frame : {false, true}) {
    if (frame) window->ScreenV = fw::NewPicture(128, 256);
    for (const bool vertical : {true, false, true}) {
      if (window->bIsVerticalCheck()->isChecked() != vertical) window->bIsVerticalCheck()->click();
      Locked([&] { window->Timer100ms_Action(window->Timer100ms()); });
      // Before a frame the keys keep their design visibility.
      EXPECT_TRUE(window->bIsVerticalLCD == vertical &&
                  window->CScreenV()->isHidden() != vertical &&
                  window->CScreenH()->isHidden() == vertical && shown(keysV, vertical || !frame) &&
                  shown(keysH, !vertical || !frame));
    }
  }
}
