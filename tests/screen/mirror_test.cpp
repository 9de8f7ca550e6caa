// The live mirror: decoding the display, the capture against a scripted or a
// pseudo-terminal meter, the orientation step and the keys.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <set>

#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "framework/thread.h"
#include "mainwindow/maglyx.h"
#include "screen/lcd_page_image.h"
#include "support/fake_desktop.h"
#include "support/port_list.h"
#include "support/pty.h"
#include "support/scripted_line.h"

namespace {

using std::chrono::milliseconds;
using Pixel = std::pair<int, int>;

std::string Image(std::initializer_list<std::pair<int, unsigned char>> bytes, char fill = 0) {
  std::string image(kLcdPageImageBytes, fill);
  for (auto [i, value] : bytes) image[i] = static_cast<char>(value);
  return image;
}
std::string Frame(const std::string& image, unsigned char marker = kEndMarker) {
  return image + static_cast<char>(marker);
}

// Every pixel of a picture: ink where listed (or everywhere), paper in the
// rest of the written area, fully transparent outside it.
void ExpectPicture(const QImage& p, QSize written, const std::set<Pixel>& ink,
                   bool allInk = false) {
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) {
      const QRgb got = p.pixel(x, y);
      if (x >= written.width() || y >= written.height()) {
        ASSERT_EQ(qAlpha(got), 0) << x << "," << y;
      } else {
        const bool dark = allInk || ink.count({x, y}) > 0;
        ASSERT_EQ(got, dark ? kMirrorInkColor : kMirrorPaperColor) << x << "," << y;
      }
    }
}

TEST(LcdPageImage, DecodesIntoBothPicturesAndLeavesTheRestTransparent) {
  struct Case {
    std::string image;
    std::set<Pixel> h, v;
    bool allInk;
  };
  const Case cases[] = {
      {Image({{0, 0x01}}), {{0, 63}}, {{0, 0}}, false},
      {Image({{127, 0x01}}), {{127, 63}}, {{0, 127}}, false},
      {Image({{128, 0x01}}), {{0, 55}}, {{8, 0}}, false},
      {Image({{1023, 0x80}}), {{127, 0}}, {{63, 127}}, false},
      {Image({}), {}, {}, false},
      {Image({}, '\xFF'), {}, {}, true},
  };
  for (const Case& c : cases) {
    const fw::Picture v = fw::NewPicture(kScreenVWidth, kScreenVHeight);
    const fw::Picture h = fw::NewPicture(kScreenHWidth, kScreenHHeight);
    int yields = 0;
    DrawLcdPageImage(c.image, *v, *h, [&] { ++yields; });
    EXPECT_EQ(yields, 1024 * 9);
    ExpectPicture(*h, {128, 64}, c.h, c.allInk);
    ExpectPicture(*v, {64, 128}, c.v, c.allInk);
  }
}

class MirrorTest : public testing::Test {
 protected:
  void SetUp() override {
    fw::SetSleepSpeedup(50);
    window = std::make_unique<MAGLYX>();
  }
  void TearDown() override {
    window.reset();
    fw::SetSleepSpeedup(1);
  }
  void Capture(fw::SerialLine& line) {
    fw::ProgramLockHolder lock;
    window->CaptureScreen(line);
  }
  bool Idle() {
    return !window->GSThreadRunning && window->SerialTimer()->Mode() == fw::Timer::kModeMultiple;
  }
  void ConnectTo(Pty& meter) {
    ports.Set({{"meter", meter.SlavePath()}});
    window->RefreshPorts()->click();
    meter.Receive(milliseconds(100));  // the probe's request
    window->ConnectButton()->click();
    ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
    window->GSTimer()->SetMode(fw::Timer::kModeOff);  // captures only when a test asks
  }

  FakeDesktopScope desktop;
  TestPorts ports;
  std::unique_ptr<MAGLYX> window;
};

TEST_F(MirrorTest, OnlyAWholeFrameWithItsEndMarkerReplacesThePictures) {
  const std::string image = Image({{0, 0x01}}, '\x5A');
  struct Case {
    std::vector<std::string> reads;  // the meter's answer, as the two reads find it
    bool accepted;
  };
  const Case cases[] = {
      {{}, false},
      {{Frame(image).substr(1)}, false},  // 1024 bytes ending in 0xAA
      {{Frame(image) + '\xAA'}, false},   // 1026 bytes, byte 1024 is 0xAA
      {{Frame(image, 0xAB)}, false},      // wrong end marker
      {{Frame(image).substr(0, 600), Frame(image).substr(600)}, true},  // split by the line
      {{Frame(Image({}, '\x5A'))}, true},                               // any content
      {{Frame(image)}, true},
  };
  fw::Picture h, v;
  for (const Case& c : cases) {
    std::vector<std::string> reads = c.reads;
    reads.resize(2);          // what the two reads find
    reads.push_back("tail");  // comes after them: for the closing drain
    const std::string joined = reads[0] + reads[1];
    ScriptedLine line;
    line.Receive(Frame(Image({}, '\xFF')));  // a late frame from an earlier request
    line.Answer(reads);
    Capture(line);
    EXPECT_EQ(line.Writes(), std::vector<std::string>{"<GETSCREEN>>"});
    EXPECT_EQ(line.Trace(), "RWRRR");  // drain, ask, two reads, drain
    EXPECT_EQ(line.Unread(), 0u);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(IsScreenFrame(joined), c.accepted);
    if (!c.accepted) {
      EXPECT_EQ(window->ScreenH, h);  // the very same pictures (none at first)
      EXPECT_EQ(window->ScreenV, v);
      continue;
    }
    ASSERT_TRUE(window->ScreenH && window->ScreenV);
    EXPECT_NE(window->ScreenH, h);
    h = window->ScreenH;
    v = window->ScreenV;
    // The stale frame was drained, not shown: byte 0 decides the corner pixel.
    EXPECT_EQ(h->pixel(0, 63), joined[0] & 1 ? kMirrorInkColor : kMirrorPaperColor);
  }
}

