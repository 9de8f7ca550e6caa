// Making the window: its design values, its controls from the control table, and the bindings of
// their events to the window's handlers.

#include "mainwindow/maglyx.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPointer>
#include <QScrollBar>
#include <array>
#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include "app/main_menu_bar.h"
#include "framework/dispatch.h"
#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "link/console_text.h"
#include "link/meter_line.h"

namespace {

QPointer<MAGLYX> g_window;

// Content-area size of the window, in points.
constexpr int kWidth = 642;
constexpr int kHeight = 491;

// Places a control at its design geometry, given in window content coordinates
// even for a control inside another one.
void Place(QWidget* control, QWidget* content, const controls::Row& row) {
  control->setObjectName(QString::fromUtf8(row.name));
  const QPoint origin = control->parentWidget()->mapTo(content, QPoint(0, 0));
  const Box& b = row.place;
  control->setGeometry(b.left - origin.x(), b.top - origin.y(), b.width, b.height);
  control->setFont(fw::ControlFont());
}

}  // namespace

struct MAGLYX::Parts {
  QWidget* content = nullptr;
  // The table's controls by row; none for the serial line and the workers, which follow.
  std::array<QObject*, controls::kCount> controls{};
  fw::Serial Serial1;
  MeterLine link{Serial1, {fw::SleepClockMs, fw::SleepCurrentThread}};
  // Declared after the line so that they are stopped before it goes.
  fw::Thread DHThread{"DHThread"};
  fw::Thread GSThread{"GSThread"};
};

MAGLYX& MAGLYX::Instance() {
  if (g_window.isNull()) g_window = new MAGLYX();
  return *g_window;
}

MAGLYX* MAGLYX::Existing() { return g_window.data(); }

void MAGLYX::Destroy() { delete g_window.data(); }

MAGLYX::MAGLYX()
    : parts_(std::make_unique<Parts>()), console_line_(std::make_unique<ConsoleLine>()) {
  setObjectName(QStringLiteral("MAGLYX"));
  Layout();
  CreateControls();
  BindEvents();
  // The window's design says it is visible: it shows once it is made.
  show();
}

MAGLYX::~MAGLYX() {
  // Workers use the line and the properties: stop them before anything goes.
  parts_->GSThread.Kill();
  parts_->DHThread.Kill();
  parts_->GSThread.Join();
  parts_->DHThread.Join();
}

