// Connecting to and disconnecting from the chosen port. The caption of the
// connect button is the connection state.

#include <QComboBox>
#include <QPushButton>

#include "framework/desktop.h"
#include "framework/serial.h"
#include "link/meter_line.h"
#include "mainwindow/maglyx.h"

namespace {
const QString kConnect = QStringLiteral("Connect");
const QString kDisconnect = QStringLiteral("Disconnect");
}  // namespace

bool MAGLYX::IsConnected() { return ConnectButton()->text() == kDisconnect; }

void MAGLYX::ConnectButton_Action(QPushButton* sender) {
  if (sender->text() == kDisconnect) {
    // A running transfer notices that its connection is gone and sends
    // nothing more, not even once the probe opens the line on other ports.
    Serial1()->Close();
    sender->setText(kConnect);
    SerialPortsPopupMenu()->setEnabled(true);
    PortListUpdater()->SetMode(fw::Timer::kModeMultiple);
    DisableUI();
    return;
  }

  // A row whose port has gone since the list was built counts as a port that
  // cannot be opened, rather than as an error.
  const int index = SerialPortsPopupMenu()->currentIndex();
  bool opened = false;
  if (index >= 0 && index < fw::System::SerialPortCount()) {
    Serial1()->SetSerialPort(fw::System::SerialPortAt(index));
    opened = Serial1()->Open();
  }
  if (opened) {
    sender->setText(kDisconnect);
    SerialPortsPopupMenu()->setEnabled(false);
    PortListUpdater()->SetMode(fw::Timer::kModeOff);
    Link()->ReadAll();  // whatever the device sent before we listened
    EnableUI();
  } else {
    fw::Beep();
    fw::MsgBox("The selected serial port could not be opened.");
  }
}

void MAGLYX::NoticeLostPort() {
  // Open but hung up: nothing will come from the device any more, and the
  // window should not go on saying "Disconnect" over a dead port.
  if (!IsConnected() || !Serial1()->IsGone()) return;
  ConnectButton_Action(ConnectButton());
  fw::Beep();
  fw::MsgBox("The connection to the serial port was lost.");
}
