// The live mirror's capture: every GSTimer tick fetches the meter's display
// once on the worker thread GSThread and makes the two display pictures.

#include "app/app.h"
#include "framework/thread.h"
#include "link/command_frame.h"
#include "link/timed_exchange.h"
#include "mainwindow/maglyx.h"
#include "screen/lcd_page_image.h"

void MAGLYX::GSTimer_Action(fw::Timer*) {
  // A capture still running keeps the line; this tick is dropped, not queued.
  if (GSThreadRunning) return;
  GSThread()->Run();
}

void MAGLYX::GSThread_Run(fw::Thread*) { CaptureScreen(*Serial1()); }

void MAGLYX::CaptureScreen(fw::SerialLine& line) {
  SerialTimer()->SetMode(fw::Timer::kModeOff);
  GSThreadRunning = true;

  // The end steps run however the capture ends, a failure included: a flag
  // left True or a console left stopped would silence the console and the
  // mirror for good and hold both downloads in their wait for the flag.
  struct EndSteps {
    MAGLYX* window;
    fw::SerialLine& line;
    ~EndSteps() {
      // Called during unwinding too (a killed worker at shutdown): nothing may
      // escape from here.
      try {
        // The tail of a late frame, or anything else that came meanwhile,
        // must not reach the console.
        line.ReadAll();
      } catch (...) {
      }
      window->GSThreadRunning = false;
      try {
        window->SerialTimer()->SetMode(fw::Timer::kModeMultiple);
      } catch (...) {
      }
    }
  } endSteps{this, line};

  // One attempt: drain, ask, wait 200 ms, read twice, accept only a whole
  // frame with its end marker. The drain before and after keeps a late reply
  // to an earlier request from being joined to this one's.
  const ExchangeResult result =
      TimedExchange(line, std::string(kGetScreenFrame), kGetScreenExchange,
                    [](int ms) { App::Instance().SleepCurrentThread(ms); });
  if (!result.accepted) {
    // The last good image stays; the next tick asks again.
    fw::YieldToOthers();
    App::Instance().SleepCurrentThread(300);
    return;
  }

  // Stored before they are filled: a repaint during the decode's yields shows
  // the new image as far as it has come.
  ScreenV = fw::NewPicture(kScreenVWidth, kScreenVHeight);
  ScreenH = fw::NewPicture(kScreenHWidth, kScreenHHeight);
  const fw::Picture v = ScreenV;
  const fw::Picture h = ScreenH;
  DrawLcdPageImage(result.reply, *v, *h, [] { fw::YieldToOthers(); });
}