void MAGLYX::Layout() {
  setMenuBar(&MainMenuBar::Instance());
  parts_->content = new QWidget(this);
  parts_->content->setObjectName(QStringLiteral("content"));
  setCentralWidget(parts_->content);
  resize(kWidth, kHeight + menuBar()->sizeHint().height());
  setMinimumSize(64, 64);
  setMaximumSize(32000, 32000);
  setWindowTitle(QStringLiteral("MAGLYX"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
}

void MAGLYX::CreateControls() {
  using namespace controls;
  QWidget* content = parts_->content;
  // Keyboard order: each control's tab index among the controls of its parent;
  // children follow their parent.
  std::map<QWidget*, std::vector<std::pair<int, QWidget*>>> tabChildren;
  QButtonGroup* group = nullptr;  // the latest group box's: its radio buttons are one choice

  for (std::size_t row = 0; row < kCount; ++row) {
    const Row& r = kTable[row];
    const Design& d = r.design;
    const QString text = QString::fromUtf8(d.text != nullptr ? d.text : "");
    QWidget* parent =
        r.parent != nullptr ? static_cast<QWidget*>(parts_->controls[RowOf(r.parent)]) : content;
    QWidget* widget = nullptr;
    switch (r.cls) {
      case kCanvas: {
        auto* canvas = new fw::Canvas(parent);
        canvas->setAutoFillBackground(!d.transparent);
        canvas->setFocusPolicy(Qt::NoFocus);
        widget = canvas;
        break;
      }
      case kCheckBox: {
        auto* box = new QCheckBox(text, parent);
        box->setChecked(d.checked);
        widget = box;
        break;
      }
      case kPushButton: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        widget = button;
        break;
      }
      case kPopupMenu: {
        auto* menu = new fw::PopupMenu(parent);
        for (const char* item : d.rows) menu->addItem(QString::fromUtf8(item));
        if (!d.rows.empty()) menu->setCurrentIndex(0);
        widget = menu;
        break;
      }
      case kTextArea: {
        auto* area = new fw::TextArea(parent);
        area->setPlainText(text);
        area->setReadOnly(d.readOnly);
        // Only the program writes here: its appends are no edits to undo, and an
        // undo history would keep a second copy of everything received.
        area->setUndoRedoEnabled(false);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        area->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        area->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        widget = area;
        break;
      }
      case kTextField: {
        auto* field = new QLineEdit(text, parent);
        field->setReadOnly(d.readOnly);
        if (d.rightAligned) field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        widget = field;
        break;
      }
      case kProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, d.maximum);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case kLabel: {
        auto* label = new QLabel(text, parent);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        label->setWordWrap(false);
        widget = label;
        break;
      }
      case kGroupBox: {
        widget = new QGroupBox(parent);
        group = new QButtonGroup(this);
        break;
      }
      case kRadioButton: {
        // In the window over its group box, not inside it: some stick out of
        // their box (HEXButton by 13 points), and a child would be cut off there.
        auto* radio = new QRadioButton(text, content);
        group->addButton(radio);
        radio->setChecked(d.checked);
        widget = radio;
        break;
      }
      case kTimer: {
        auto* timer = new fw::Timer(this);
        timer->SetPeriod(d.period);
        timer->SetMode(d.mode);
        timer->setObjectName(QString::fromUtf8(r.name));
        parts_->controls[row] = timer;
        break;
      }
      case kThread:
        (std::string_view(r.name) == "DHThread" ? parts_->DHThread : parts_->GSThread)
            .SetPriority(d.priority);
        break;
      case kSerial:
        break;  // its line settings are fixed; a port is chosen at connect time
    }
    if (widget == nullptr) continue;
    Place(widget, content, r);
    if (!d.enabled) widget->setEnabled(false);
    if (!d.visible) widget->hide();
    if (d.systemFont) widget->setFont(QApplication::font());
    tabChildren[parent].emplace_back(r.tab, widget);
    parts_->controls[row] = widget;
  }
  // Return in the typed command presses its own "Send" (which does nothing while disabled).
  QObject::connect(Command2(), &QLineEdit::returnPressed, SendCommand2(), &QPushButton::click);

  // Keyboard order: walk the parents depth first, each one's controls by tab index.
  std::vector<QWidget*> order;
  std::function<void(QWidget*)> walk = [&](QWidget* parent) {
    auto& children = tabChildren[parent];
    std::stable_sort(children.begin(), children.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [index, control] : children) {
      if (control->focusPolicy() != Qt::NoFocus) order.push_back(control);
      walk(control);
    }
  };
  walk(content);
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

namespace {

// Binding: an event of a control runs a method of the window, under the
// program lock, with the control as its first argument.
void Bind(MAGLYX* window, QPushButton* button, void (MAGLYX::*handler)(QPushButton*)) {
  QObject::connect(button, &QPushButton::clicked, window,
                   [=] { fw::Dispatch([=] { (window->*handler)(button); }); });
}
void Bind(MAGLYX* window, QCheckBox* box, void (MAGLYX::*handler)(QCheckBox*)) {
  QObject::connect(box, &QCheckBox::toggled, window,
                   [=] { fw::Dispatch([=] { (window->*handler)(box); }); });
}
void Bind(MAGLYX* window, QComboBox* menu, void (MAGLYX::*handler)(QComboBox*)) {
  QObject::connect(menu, &QComboBox::currentIndexChanged, window,
                   [=] { fw::Dispatch([=] { (window->*handler)(menu); }); });
}
void Bind(MAGLYX* window, fw::TextArea* area, void (MAGLYX::*handler)(fw::TextArea*)) {
  QObject::connect(area, &QPlainTextEdit::textChanged, window,
                   [=] { fw::Dispatch([=] { (window->*handler)(area); }); });
}
void Bind(MAGLYX* window, fw::Canvas* canvas, void (MAGLYX::*handler)(fw::Canvas*, QPainter&)) {
  canvas->Paint = [=](QPainter& g) { (window->*handler)(canvas, g); };
}
void Bind(MAGLYX* window, fw::Canvas* canvas, bool (MAGLYX::*handler)(fw::Canvas*, int, int)) {
  canvas->MouseDown = [=](int x, int y) { return (window->*handler)(canvas, x, y); };
}
void Bind(MAGLYX* window, fw::Timer* timer, void (MAGLYX::*handler)(fw::Timer*)) {
  timer->Action = [=] { (window->*handler)(timer); };
}
void Bind(MAGLYX* window, fw::Thread* thread, void (MAGLYX::*handler)(fw::Thread*)) {
  thread->RunHandler = [=] { (window->*handler)(thread); };
}

}  // namespace

void MAGLYX::BindEvents() {
  // The bindings, one per handler. The design values are all in place by now,
  // so no handler runs because of one.
  const auto bind = [this](auto* control, auto handler) { Bind(this, control, handler); };
  bind(SimBorder(), &MAGLYX::SimBorder_Paint);
  bind(CScreenH(), &MAGLYX::CScreenH_Paint);
  bind(S4H(), &MAGLYX::S4H_MouseDown);
  bind(S3H(), &MAGLYX::S3H_MouseDown);
  bind(S2H(), &MAGLYX::S2H_MouseDown);
  bind(S1H(), &MAGLYX::S1H_MouseDown);
  bind(CScreenV(), &MAGLYX::CScreenV_Paint);
  bind(S4V(), &MAGLYX::S4V_MouseDown);
  bind(S3V(), &MAGLYX::S3V_MouseDown);
  bind(S2V(), &MAGLYX::S2V_MouseDown);
  bind(S1V(), &MAGLYX::S1V_MouseDown);
  bind(bIsVerticalCheck(), &MAGLYX::bIsVerticalCheck_Action);
  bind(ZoomOut(), &MAGLYX::ZoomOut_Action);
  bind(ZoomIn(), &MAGLYX::ZoomIn_Action);
  bind(OnOff(), &MAGLYX::OnOff_Action);
  bind(SerialPortsPopupMenu(), &MAGLYX::SerialPortsPopupMenu_Change);
  bind(ConnectButton(), &MAGLYX::ConnectButton_Action);
  bind(PortListUpdater(), &MAGLYX::PortListUpdater_Action);
  bind(SerialText(), &MAGLYX::SerialText_TextChange);
  bind(SendCommand1(), &MAGLYX::SendCommand1_Action);
  bind(SendCommand2(), &MAGLYX::SendCommand2_Action);
  bind(ClearButton(), &MAGLYX::ClearButton_Action);
  bind(DHButton(), &MAGLYX::DHButton_Action);
  bind(Timer100ms(), &MAGLYX::Timer100ms_Action);
  bind(DHThread(), &MAGLYX::DHThread_Run);
  bind(SerialTimer(), &MAGLYX::SerialTimer_Action);
  bind(SaveButton(), &MAGLYX::SaveButton_Action);
  bind(DSButton(), &MAGLYX::DSButton_Action);
  bind(GSThread(), &MAGLYX::GSThread_Run);
  bind(GSTimer(), &MAGLYX::GSTimer_Action);
  bind(RefreshPorts(), &MAGLYX::RefreshPorts_Action);
}

namespace {

// Off the user-interface thread only workers run, and they run program code only: there the
// window is reached with the lock or not at all. The user-interface thread reaches controls
// between handlers too (the event loop, and tests that act as the user), so the check leaves it
// alone; its handlers run under the lock by the way they are bound.
void CheckReach(const char* what) {
  if constexpr (fw::kCheckProgramLock) {
    if (!fw::IsUserInterfaceThread()) fw::CheckProgramLock(what);
  }
}

}  // namespace

QObject* MAGLYX::Control(std::size_t row, bool visual) const {
  CheckReach(controls::kTable[row].name);
  if (visual && !fw::IsUserInterfaceThread())
    throw fw::ThreadAccessingUIException("a control was touched from a worker thread");
  return parts_->controls[row];
}

fw::Serial* MAGLYX::Serial1() {
  CheckReach("Serial1");
  return &parts_->Serial1;
}
fw::Thread* MAGLYX::DHThread() {
  CheckReach("DHThread");
  return &parts_->DHThread;
}
fw::Thread* MAGLYX::GSThread() {
  CheckReach("GSThread");
  return &parts_->GSThread;
}
MeterLine* MAGLYX::Link() {
  CheckReach("the meter line");
  return &parts_->link;
}

void MAGLYX::closeEvent(QCloseEvent* event) {
  fw::Dispatch([this] { Event_Close(); });
  event->accept();
}
