// The serial console: the one-command mailbox, and the received bytes shown
// as text or hexadecimal with a running count.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

#include "framework/format.h"
#include "link/console_text.h"
#include "link/meter_line.h"
#include "mainwindow/maglyx.h"

void MAGLYX::SerialTimer_Action(fw::Timer*) {
  if (download_started) return;  // the history download owns the line

  if (!TxBuffer.empty()) {
    Link()->Write(TxBuffer);
    TxBuffer.clear();
  }
  // The late reply to a transfer's request (a cancelled page, a capture's
  // frame) is no message for the user: it is left out, not shown as noise.
  const bool owed = Link()->Owed();
  const std::string s = Link()->ReadAll();
  if (s.empty() || owed) return;
  ShowReceived(s);
}

void MAGLYX::ShowReceived(const std::string& s) {
  // Only the new bytes are added: the console may hold megabytes, and a tick
  // must cost the same then as at start.
  SerialText()->AppendText(ASCIIButton()->isChecked() ? ConsoleAsciiText(s, *console_line_)
                                                      : ConsoleHexText(s, *console_line_));
  // Counted as an integer: exact at any size.
  const auto count =
      static_cast<std::int64_t>(std::llround(fw::Val(SerialSize()->text().toStdString())));
  SerialSize()->setText(
      QString::fromStdString(fw::Str(count + static_cast<std::int64_t>(s.size()))));
}

void MAGLYX::SendCommand1_Action(QPushButton*) {
  TxBuffer = Command1()->currentText().toStdString();
}

void MAGLYX::SendCommand2_Action(QPushButton*) {
  if (!IsConnected()) return;
  // Typed text goes out as typed; characters beyond ASCII as their UTF-8 bytes.
  TxBuffer = Command2()->text().toStdString();
}

void MAGLYX::ClearButton_Action(QPushButton*) {
  SerialText()->SetText(QString());
  SerialSize()->setText(QStringLiteral("0"));
  *console_line_ = {};
  Link()->ReadAll();
}

void MAGLYX::SerialText_TextChange(fw::TextArea* sender) { ScrollDown(sender); }
