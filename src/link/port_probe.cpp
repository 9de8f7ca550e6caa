// The port list: one row per serial port in system order, a meter showing
// under its own version reply.

#include <QComboBox>
#include <QPushButton>

#include "app/app.h"
#include "framework/serial.h"
#include "link/command_frame.h"
#include "mainwindow/maglyx.h"

namespace {

// One character per byte, as the meter sent it.
QString BytesText(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

void MAGLYX::PortProbe() {
  QComboBox* list = SerialPortsPopupMenu();
  const int oldRows = list->count();
  if (fw::System::SerialPortCount() == oldRows) return;

  list->clear();
  fw::Serial* line = Serial1();
  for (int i = 0; i <= fw::System::SerialPortCount() - 1; ++i) {
    const fw::SerialPort port = fw::System::SerialPortAt(i);
    line->SetSerialPort(port);
    if (line->Open()) {
      Model = line->ReadAll();
      line->Write(std::string(kGetVersionFrame));
      App::Instance().SleepCurrentThread(100);
      Model = line->ReadAll();
      if (Model.find("EMF") != std::string::npos) {
        list->addItem(BytesText(Model));
        list->setCurrentIndex(i);
      } else {
        list->addItem(QString::fromStdString(port.Name));
      }
      line->Close();
    } else {
      list->addItem(QString::fromStdString(port.Name));
      list->setCurrentIndex(i);
    }
    fw::YieldToOthers();
  }

  const int count = fw::System::SerialPortCount();
  list->setCurrentIndex(count < oldRows ? 0 : count - 1);
}

void MAGLYX::PortListUpdater_Action(fw::Timer*) { PortProbe(); }

void MAGLYX::RefreshPorts_Action(QPushButton*) {
  // The probe borrows the one serial line. While it is connected, re-probing
  // would close the user's connection (and any transfer on it) behind their
  // back, so the list waits until the next disconnect, when the port timer
  // brings it up to date.
  if (IsConnected()) return;
  PortProbe();
}

void MAGLYX::SerialPortsPopupMenu_Change(QComboBox* sender) {
  ConnectButton()->setEnabled(sender->currentIndex() != -1);
}
