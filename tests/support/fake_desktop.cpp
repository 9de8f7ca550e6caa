#include "support/fake_desktop.h"

void FakeDesktop::MsgBox(const std::string& text) {
  events.push_back("msg:" + text);
  messages.push_back(text);
  if (whileMessageShows) whileMessageShows(text);
}

void FakeDesktop::Beep() {
  events.push_back("beep");
  ++beeps;
}

std::optional<fw::FolderItem> FakeDesktop::GetSaveFolderItem(const std::string& fileType,
                                                             const std::string& proposedName) {
  events.push_back("save:" + proposedName);
  saveRequests.push_back({fileType, proposedName});
  if (saveAnswers.empty()) return std::nullopt;
  auto answer = saveAnswers.front();
  saveAnswers.pop_front();
  return answer;
}

void FakeDesktop::Clear() {
  events.clear();
  messages.clear();
  saveRequests.clear();
  beeps = 0;
  saveAnswers.clear();
}

FakeDesktopScope::FakeDesktopScope() {
  auto fake = std::make_unique<FakeDesktop>();
  fake_ = fake.get();
  previous_ = fw::SetDesktopServices(std::move(fake));
}

FakeDesktopScope::~FakeDesktopScope() { fw::SetDesktopServices(std::move(previous_)); }
