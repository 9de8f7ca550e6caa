// "Download Screenshot": fetches the screenshot stored in the chosen slot of
// the meter and saves it as a BMP file. Runs wholly on the user-interface
// thread, sleeps included, like the rest of the meter's direct exchanges from
// the window.

#include <QPushButton>
#include <QRadioButton>
#include <array>

#include "framework/desktop.h"
#include "framework/exceptions.h"
#include "framework/format.h"
#include "framework/thread.h"
#include "mainwindow/maglyx.h"
#include "screen/screenshot_bmp.h"
#include "screen/screenshot_transfer.h"

void MAGLYX::DSButton_Action(QPushButton* sender) {
  if (download_started) {
    fw::MsgBox("Downloading history." + std::string(fw::EndOfLine) + "Please wait.");
    return;
  }
  auto restore = [&] { sender->setText(QStringLiteral("Download Screenshot")); };
  // Every end but the refusal: the caption back, then the mirror running
  // again, unless the port has gone meanwhile (also while a box or the dialog
  // was open).
  auto restartMirror = [&] {
    if (IsConnected()) GSTimer()->SetMode(fw::Timer::kModeMultiple);
  };
  auto end = [&] {
    restore();
    restartMirror();
  };
  sender->setText(QStringLiteral("Please wait..."));
  // The window answers nothing for the next seconds: show now that it works.
  sender->repaint();
  fw::YieldWhile([this] { return GSThreadRunning; });
  GSTimer()->SetMode(fw::Timer::kModeOff);
  const int slot = SS1()->isChecked() ? 1 : SS2()->isChecked() ? 2 : SS3()->isChecked() ? 3 : 4;

  const ScreenshotFetch fetch = FetchScreenshot(*Link(), slot);
  using Outcome = ScreenshotFetch::Outcome;
  if (fetch.outcome == Outcome::kLineLost) {
    // At once, with the one message that a lost port gets.
    restore();
    NoticeLostPort();
    return;
  }
  if (fetch.outcome == Outcome::kNoInformation || fetch.outcome == Outcome::kNoImage) {
    restore();
    fw::MsgBox(fetch.outcome == Outcome::kNoImage ? "Download Failed."
                                                  : "Failed to download. Please try again.");
    restartMirror();
    return;
  }
  if (fetch.outcome == Outcome::kEmptySlot) {
    fw::MsgBox("Screenshot " + fw::Str(std::int64_t{slot}) + " not found.");
    end();
    return;
  }

  const std::string content = ComposeScreenshotBmp(fetch.image);
  std::array<std::uint8_t, 6> info{};
  for (std::size_t i = 0; i < info.size(); ++i) info[i] = static_cast<std::uint8_t>(fetch.info[i]);
  file = fw::GetSaveFolderItem("", ScreenshotFileName(info));
  if (!file) {
    end();
    return;
  }
  try {
    SaveScreenshotBmp(*file, content);
    fw::MsgBox("Download Finished.");
  } catch (const fw::IOException& error) {
    // Not leaving the button at "Please wait..." and the mirror stopped.
    fw::MsgBox("The screenshot could not be saved." + std::string(fw::EndOfLine) + error.what());
  }
  end();
}
