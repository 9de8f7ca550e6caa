// The meter's keys: each press stores its one command in the transmit
// mailbox, which the console timer sends on its next tick. A later press
// before that tick replaces it. Key n is the same key on either face.

#include <QPushButton>

#include "link/command_frame.h"
#include "mainwindow/maglyx.h"

namespace {

// A key canvas takes the press: it goes no further.
bool Press(std::string& mailbox, std::string_view frame) {
  mailbox = frame;
  return false;
}

}  // namespace

bool MAGLYX::S1H_MouseDown(fw::Canvas*, int, int) { return Press(TxBuffer, kKey0Frame); }
bool MAGLYX::S2H_MouseDown(fw::Canvas*, int, int) { return Press(TxBuffer, kKey1Frame); }
bool MAGLYX::S3H_MouseDown(fw::Canvas*, int, int) { return Press(TxBuffer, kKey2Frame); }
bool MAGLYX::S4H_MouseDown(fw::Canvas*, int, int) { return Press(TxBuffer, kKey3Frame); }

bool MAGLYX::S1V_MouseDown(fw::Canvas* sender, int x, int y) { return S1H_MouseDown(sender, x, y); }
bool MAGLYX::S2V_MouseDown(fw::Canvas* sender, int x, int y) { return S2H_MouseDown(sender, x, y); }
bool MAGLYX::S3V_MouseDown(fw::Canvas* sender, int x, int y) { return S3H_MouseDown(sender, x, y); }
bool MAGLYX::S4V_MouseDown(fw::Canvas* sender, int x, int y) { return S4H_MouseDown(sender, x, y); }

// Zoom Out, Zoom In and On/Off send the key-hold commands 1, 2 and 3.
void MAGLYX::ZoomOut_Action(QPushButton*) { TxBuffer = kKeyHold1Frame; }
void MAGLYX::ZoomIn_Action(QPushButton*) { TxBuffer = kKeyHold2Frame; }
void MAGLYX::OnOff_Action(QPushButton*) { TxBuffer = kKeyHold3Frame; }
