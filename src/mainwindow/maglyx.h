#pragma once
// MAGLYX, the program's one window. It owns every control and all shared state, and every event
// handler of the program is one of its methods, named control, underscore, event. The methods
// live with their subsystem: each block below says in which files, and a helper that another
// subsystem calls says so. Handlers and the operations of the first block are public; helpers
// are private. docs/architecture.md tells how the pieces fit.
//
// The short forms that the names keep:
//   DH          download history (DHButton, DHThread)
//   DS          download screenshot (DSButton)
//   GS          get screen: the live mirror's capture (GSTimer, GSThread, GSThreadRunning)
//   SS1..SS4    the screenshot slots
//   CScreenH/V  the horizontal and vertical meter-face canvases; ScreenH/V, their display pictures
//   S1H..S4H    keys 1 to 4 on the horizontal face; S1V..S4V on the vertical one
//   H, V        horizontal, vertical; bIsVerticalLCD, a Boolean: show the vertical face
//
// Program code runs only while it holds the program lock: handlers on the user-interface thread,
// DHThread_Run and GSThread_Run on their cooperative workers. So the properties need no locks of
// their own, and a value may change wherever the lock is handed over (docs/architecture.md lists
// where).

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "framework/controls.h"
#include "framework/files.h"
#include "framework/picture.h"
#include "framework/serial.h"
#include "framework/thread.h"
#include "framework/timer.h"
#include "mainwindow/control_table.h"

class MeterLine;                  // link/meter_line.h
struct ConsoleLine;               // link/console_text.h
enum class HistoryReadEnd : int;  // history/history_reader.h
class QPainter;

class MAGLYX : public QMainWindow {
  Q_OBJECT

  // ======== The window: mainwindow/maglyx.cpp (making it, the accessors) and
  // mainwindow/window_operations.cpp (its operations, its close, the 100 ms tick)
 public:
  // The one main window, made (and so shown) on the first call.
  static MAGLYX& Instance();
  // Whether the window exists, without making it.
  static MAGLYX* Existing();
  // Ends the window at shutdown.
  static void Destroy();

  MAGLYX();
  ~MAGLYX() override;

  // ---- Shared properties: how the handlers and the two workers exchange state ----
  // Bytes of logging memory asked for so far: the history worker counts, the tick shows them.
  std::int64_t download_progress = 0;
  // The one-command mailbox: the console's Send buttons and the meter's keys put a command in,
  // replacing one not yet sent; the console tick sends it and empties it.
  std::string TxBuffer;
  // A history download runs: the console tick and the screenshot download keep off the line.
  bool download_started = false;
  // The CSV being written: made by the history button, written and closed by the worker.
  std::unique_ptr<fw::TextOutputStream> fileStream;
  // The worker has written and closed the CSV: the tick reports the end.
  bool download_finished = false;
  // The latest save dialog's result; each download reads only what it chose itself.
  std::optional<fw::FolderItem> file;
  // The user asked to stop reading and save: the worker looks between pages.
  bool download_save = false;
  // The last display, turned for the vertical face: made by the capture, drawn by its face; its
  // arrival shows the keys of the chosen face.
  fw::Picture ScreenV;
  // A capture runs: the mirror's timer skips a tick, both downloads wait for the end.
  bool GSThreadRunning = false;
  // Show the vertical face: the check box writes it, the tick's orientation step reads it.
  bool bIsVerticalLCD = true;
  // The last display, horizontal: made by the capture, drawn by its face.
  fw::Picture ScreenH;
  // The port probe's scratch.
  std::string Model;

