#pragma once
// Desktop services for the framework's own tests: record what was shown and
// let a test run code while a "modal" box or dialog is open.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/desktop.h"
#include "framework/program_lock.h"
#include "framework/thread.h"

class RecordingDesktop : public fw::DesktopServices {
 public:
  struct Shown {
    std::string text;
    bool onUserInterfaceThread;
    bool lockHeld;
  };

  void MsgBox(const std::string& text) override {
    Record(text);
    if (whileOpen) whileOpen();
  }
  void Beep() override {
    Record("(beep)");
    if (whileOpen) whileOpen();
  }
  std::optional<fw::FolderItem> GetSaveFolderItem(const std::string&,
                                                  const std::string& proposedName) override {
    Record("(save " + proposedName + ")");
    if (whileOpen) whileOpen();
    return std::nullopt;
  }

  std::vector<Shown> Seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

  // Runs inside every call, where a real modal box would run its event loop.
  std::function<void()> whileOpen;

 private:
  void Record(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back({text, fw::IsUserInterfaceThread(), fw::ProgramLock::HeldByCurrentThread()});
  }
  mutable std::mutex mutex_;
  std::vector<Shown> seen_;
};

// Installs a RecordingDesktop for one test; the previous services come back
// when the scope ends.
class RecordingDesktopScope {
 public:
  RecordingDesktopScope() {
    auto fake = std::make_unique<RecordingDesktop>();
    fake_ = fake.get();
    previous_ = fw::SetDesktopServices(std::move(fake));
  }
  ~RecordingDesktopScope() { fw::SetDesktopServices(std::move(previous_)); }
  RecordingDesktopScope(const RecordingDesktopScope&) = delete;
  RecordingDesktopScope& operator=(const RecordingDesktopScope&) = delete;
  RecordingDesktop* operator->() { return fake_; }

 private:
  RecordingDesktop* fake_;
  std::unique_ptr<fw::DesktopServices> previous_;
};
