// The history download as the user drives it: start and cancel, stop and
// save, and the 100 ms tick that shows progress and reports the end.

#include <QDateTime>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/app.h"
#include "framework/desktop.h"
#include "framework/exceptions.h"
#include "framework/format.h"
#include "history/history_file_name.h"
#include "history/history_reader.h"
#include "link/meter_line.h"
#include "mainwindow/maglyx.h"

namespace {

std::string DefaultHistoryFileName() {
  const QDateTime now = QDateTime::currentDateTime();
  return HistoryFileName(now.date().year(), now.date().month(), now.date().day(), now.time().hour(),
                         now.time().minute(), now.time().second());
}

std::string Kilobytes(std::int64_t bytes) { return fw::Str(bytes / 1000); }

}  // namespace

void MAGLYX::DHButton_Action(QPushButton* sender) {
  if (download_started) {
    CancelHistoryDownload(sender);
  } else {
    StartHistoryDownload(sender);
  }
}

void MAGLYX::StartHistoryDownload(QPushButton* sender) {
  fw::YieldWhile([this] { return GSThreadRunning; });
  GSTimer()->SetMode(fw::Timer::kModeOff);
  const std::uint64_t connection = Serial1()->Connection();
  file = fw::GetSaveFolderItem("", DefaultHistoryFileName());
  // The port may have gone while the dialog was open (the tick that notices
  // says so): then there is nothing to download from and nothing to restart.
  if (Serial1()->Connection() != connection || !IsConnected()) return;
  if (!file) {
    GSTimer()->SetMode(fw::Timer::kModeMultiple);
    return;
  }
  if (!file->IsRegularOrAbsent()) {
    // Saving deletes what has the chosen name: never anything but a regular file.
    std::string message = "\"";
    message += file->Path().string();
    message += "\" is " + file->Kind() + ", not a regular file.";
    message += fw::EndOfLine;
    fw::MsgBox(message + "Nothing was changed; choose another name.");
    if (IsConnected()) GSTimer()->SetMode(fw::Timer::kModeMultiple);
    return;
  }
  try {
    if (file->Exists()) file->Delete();
    fileStream = fw::TextOutputStream::Create(*file);
  } catch (const fw::IOException& error) {
    // Nothing has started yet: say why and leave everything as it was.
    fw::MsgBox("The history file could not be created." + std::string(fw::EndOfLine) +
               error.what());
    if (IsConnected()) GSTimer()->SetMode(fw::Timer::kModeMultiple);
    return;
  }
  SaveButton()->setText(QStringLiteral("Save"));
  SaveButton()->setVisible(true);
  download_started = true;
  sender->setText(QStringLiteral("Cancel"));
  DownloadingLabel()->setVisible(true);
  DHThread()->Run();
}

void MAGLYX::CancelHistoryDownload(QPushButton* sender) {
  // The file is already complete: keep it, and let the next tick report it.
  if (download_finished) return;

  sender->setText(QStringLiteral("Cancelling..."));
  sender->repaint();
  DHThread()->Kill();
  App::Instance().SleepCurrentThread(1000);
  DHThread()->Join();  // nothing may write to the stream once it is closed
  // Counted against the page still owed: the rest of it, should it come
  // later, is kept out of the console too.
  Link()->ReadAll();
  const std::string undeleted = DiscardHistoryFile();
  ResetHistoryControls();
  download_progress = 0;
  if (IsConnected()) GSTimer()->SetMode(fw::Timer::kModeMultiple);
  if (!undeleted.empty()) {
    fw::MsgBox("The unfinished history file could not be deleted." + std::string(fw::EndOfLine) +
               undeleted);
  }
}

std::string MAGLYX::DiscardHistoryFile() {
  fileStream.reset();  // closes it; what it held goes with the file
  try {
    if (file && file->Exists()) file->Delete();
  } catch (const fw::IOException& error) {
    return error.what();
  }
  return {};
}

void MAGLYX::DiscardUnfinishedHistory() {
  // A file cut short would pass for the whole history. A finished one is
  // whole, even before the tick reports it.
  if (download_started && !download_finished) DiscardHistoryFile();
}

void MAGLYX::ResetHistoryControls() {
  DHButton()->setText(QStringLiteral("Download History"));
  // A disconnect under the download leaves nothing to download from.
  DHButton()->setEnabled(IsConnected());
  DownloadingLabel()->setVisible(false);
  SaveButton()->setVisible(false);
  download_save = false;
  download_started = false;
  download_finished = false;
}

void MAGLYX::SaveButton_Action(QPushButton* sender) {
  sender->setText(QStringLiteral("Saving..."));
  DHButton()->setEnabled(false);
  download_save = true;
}

void MAGLYX::ShowHistoryProgress() {
  DownloadingLabel()->setText(
      QString::fromStdString("Downloading..." + Kilobytes(download_progress) + " KB"));
  DownloadProgressBar()->setValue(static_cast<int>(download_progress * 100 / 1048000));
  if (!download_finished) return;

  ResetHistoryControls();
  fw::Beep();
  fw::MsgBox(HistoryOutcomeMessage());
  download_progress = 0;
  download_error.clear();
  download_end = HistoryReadEnd::kDone;
  if (IsConnected()) GSTimer()->SetMode(fw::Timer::kModeMultiple);
}

std::string MAGLYX::HistoryOutcomeMessage() const {
  const std::string eol(fw::EndOfLine);
  if (!download_error.empty())
    return "The history could not be saved." + eol + download_error + eol + "No file was kept.";
  if (download_end == HistoryReadEnd::kDone)
    return "Finished!" + eol + "Downloaded " + Kilobytes(download_progress) + " KB.";
  std::string why;
  switch (download_end) {
    case HistoryReadEnd::kLineClosed:
      why = "The port was disconnected during the download.";
      break;
    case HistoryReadEnd::kMeterSilent:
      why = download_progress == 0 ? "The meter did not answer." : "The meter stopped answering.";
      break;
    default:
      why = "The meter answered, but its replies could not be used.";
  }
  if (download_progress == 0) return why + eol + "No file was kept.";
  return why + eol + "Saved " + Kilobytes(download_progress) + " KB that were read before.";
}