  // ---- Control accessors, in the order of the control table (control_table.h) ----
  // Visual controls only on the user-interface thread; elsewhere they raise
  // ThreadAccessingUIException. Workers use Serial1 and the timers.
  fw::Canvas* SimBorder() { return Visual<fw::Canvas>("SimBorder"); }
  fw::Canvas* CScreenH() { return Visual<fw::Canvas>("CScreenH"); }
  fw::Canvas* S4H() { return Visual<fw::Canvas>("S4H"); }
  fw::Canvas* S3H() { return Visual<fw::Canvas>("S3H"); }
  fw::Canvas* S2H() { return Visual<fw::Canvas>("S2H"); }
  fw::Canvas* S1H() { return Visual<fw::Canvas>("S1H"); }
  fw::Canvas* CScreenV() { return Visual<fw::Canvas>("CScreenV"); }
  fw::Canvas* S4V() { return Visual<fw::Canvas>("S4V"); }
  fw::Canvas* S3V() { return Visual<fw::Canvas>("S3V"); }
  fw::Canvas* S2V() { return Visual<fw::Canvas>("S2V"); }
  fw::Canvas* S1V() { return Visual<fw::Canvas>("S1V"); }
  QCheckBox* bIsVerticalCheck() { return Visual<QCheckBox>("bIsVerticalCheck"); }
  QPushButton* ZoomOut() { return Visual<QPushButton>("ZoomOut"); }
  QPushButton* ZoomIn() { return Visual<QPushButton>("ZoomIn"); }
  QPushButton* OnOff() { return Visual<QPushButton>("OnOff"); }
  fw::PopupMenu* SerialPortsPopupMenu() { return Visual<fw::PopupMenu>("SerialPortsPopupMenu"); }
  QPushButton* ConnectButton() { return Visual<QPushButton>("ConnectButton"); }
  fw::Serial* Serial1();
  fw::Timer* PortListUpdater() { return NonVisual<fw::Timer>("PortListUpdater"); }
  fw::TextArea* SerialText() { return Visual<fw::TextArea>("SerialText"); }
  fw::PopupMenu* Command1() { return Visual<fw::PopupMenu>("Command1"); }
  QPushButton* SendCommand1() { return Visual<QPushButton>("SendCommand1"); }
  QLineEdit* Command2() { return Visual<QLineEdit>("Command2"); }
  QPushButton* SendCommand2() { return Visual<QPushButton>("SendCommand2"); }
  QPushButton* ClearButton() { return Visual<QPushButton>("ClearButton"); }
  QPushButton* DHButton() { return Visual<QPushButton>("DHButton"); }
  QLineEdit* SerialSize() { return Visual<QLineEdit>("SerialSize"); }
  QProgressBar* DownloadProgressBar() { return Visual<QProgressBar>("DownloadProgressBar"); }
  fw::Timer* Timer100ms() { return NonVisual<fw::Timer>("Timer100ms"); }
  fw::Thread* DHThread();
  fw::Timer* SerialTimer() { return NonVisual<fw::Timer>("SerialTimer"); }
  QLabel* DownloadingLabel() { return Visual<QLabel>("DownloadingLabel"); }
  QPushButton* SaveButton() { return Visual<QPushButton>("SaveButton"); }
  QPushButton* DSButton() { return Visual<QPushButton>("DSButton"); }
  QGroupBox* GroupBox1() { return Visual<QGroupBox>("GroupBox1"); }
  QRadioButton* SS3() { return Visual<QRadioButton>("SS3"); }
  QRadioButton* SS4() { return Visual<QRadioButton>("SS4"); }
  QRadioButton* SS1() { return Visual<QRadioButton>("SS1"); }
  QRadioButton* SS2() { return Visual<QRadioButton>("SS2"); }
  QGroupBox* GroupBox2() { return Visual<QGroupBox>("GroupBox2"); }
  QRadioButton* ASCIIButton() { return Visual<QRadioButton>("ASCIIButton"); }
  QRadioButton* HEXButton() { return Visual<QRadioButton>("HEXButton"); }
  fw::Thread* GSThread();
  fw::Timer* GSTimer() { return NonVisual<fw::Timer>("GSTimer"); }
  QPushButton* SyncTime() { return Visual<QPushButton>("SyncTime"); }
  QPushButton* RefreshPorts() { return Visual<QPushButton>("RefreshPorts"); }

  // ---- Window operations ----
  // Keeps the end of the text in view: the top line becomes the line holding
  // the end, less six lines when there are more than six.
  void ScrollDown(fw::TextArea* ta);
  // Switch the connection-bound controls (and the live mirror's timer): after a
  // connect and after a disconnect.
  void EnableUI();
  void DisableUI();
  // The window's close event: stops both workers, drops an unfinished history
  // file and quits.
  void Event_Close();
  // Every 100 ms from the start, three subsystems' steps in turn: the lost-port
  // check (link), the history download's progress and end (history), the
  // mirror's orientation step (screen).
  void Timer100ms_Action(fw::Timer* sender);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Layout();
  void CreateControls();
  void BindEvents();
  // The control in a row of the table; visual ones only on the user-interface thread.
  QObject* Control(std::size_t row, bool visual) const;
  template <class T>
  T* Visual(controls::Named<T> control) const {
    return static_cast<T*>(Control(control.row, true));
  }
  template <class T>
  T* NonVisual(controls::Named<T> control) const {
    return static_cast<T*>(Control(control.row, false));
  }

