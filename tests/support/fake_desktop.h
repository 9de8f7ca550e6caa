#pragma once
// Desktop services for tests: records every message, alert and save dialog,
// and answers save dialogs from a script.

#include <deque>
#include <functional>
#include <vector>

#include "framework/desktop.h"

class FakeDesktop : public fw::DesktopServices {
 public:
  void MsgBox(const std::string& text) override {
    events.push_back("msg:" + text);
    messages.push_back(text);
    if (whileMessageShows) whileMessageShows(text);
  }
  void Beep() override { events.push_back("beep"); }
  std::optional<fw::FolderItem> GetSaveFolderItem(const std::string&,
                                                  const std::string& proposedName) override {
    events.push_back("save:" + proposedName);
    if (whileDialogShows) whileDialogShows();
    if (saveAnswers.empty()) return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }
  void Clear() {
    events = messages = {};
    saveAnswers.clear();
  }

  // What happened, in order: "beep", "msg:<text>", "save:<proposed name>".
  std::vector<std::string> events, messages;
  // Answers for the next save dialogs; a dialog with no answer left is dismissed.
  std::deque<std::optional<fw::FolderItem>> saveAnswers;
  // Run while a message box or a save dialog would be open (the program lock is given away).
  std::function<void(const std::string&)> whileMessageShows;
  std::function<void()> whileDialogShows;
};

// Installs a fresh fake for the current test; the previous services come back when it goes.
class FakeDesktopScope {
 public:
  ~FakeDesktopScope() { fw::SetDesktopServices(std::move(previous_)); }
  FakeDesktop* operator->() { return fake_; }

 private:
  FakeDesktop* fake_ = new FakeDesktop;  // owned by the services from the next line on
  std::unique_ptr<fw::DesktopServices> previous_ =
      fw::SetDesktopServices(std::unique_ptr<FakeDesktop>(fake_));
};
