#pragma once
// The few controls that Qt has no ready equivalent for. Everything else the
// window uses is a plain Qt widget (push buttons, pop-up menus, text fields).

#include <QComboBox>
#include <QPlainTextEdit>
#include <QWidget>
#include <functional>
#include <string>

class QPainter;

namespace fw {

// A surface the program paints on and that reports mouse presses.
class Canvas : public QWidget {
  Q_OBJECT
 public:
  explicit Canvas(QWidget* parent = nullptr);
  // Called (through Dispatch) for every repaint, with a painter on the canvas.
  std::function<void(QPainter&)> Paint;
  // Called (through Dispatch) when a mouse button goes down on the canvas.
  std::function<bool(int x, int y)> MouseDown;
  // Repaints the whole canvas, erasing the background first.
  void Refresh() { update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
};

// A multi-line text area with the operations the console relies on. Lines are
// visual lines (a wrapped paragraph counts as several), the same numbering for
// LineNumAtCharPos and ScrollPosition.
class TextArea : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TextArea(QWidget* parent = nullptr);
  QString Text() const { return toPlainText(); }
  void SetText(const QString& text) { setPlainText(text); }
  // Adds text at the end without rebuilding the document, so appending costs
  // the same at 10 KB as at 10 MB.
  void AppendText(const QString& text);
  int Length() const;
  int LineNumAtCharPos(int position) const;
  int ScrollPosition() const;
  void SetScrollPosition(int line);
};

// A drop-down list. A row's text is kept exactly as given (a meter's reply
// may end in line ends); it is drawn on one line, control characters shown as
// spaces, so that such a row does not break the control's look. The closed
// control keeps its size and may cut the selected row; then its tooltip holds
// the whole row, and the opened list is as wide as its widest row.
class PopupMenu : public QComboBox {
  Q_OBJECT
 public:
  explicit PopupMenu(QWidget* parent = nullptr);
  void showPopup() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void UpdateToolTip();
};

// Applies the window's control font: "Consolas" where it exists, else the
// platform's fixed-width font, at the system's default size.
QFont ControlFont();

}  // namespace fw
