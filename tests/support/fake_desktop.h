#pragma once
// Desktop services for tests: records every message, alert and save dialog,
// and answers save dialogs from a script.

#include <deque>
#include <functional>
#include <memory>
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

  void MsgBox(const std::string& text) override {
    events.push_back("msg:" + text);
    messages.push_back(text);
    if (whileMessageShows) whileMessageShows(text);
  }
  void Beep() override {
    events.push_back("beep");
    ++beeps;
  }
  std::optional<fw::FolderItem> GetSaveFolderItem(const std::string& fileType,
                                                  const std::string& proposedName) override {
    events.push_back("save:" + proposedName);
    saveRequests.push_back({fileType, proposedName});
    if (saveAnswers.empty()) return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }

  // What happened, in order: "beep", "msg:<text>", "save:<proposed name>".
  std::vector<std::string> events;
  std::vector<std::string> messages;
  std::vector<SaveRequest> saveRequests;
  int beeps = 0;
  // Answers for the next save dialogs; a dialog with no answer left is dismissed.
  std::deque<std::optional<fw::FolderItem>> saveAnswers;
  // Runs while a message box would be open (the program lock is given away).
  std::function<void(const std::string&)> whileMessageShows;

  void Clear() {
    events.clear();
    messages.clear();
    saveRequests.clear();
    beeps = 0;
    saveAnswers.clear();
  }
};

// Installs a fresh fake for the current test and returns it; the previous
// services come back when the returned guard goes.
class FakeDesktopScope {
 public:
  FakeDesktopScope() {
    auto fake = std::make_unique<FakeDesktop>();
    fake_ = fake.get();
    previous_ = fw::SetDesktopServices(std::move(fake));
  }
  ~FakeDesktopScope() { fw::SetDesktopServices(std::move(previous_)); }
  FakeDesktop& operator*() { return *fake_; }
  FakeDesktop* operator->() { return fake_; }

 private:
  FakeDesktop* fake_;
  std::unique_ptr<fw::DesktopServices> previous_;
};
