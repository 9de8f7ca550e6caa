#include <QCheckBox>
#include <QPushButton>

#include "framework/application.h"
#include "mainwindow/maglyx.h"

void MAGLYX::Event_Close() {
  GSThread()->Kill();
  DHThread()->Kill();
  DiscardUnfinishedHistory();
  fw::Quit(0);
}

void MAGLYX::Timer100ms_Action(fw::Timer*) {
  NoticeLostPort();       // link/connection.cpp
  ShowHistoryProgress();  // history/download_control.cpp
  ShowScreenMirror();     // screen/meter_faces.cpp
}

void MAGLYX::ScrollDown(fw::TextArea* ta) {
  const int n = ta->Length();
  int line = ta->LineNumAtCharPos(n);
  if (line > 6) line = line - 6;
  ta->SetScrollPosition(line);
}

void MAGLYX::EnableUI() {
  SendCommand1()->setEnabled(true);
  SendCommand2()->setEnabled(true);
  DHButton()->setEnabled(true);
  DSButton()->setEnabled(true);
  GSTimer()->SetMode(fw::Timer::kModeMultiple);
  OnOff()->setEnabled(true);
  ZoomIn()->setEnabled(true);
  ZoomOut()->setEnabled(true);
  SyncTime()->setEnabled(true);
}

void MAGLYX::DisableUI() {
  SendCommand1()->setEnabled(false);
  SendCommand2()->setEnabled(false);
  DHButton()->setEnabled(false);
  DSButton()->setEnabled(false);
  GSTimer()->SetMode(fw::Timer::kModeOff);
  OnOff()->setEnabled(false);
  ZoomIn()->setEnabled(false);
  ZoomOut()->setEnabled(false);
  SyncTime()->setEnabled(false);
}
