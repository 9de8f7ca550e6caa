// The live mirror end to end: connected to the simulated meter (paced like
// the real line), the face shows the meter's display pixel for pixel, and a
// click on a key of the face changes what the meter shows next.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "mainwindow/maglyx.h"
#include "meter_sim/simulator.h"
#include "screen/lcd_page_image.h"
#include "support/fake_desktop.h"

namespace {

class MirrorEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    sim.Start();
    setenv("MAGLYX_EXTRA_PORTS", sim.SlavePath().c_str(), 1);
    fw::SetPortSource(fw::MakeSystemPortSource());
    window = std::make_unique<MAGLYX>();
  }
  void TearDown() override {
    window.reset();
    sim.Stop();
    unsetenv("MAGLYX_EXTRA_PORTS");
  }
  // The vertical face as drawn on screen shows exactly the meter's display.
  bool FaceShowsTheMeter() {
    const QImage face = window->CScreenV()->grab().toImage();
    const meter_sim::ScreenImage screen = sim.Screen();
    for (int r = 0; r < kLcdHeight; ++r)
      for (int c = 0; c < kLcdWidth; ++c) {
        const QRgb want = meter_sim::GetPixel(screen, c, r) ? kMirrorInkColor : kMirrorPaperColor;
        if (face.pixel(36 + r, 40 + c) != want) return false;
      }
    return true;
  }

  FakeDesktopScope desktop;
  meter_sim::Simulator sim{[] {
    // Readings held, so that only the clock moves the display, once a second.
    meter_sim::SimulatorOptions options;  // paced at 115200 baud, as a real meter
    options.meter.state.hold = true;
    return options;
  }()};
  std::unique_ptr<MAGLYX> window;
};

TEST_F(MirrorEndToEnd, TheFaceShowsTheMetersDisplayAndItsKeysWork) {
  window->RefreshPorts()->click();
  QComboBox* ports = window->SerialPortsPopupMenu();
  const int row = ports->findText("MXR-420 EMF Meter V1.12\r\n");
  ASSERT_GE(row, 0);
  ports->setCurrentIndex(row);
  window->ConnectButton()->click();
  ASSERT_EQ(window->ConnectButton()->text(), "Disconnect");
  // The display's clock moves every second: wait for a capture and its
  // repaint that fall within one.
  ASSERT_TRUE(QTest::qWaitFor([&] { return FaceShowsTheMeter(); }, 10000));

  const meter_sim::View before = sim.State().view;
  QTest::mouseClick(window->S1V(), Qt::LeftButton);  // the next view
  ASSERT_TRUE(QTest::qWaitFor([&] { return sim.State().view != before; }, 10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return FaceShowsTheMeter(); }, 10000));
}

}  // namespace
