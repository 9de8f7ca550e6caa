// The live mirror's capture: every GSTimer tick fetches the meter's display
// once on the worker thread GSThread and makes the two display pictures.

#include "app/app.h"
#include "framework/scope_exit.h"
#include "framework/thread.h"
#include "link/command_frame.h"
#include "mainwindow/maglyx.h"
#include "screen/lcd_page_image.h"

namespace {

// A new picture to fill, showing the last frame until the new one is drawn
// over it: a repaint during the decode must never show the glass empty.
fw::Picture Successor(const fw::Picture& previous, int width, int height) {
  if (!previous) return fw::NewPicture(width, height);
  return std::make_shared<QImage>(previous->copy());
}

}  // namespace

void MAGLYX::GSTimer_Action(fw::Timer*) {
  // A capture still running keeps the line; this tick is dropped, not queued.
  if (GSThreadRunning) return;
  GSThread()->Run();
}

void MAGLYX::GSThread_Run(fw::Thread*) { CaptureScreen(*Link()); }

void MAGLYX::CaptureScreen(MeterLine& line) {
  SerialTimer()->SetMode(fw::Timer::kModeOff);
  GSThreadRunning = true;

  // The end steps run however the capture ends, a failure included: a flag
  // left True or a console left stopped would silence the console and the
  // mirror for good and hold both downloads in their wait for the flag.
  const fw::ScopeExit endSteps([&] {
    // Run during unwinding too (a killed worker at shutdown): nothing may
    // escape from here.
    try {
      // Anything that came meanwhile must not reach the console.
      line.ReadAll();
    } catch (...) {
    }
    GSThreadRunning = false;
    try {
      SerialTimer()->SetMode(fw::Timer::kModeMultiple);
    } catch (...) {
    }
  });

  // No port, or a reply to an earlier request may still come: ask at a later
  // tick rather than have the two replies run into each other.
  const std::uint64_t connection = line.Connection();
  if (connection == 0 || !line.Quiet()) return;

  const ExchangeResult result =
      line.Exchange(connection, std::string(kGetScreenFrame), kGetScreenRule);
  if (result.end != ExchangeEnd::kReply) {
    // The last good image stays; a later tick asks again.
    fw::YieldToOthers();
    App::Instance().SleepCurrentThread(300);
    return;
  }

  // Stored before they are filled: a repaint during the decode's yields shows
  // the new image as far as it has come, over the last one.
  ScreenV = Successor(ScreenV, kScreenVWidth, kScreenVHeight);
  ScreenH = Successor(ScreenH, kScreenHWidth, kScreenHHeight);
  const fw::Picture v = ScreenV;
  const fw::Picture h = ScreenH;
  DrawLcdPageImage(result.reply, *v, *h, [] { fw::YieldToOthers(); });
}
