// Connecting to and disconnecting from the chosen port. The caption of the
// connect button is the connection state.

#include <QComboBox>
#include <QPushButton>

#include "framework/desktop.h"
#include "framework/serial.h"
#include "mainwindow/maglyx.h"

namespace {
const QString kConnect = QStringLiteral("Connect");
const QString kDisconnect = QStringLiteral("Disconnect");
}  // namespace

bool MAGLYX::IsConnected() { return ConnectButton()->text() == kDisconnect; }

void MAGLYX::ConnectButton_Action(QPushButton* sender) {
  if (sender->text() == kDisconnect) {
    Serial1()->Close();
    sender->setText(kConnect);
    SerialPortsPopupMenu()->setEnabled(true);
    PortListUpdater()->SetMode(fw::Timer::kModeMultiple);
    DisableUI();
    return;
  }

  Serial1()->SetSerialPort(fw::System::SerialPortAt(SerialPortsPopupMenu()->currentIndex()));
  if (Serial1()->Open()) {
    sender->setText(kDisconnect);
    SerialPortsPopupMenu()->setEnabled(false);
    PortListUpdater()->SetMode(fw::Timer::kModeOff);
    Serial1()->ReadAll();  // whatever the device sent before we listened
    EnableUI();
  } else {
    fw::Beep();
    fw::MsgBox("The selected serial port could not be opened.");
  }
}
