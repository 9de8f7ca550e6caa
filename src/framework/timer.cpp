#include "framework/timer.h"

#include <QThread>
#include <algorithm>

#include "framework/dispatch.h"
#include "framework/scope_exit.h"

namespace fw {

Timer::Timer(QObject* parent) : QObject(parent) {
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &Timer::Tick);
}

void Timer::SetPeriod(int ms) {
  period_.store(std::max(ms, 0));
  Apply();
}

int Timer::Mode() const { return mode_.load(); }

void Timer::SetMode(int mode) {
  mode_.store(mode);
  Apply();
}

void Timer::Apply() {
  // The QTimer belongs to the thread that made this Timer; a worker only
  // queues the change. The mode itself is already in effect: Tick checks it.
  if (QThread::currentThread() != thread()) {
    QMetaObject::invokeMethod(
        this, [this] { Apply(); }, Qt::QueuedConnection);
    return;
  }
  const int mode = mode_.load();
  if (mode == kModeOff) {
    timer_.stop();
    return;
  }
  const int period = period_.load();
  if (!timer_.isActive() || timer_.interval() != period) {
    timer_.start(period);
  }
}

void Timer::Tick() {
  if (mode_.load() == kModeOff) return;
  Dispatch([this] {
    // The mode may have been switched off while this tick waited for the lock.
    const int mode = mode_.load();
    if (mode == kModeOff || in_action_) return;
    // An Action that opens a modal box lets the event loop run; the same
    // timer must not start its Action again inside it.
    in_action_ = true;
    const ScopeExit clear([this] { in_action_ = false; });
    if (Action) Action();
  });
}

}  // namespace fw