  // Serial1 as every request and every read of the meter's replies goes
  // through it; every subsystem uses it.
  MeterLine* Link();

  // The controls, the serial line, the meter line on it and the two workers.
  struct Parts;
  std::unique_ptr<Parts> parts_;
  // tests/support/window_seam.h: the few private steps that tests drive directly.
  friend struct WindowSeam;

  // ======== Port list and connection: link/port_probe.cpp, link/connection.cpp
 public:
  void SerialPortsPopupMenu_Change(QComboBox* sender);
  void ConnectButton_Action(QPushButton* sender);
  void PortListUpdater_Action(fw::Timer* sender);
  void RefreshPorts_Action(QPushButton* sender);

 private:
  // Rebuilds the port list when the number of ports changed, probing each
  // port that opens with the version command.
  void PortProbe();
  // The connect button's caption is the connection state (also read by the
  // console, the history download and the screenshot download).
  bool IsConnected();
  // A port that hung up while connected (an adapter pulled out) is
  // disconnected, with a message (also from the 100 ms tick and the
  // screenshot download).
  void NoticeLostPort();

  // ======== Console: link/console.cpp; its text, link/console_text.h
 public:
  void SerialText_TextChange(fw::TextArea* sender);
  void SendCommand1_Action(QPushButton* sender);
  void SendCommand2_Action(QPushButton* sender);
  void ClearButton_Action(QPushButton* sender);
  void SerialTimer_Action(fw::Timer* sender);

 private:
  // Appends received bytes to the console, as text or hex, and counts them.
  void ShowReceived(const std::string& bytes);
  // Where the console's last line stands (a pending CR, its length).
  std::unique_ptr<ConsoleLine> console_line_;

  // ======== History download: history/download_control.cpp (the controls and the
  // tick's part), history/history_thread.cpp (the worker)
 public:
  void DHButton_Action(QPushButton* sender);
  void SaveButton_Action(QPushButton* sender);
  void DHThread_Run(fw::Thread* sender);
  // Discards the file of a download that has not finished, if one runs (also
  // at shutdown, app/startup.cpp).
  void DiscardUnfinishedHistory();

 private:
  // The two branches of the history button.
  void StartHistoryDownload(QPushButton* sender);
  void CancelHistoryDownload(QPushButton* sender);
  // The history half of the 100 ms tick: progress, and the end's message.
  void ShowHistoryProgress();
  std::string HistoryOutcomeMessage() const;
  // Back to idle after any end of a download.
  void ResetHistoryControls();
  // Closes and deletes an unfinished CSV; the reason when it could not be deleted.
  std::string DiscardHistoryFile();
  // How the last download ended, for its closing message: why the reading
  // ended (the file holds what was read), or why the file could not be written
  // (it was removed). Written by the worker, read by the tick.
  HistoryReadEnd download_end{};
  std::string download_error;

  // ======== Screen mirror: screen/meter_faces.cpp (frame, faces, orientation),
  // screen/meter_keys.cpp (keys), screen/display_capture.cpp (capture, on GSThread)
 public:
  void SimBorder_Paint(fw::Canvas* sender, QPainter& g);
  void CScreenH_Paint(fw::Canvas* sender, QPainter& g);
  bool S4H_MouseDown(fw::Canvas* sender, int x, int y);
  bool S3H_MouseDown(fw::Canvas* sender, int x, int y);
  bool S2H_MouseDown(fw::Canvas* sender, int x, int y);
  bool S1H_MouseDown(fw::Canvas* sender, int x, int y);
  void CScreenV_Paint(fw::Canvas* sender, QPainter& g);
  bool S4V_MouseDown(fw::Canvas* sender, int x, int y);
  bool S3V_MouseDown(fw::Canvas* sender, int x, int y);
  bool S2V_MouseDown(fw::Canvas* sender, int x, int y);
  bool S1V_MouseDown(fw::Canvas* sender, int x, int y);
  void bIsVerticalCheck_Action(QCheckBox* sender);
  void ZoomOut_Action(QPushButton* sender);
  void ZoomIn_Action(QPushButton* sender);
  void OnOff_Action(QPushButton* sender);
  void GSTimer_Action(fw::Timer* sender);
  void GSThread_Run(fw::Thread* sender);

 private:
  // The orientation step that ends every 100 ms tick.
  void ShowScreenMirror();
  // One display capture on `line`: the capture thread's body.
  void CaptureScreen(MeterLine& line);

  // ======== Screenshot download: screen/screenshot_download.cpp
 public:
  void DSButton_Action(QPushButton* sender);
};
