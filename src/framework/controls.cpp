#include "framework/controls.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextLayout>

#include "framework/dispatch.h"

namespace fw {

Canvas::Canvas(QWidget* parent) : QWidget(parent) {}

void Canvas::paintEvent(QPaintEvent*) {
  if (!Paint) return;
  QPainter painter(this);
  Dispatch([&] { Paint(painter); });
}

void Canvas::mousePressEvent(QMouseEvent* event) {
  if (!MouseDown) {
    QWidget::mousePressEvent(event);
    return;
  }
  const QPoint at = event->position().toPoint();
  Dispatch([&] { MouseDown(at.x(), at.y()); });
}

TextArea::TextArea(QWidget* parent) : QPlainTextEdit(parent) {}

void TextArea::AppendText(const QString& text) {
  if (text.isEmpty()) return;
  // A cursor of our own leaves the user's selection and scroll alone.
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
}

int TextArea::Length() const { return document()->characterCount() - 1; }

int TextArea::LineNumAtCharPos(int position) const {
  const QTextBlock block = document()->findBlock(position);
  if (!block.isValid()) return 0;
  int line = block.firstLineNumber();
  if (const QTextLayout* layout = block.layout(); layout != nullptr && layout->lineCount() > 0) {
    const QTextLine inBlock = layout->lineForTextPosition(position - block.position());
    if (inBlock.isValid()) line += inBlock.lineNumber();
  }
  return line;
}

int TextArea::ScrollPosition() const { return verticalScrollBar()->value(); }

void TextArea::SetScrollPosition(int line) { verticalScrollBar()->setValue(line); }

namespace {

class SingleLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = PopupMenu::SingleLine(option->text);
  }
};

}  // namespace

PopupMenu::PopupMenu(QWidget* parent) : QComboBox(parent) {
  setItemDelegate(new SingleLineDelegate(this));
}

QString PopupMenu::SingleLine(QString text) {
  for (QChar& ch : text) {
    if (ch.category() == QChar::Other_Control) ch = QChar(' ');
  }
  return text.trimmed();
}

void PopupMenu::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText = SingleLine(option.currentText);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

QFont ControlFont() {
  QFont font(QStringLiteral("Consolas"));
  font.setStyleHint(QFont::Monospace);
  font.setPointSizeF(QApplication::font().pointSizeF());
  if (QFontInfo(font).family() == QStringLiteral("Consolas")) return font;
  // The platform's fixed-width font is usually wider than Consolas (whose
  // characters are 0.55 em wide), and the controls have fixed sizes made for
  // Consolas: shrink the stand-in so that captions still fit.
  font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(QApplication::font().pointSizeF());
  const double em = QFontInfo(font).pixelSize();
  const double width = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
  if (em > 0 && width > 0.55 * em) font.setPointSizeF(font.pointSizeF() * (0.55 * em / width));
  return font;
}

}  // namespace fw
