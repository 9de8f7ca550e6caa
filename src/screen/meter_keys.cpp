// The meter's keys: each press stores its one command in the transmit
// mailbox, which the console timer sends on its next tick. A later press
// before that tick replaces it.

#include <QPushButton>

#include "link/command_frame.h"
#include "mainwindow/maglyx.h"

bool MAGLYX::S1H_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey0Frame;
  return false;
}
bool MAGLYX::S2H_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey1Frame;
  return false;
}
bool MAGLYX::S3H_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey2Frame;
  return false;
}
bool MAGLYX::S4H_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey3Frame;
  return false;
}
bool MAGLYX::S1V_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey0Frame;
  return false;
}
bool MAGLYX::S2V_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey1Frame;
  return false;
}
bool MAGLYX::S3V_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey2Frame;
  return false;
}
bool MAGLYX::S4V_MouseDown(fw::Canvas*, int, int) {
  TxBuffer = kKey3Frame;
  return false;
}

void MAGLYX::ZoomOut_Action(QPushButton*) { TxBuffer = kKeyHold1Frame; }
void MAGLYX::ZoomIn_Action(QPushButton*) { TxBuffer = kKeyHold2Frame; }
void MAGLYX::OnOff_Action(QPushButton*) { TxBuffer = kKeyHold3Frame; }
