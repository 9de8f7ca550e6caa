#pragma once
// MAGLYX, the program's one window. It owns every control and all shared
// state; the handlers of every subsystem are its methods (defined in the
// subsystem folders). The worker threads share the properties below without
// locks: the program lock lets only one piece of program code run at a time.

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
#include "link/console_text.h"
#include "mainwindow/control_table.h"

class MeterLine;
enum class HistoryReadEnd : int;
class QPainter;

class MAGLYX : public QMainWindow {
  Q_OBJECT
 public:
  // The one main window, made (and so shown) on the first call.
  static MAGLYX& Instance();
  // Whether the window exists, without making it.
  static MAGLYX* Existing();
  // Ends the window at shutdown.
  static void Destroy();

  MAGLYX();
  ~MAGLYX() override;

  // ---- Shared properties -------------------------------------------------
  std::int64_t download_progress = 0;                // bytes of logging memory requested so far
  std::string TxBuffer;                              // the one-command transmit mailbox
  bool download_started = false;                     // a history download is in progress
  std::unique_ptr<fw::TextOutputStream> fileStream;  // the CSV being written
  bool download_finished = false;                    // the history thread has closed the CSV
  std::optional<fw::FolderItem> file;                // the latest save dialog's result
  bool download_save = false;                        // the user asked to stop reading and save
  fw::Picture ScreenV;                               // last display, turned for the vertical face
  bool GSThreadRunning = false;                      // a screen capture is in progress
  bool bIsVerticalLCD = true;                        // show the vertical face
  fw::Picture ScreenH;                               // last display, horizontal
  std::string Model;                                 // the port probe's scratch
  // How the last history download ended, for its closing message: why the
  // reading ended (the file holds what was read), or why the file could not
  // be written (it was removed).
  HistoryReadEnd download_end{};
  std::string download_error;

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

  // ---- Event handlers ----------------------------------------------------
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
  void SerialPortsPopupMenu_Change(QComboBox* sender);
  void ConnectButton_Action(QPushButton* sender);
  void PortListUpdater_Action(fw::Timer* sender);
  void SerialText_TextChange(fw::TextArea* sender);
  void SendCommand1_Action(QPushButton* sender);
  void SendCommand2_Action(QPushButton* sender);
  void ClearButton_Action(QPushButton* sender);
  void DHButton_Action(QPushButton* sender);
  void Timer100ms_Action(fw::Timer* sender);
  void DHThread_Run(fw::Thread* sender);
  void SerialTimer_Action(fw::Timer* sender);
  void SaveButton_Action(QPushButton* sender);
  void DSButton_Action(QPushButton* sender);
  void GSThread_Run(fw::Thread* sender);
  void GSTimer_Action(fw::Timer* sender);
  void RefreshPorts_Action(QPushButton* sender);

  // The window's close event: stops both workers and quits.
  void Event_Close();

  // ---- Window operations -------------------------------------------------
  // Keeps the end of the text in view: the top line becomes the line holding
  // the end, less six lines when there are more than six.
  void ScrollDown(fw::TextArea* ta);
  // Switch the connection-bound controls (and the live mirror's timer).
  void EnableUI();
  void DisableUI();
  // Serial1 as every request and read of the meter's replies goes through it.
  MeterLine* Link();
  // Rebuilds the port list when the number of ports changed, probing each
  // port that opens with the version command.
  void PortProbe();
  // The connect button's caption is the connection state.
  bool IsConnected();
  // Appends received bytes to the console, as text or hex, and counts them.
  void ShowReceived(const std::string& bytes);
  // The two branches of the history button, and the tick's download half.
  void StartHistoryDownload(QPushButton* sender);
  void CancelHistoryDownload(QPushButton* sender);
  void ShowHistoryProgress();
  std::string HistoryOutcomeMessage() const;
  // Back to idle after any end of a download.
  void ResetHistoryControls();
  // Closes and deletes an unfinished CSV; the reason when it could not be deleted.
  std::string DiscardHistoryFile();
  // Discards the file of a download that has not finished, if one runs.
  void DiscardUnfinishedHistory();
  // A port that hung up while connected (an adapter pulled out) is disconnected.
  void NoticeLostPort();
  // One display capture on `line` (the capture thread's body; the line is a
  // parameter so that tests can play the meter).
  void CaptureScreen(MeterLine& line);
  // The mirror's orientation step, at the end of every Timer100ms tick.
  void ShowScreenMirror();

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

  // The controls, the serial line, the meter line on it and the two workers.
  struct Parts;
  std::unique_ptr<Parts> parts_;
  // Where the console's last line stands (a pending CR, its length).
  ConsoleLine console_line_;
};
