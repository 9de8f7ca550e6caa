#include "framework/controls.h"

#include <QAbstractItemView>
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
#include <algorithm>

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

// A row's text on one line: control characters as spaces, none at either end.
QString SingleLine(QString text) {
  for (QChar& ch : text) {
    if (ch.category() == QChar::Other_Control) ch = QChar(' ');
  }
  return text.trimmed();
}

class SingleLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = SingleLine(option->text);
  }
};

}  // namespace

PopupMenu::PopupMenu(QWidget* parent) : QComboBox(parent) {
  setItemDelegate(new SingleLineDelegate(this));
  connect(this, &QComboBox::currentTextChanged, this, [this] { UpdateToolTip(); });
}

void PopupMenu::showPopup() {
  // Rows are read in the list, so none is cut there, however narrow the control.
  QAbstractItemView* list = view();
  const int margins = 2 * list->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  list->setMinimumWidth(std::max(width(), list->sizeHintForColumn(0) + margins));
  QComboBox::showPopup();
}

void PopupMenu::UpdateToolTip() {
  QStyleOptionComboBox option;
  initStyleOption(&option);
  const QRect label =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  const QString text = SingleLine(currentText());
  setToolTip(fontMetrics().horizontalAdvance(text) > label.width() ? text : QString());
}

void PopupMenu::resizeEvent(QResizeEvent* event) {
  QComboBox::resizeEvent(event);
  UpdateToolTip();
}

void PopupMenu::changeEvent(QEvent* event) {
  QComboBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateToolTip();
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
  // Consolas: shrink the replacement so that captions still fit.
  font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(QApplication::font().pointSizeF());
  const double em = QFontInfo(font).pixelSize();
  const double width = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
  if (em > 0 && width > 0.55 * em) font.setPointSizeF(font.pointSizeF() * (0.55 * em / width));
  return font;
}

}  // namespace fw
