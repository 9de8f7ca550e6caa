#pragma once
// The few private steps of the window that tests (and the console benchmark) drive directly: a
// capture on a line the test plays, the console's append, and why a history file was not kept.

#include <string>

#include "mainwindow/maglyx.h"

struct WindowSeam {
  static void CaptureScreen(MAGLYX& window, MeterLine& line) { window.CaptureScreen(line); }
  static void ShowReceived(MAGLYX& window, const std::string& bytes) { window.ShowReceived(bytes); }
  static const std::string& DownloadError(const MAGLYX& window) { return window.download_error; }
};
