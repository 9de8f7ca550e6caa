#pragma once
// The framework's timer: a period, a mode and an Action run on the
// user-interface thread under the program lock.

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>

namespace fw {

class Timer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kModeOff = 0;
  static constexpr int kModeMultiple = 2;  // repeating every period

  explicit Timer(QObject* parent = nullptr);

  void SetPeriod(int ms);
  int Mode() const;
  // May be called from any thread that holds the program lock. Takes effect at
  // once: a tick that arrives while the mode is off is dropped before its
  // Action runs.
  void SetMode(int mode);

  std::function<void()> Action;

 private:
  void Tick();
  void Apply();
  QTimer timer_;
  std::atomic<int> mode_{kModeOff};
  std::atomic<int> period_{0};
  bool in_action_ = false;  // on the timer's own thread only
};

}  // namespace fw
