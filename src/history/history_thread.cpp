// The history download's worker: read the logging memory, then write it out
// as CSV. It talks to the window only through the properties.

#include "framework/exceptions.h"
#include "history/history_csv.h"
#include "history/history_reader.h"
#include "mainwindow/maglyx.h"

void MAGLYX::DHThread_Run(fw::Thread*) {
  HistoryReaderHooks hooks;
  hooks.setProgress = [this](std::int64_t bytes) { download_progress = bytes; };
  hooks.saveRequested = [this] { return download_save; };
  hooks.yield = [] { fw::YieldToOthers(); };
  const HistoryImage image = ReadHistoryImage(*Link(), hooks);
  download_end = image.end;
  // Report what is in the file, not the page that never came.
  if (image.end != HistoryReadEnd::kDone)
    download_progress = static_cast<std::int64_t>(image.readLength);
  if (image.readLength == 0) {
    // A file with the header alone would pass for an empty history.
    DiscardHistoryFile();
    download_finished = true;
    return;
  }

  try {
    WriteHistoryCsv(
        image.bytes, image.readLength, [this](std::string_view text) { fileStream->Write(text); },
        [] { fw::YieldToOthers(); });
    fileStream->Close();
  } catch (const fw::IOException& error) {
    // A full disk or a vanished folder: a cut-off CSV would pass for the
    // whole history, so it goes, and the finish says why.
    download_error = error.what();
    fileStream.reset();
    try {
      if (file && file->Exists()) file->Delete();
    } catch (const fw::IOException&) {
    }
  }
  fileStream.reset();
  download_finished = true;
}