TEST_F(MirrorTest, ATickDuringACaptureChangesNothing) {
  ScriptedLine line;
  line.Respond([&](const std::string&) {
    EXPECT_TRUE(window->GSThreadRunning);
    EXPECT_EQ(window->SerialTimer()->Mode(), fw::Timer::kModeOff);
    window->GSTimer_Action(window->GSTimer());
    return std::vector<std::string>{};
  });
  Capture(line);
  EXPECT_FALSE(window->GSThread()->IsRunning());
  EXPECT_TRUE(Idle());
}

TEST_F(MirrorTest, EndStepsRunAfterAFailureAndOnAClosedPort) {
  struct BrokenLine : ScriptedLine {
    void Write(const std::string&) override { throw fw::IOException(5, "device failed"); }
  } broken;
  EXPECT_THROW(Capture(broken), fw::IOException);
  EXPECT_EQ(broken.Trace(), "RR");  // the drain before, and the one after the failure
  EXPECT_TRUE(Idle());

  // Not connected: the real capture thread asks nothing of anyone and ends.
  fw::SetSleepSpeedup(1);
  {
    fw::ProgramLockHolder lock;
    window->GSTimer_Action(window->GSTimer());
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->GSThread()->IsRunning(); }, 5000));
  EXPECT_TRUE(Idle());
  EXPECT_TRUE(desktop->messages.empty());
  EXPECT_FALSE(window->ScreenV);
  // Closing the window in the middle of a capture.
  {
    fw::ProgramLockHolder lock;
    window->GSTimer_Action(window->GSTimer());
  }
  window.reset();
}

TEST_F(MirrorTest, TheConsoleWaitsForTheCaptureAndSeesNothingOfIt) {
  fw::SetSleepSpeedup(1);
  Pty meter;
  ConnectTo(meter);
  {
    fw::ProgramLockHolder lock;
    window->GSTimer_Action(window->GSTimer());
  }
  EXPECT_EQ(meter.Receive(), "<GETSCREEN>>");
  QTest::mouseClick(window->S2V(), Qt::LeftButton);
  meter.Send("meant for nobody");
  EXPECT_EQ(meter.Receive(milliseconds(100)), "");  // the key waits for the capture
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->GSThread()->IsRunning(); }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->TxBuffer.empty(); }, 5000));
  EXPECT_EQ(meter.Receive(), "<KEY1>>");
  QTest::qWait(150);
  EXPECT_EQ(window->SerialSize()->text(), "19");
}

TEST_F(MirrorTest, EveryKeyStoresItsCommandAndOnlyTheLatestGoesOut) {
  Pty meter;
  ConnectTo(meter);
  window->SerialTimer()->SetMode(fw::Timer::kModeOff);
  const std::pair<QWidget*, const char*> keys[] = {
      {window->S1H(), "<KEY0>>"},         {window->S2H(), "<KEY1>>"},
      {window->S3H(), "<KEY2>>"},         {window->S4H(), "<KEY3>>"},
      {window->S1V(), "<KEY0>>"},         {window->S2V(), "<KEY1>>"},
      {window->S3V(), "<KEY2>>"},         {window->S4V(), "<KEY3>>"},
      {window->ZoomOut(), "<KEYHOLD1>>"}, {window->ZoomIn(), "<KEYHOLD2>>"},
      {window->OnOff(), "<KEYHOLD3>>"}};
  for (const auto& [key, frame] : keys) {
    QTest::mouseClick(key, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(window->TxBuffer, frame) << key->objectName().toStdString();
  }
  {
    fw::ProgramLockHolder lock;
    window->SerialTimer_Action(window->SerialTimer());
    window->SerialTimer_Action(window->SerialTimer());
  }
  EXPECT_EQ(meter.Receive(), "<KEYHOLD3>>");
}

TEST_F(MirrorTest, TheTickShowsTheChosenFaceAndItsKeysOnceAFrameCame) {
  auto tick = [&] {
    fw::ProgramLockHolder lock;
    window->Timer100ms_Action(window->Timer100ms());
  };
  using Controls = std::vector<QWidget*>;
  auto shown = [](const Controls& controls, bool wanted) {
    return std::all_of(controls.begin(), controls.end(),
                       [&](QWidget* c) { return c->isHidden() != wanted; });
  };
  const Controls keysH{window->S1H(), window->S2H(), window->S3H(), window->S4H()};
  const Controls keysV{window->S1V(), window->S2V(), window->S3V(), window->S4V()};
  for (const bool frame : {false, true}) {
    if (frame) window->ScreenV = fw::NewPicture(kScreenVWidth, kScreenVHeight);
    for (const bool vertical : {true, false, true}) {
      if (window->bIsVerticalCheck()->isChecked() != vertical) window->bIsVerticalCheck()->click();
      EXPECT_EQ(window->bIsVerticalLCD, vertical);
      tick();
      EXPECT_EQ(window->CScreenV()->isHidden(), !vertical);
      EXPECT_EQ(window->CScreenH()->isHidden(), vertical);
      if (!frame) {
        EXPECT_TRUE(shown(keysH, true) && shown(keysV, true));  // design visibility
      } else {
        EXPECT_TRUE(shown(keysV, vertical) && shown(keysH, !vertical));
      }
    }
  }
}

}  // namespace
