#pragma once
// Desktop services for tests: records every message, alert and save dialog,
// and answers save dialogs from a script.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/desktop.h"

class FakeDesktop : public fw::DesktopServices {
 public:
  struct SaveRequest {
    std::string fileType;
    std::string proposedName;
  };

  void MsgBox(const std::string& text) override;
  void Beep() override;
  std::optional<fw::FolderItem> GetSaveFolderItem(const std::string& fileType,
                                                  const std::string& proposedName) override;

  // What happened, in order: "beep", "msg:<text>", "save:<proposed name>".
  std::vector<std::string> events;
  std::vector<std::string> messages;
  std::vector<SaveRequest> saveRequests;
  int beeps = 0;
  // Answers for the next save dialogs; a dialog with no answer left is dismissed.
  std::deque<std::optional<fw::FolderItem>> saveAnswers;
  // Runs while a message box would be open (the program lock is given away).
  std::function<void(const std::string&)> whileMessageShows;

  void Clear();
};

// Installs a fresh fake for the current test and returns it; the previous
// services come back when the returned guard goes.
class FakeDesktopScope {
 public:
  FakeDesktopScope();
  ~FakeDesktopScope();
  FakeDesktop& operator*() { return *fake_; }
  FakeDesktop* operator->() { return fake_; }

 private:
  FakeDesktop* fake_;
  std::unique_ptr<fw::DesktopServices> previous_;
};
