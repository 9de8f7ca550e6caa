#include "mainwindow/maglyx.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <map>
#include <vector>

#include "app/main_menu_bar.h"
#include "framework/application.h"
#include "framework/dispatch.h"
#include "framework/exceptions.h"
#include "link/meter_line.h"
#include "mainwindow/face_geometry.h"

namespace {

QPointer<MAGLYX> g_window;

// Content-area size of the window, in points.
constexpr int kWidth = 642;
constexpr int kHeight = 491;

}  // namespace

struct MAGLYX::Controls {
  QWidget* content = nullptr;
  fw::Canvas* SimBorder = nullptr;
  fw::Canvas* CScreenH = nullptr;
  fw::Canvas* S4H = nullptr;
  fw::Canvas* S3H = nullptr;
  fw::Canvas* S2H = nullptr;
  fw::Canvas* S1H = nullptr;
  fw::Canvas* CScreenV = nullptr;
  fw::Canvas* S4V = nullptr;
  fw::Canvas* S3V = nullptr;
  fw::Canvas* S2V = nullptr;
  fw::Canvas* S1V = nullptr;
  QCheckBox* bIsVerticalCheck = nullptr;
  QPushButton* ZoomOut = nullptr;
  QPushButton* ZoomIn = nullptr;
  QPushButton* OnOff = nullptr;
  fw::PopupMenu* SerialPortsPopupMenu = nullptr;
  QPushButton* ConnectButton = nullptr;
  fw::Timer* PortListUpdater = nullptr;
  fw::TextArea* SerialText = nullptr;
  fw::PopupMenu* Command1 = nullptr;
  QPushButton* SendCommand1 = nullptr;
  QLineEdit* Command2 = nullptr;
  QPushButton* SendCommand2 = nullptr;
  QPushButton* ClearButton = nullptr;
  QPushButton* DHButton = nullptr;
  QLineEdit* SerialSize = nullptr;
  QProgressBar* DownloadProgressBar = nullptr;
  fw::Timer* Timer100ms = nullptr;
  fw::Timer* SerialTimer = nullptr;
  QLabel* DownloadingLabel = nullptr;
  QPushButton* SaveButton = nullptr;
  QPushButton* DSButton = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QRadioButton* SS3 = nullptr;
  QRadioButton* SS4 = nullptr;
  QRadioButton* SS1 = nullptr;
  QRadioButton* SS2 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QRadioButton* ASCIIButton = nullptr;
  QRadioButton* HEXButton = nullptr;
  fw::Timer* GSTimer = nullptr;
  QPushButton* SyncTime = nullptr;
  QPushButton* RefreshPorts = nullptr;
  QButtonGroup* slotGroup = nullptr;
  QButtonGroup* formatGroup = nullptr;

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

MAGLYX::MAGLYX() : c_(std::make_unique<Controls>()) {
  setObjectName(QStringLiteral("MAGLYX"));
  Layout();
  CreateControls();
  // The window's design says it is visible: it shows once it is made.
  show();
}

MAGLYX::~MAGLYX() {
  // Workers use the line and the properties: stop them before anything goes.
  c_->GSThread.Kill();
  c_->DHThread.Kill();
  c_->GSThread.Join();
  c_->DHThread.Join();
}

void MAGLYX::Layout() {
  setMenuBar(&MainMenuBar::Instance());
  c_->content = new QWidget(this);
  c_->content->setObjectName(QStringLiteral("content"));
  setCentralWidget(c_->content);
  resize(kWidth, kHeight + menuBar()->sizeHint().height());
  setMinimumSize(64, 64);
  setMaximumSize(32000, 32000);
  setWindowTitle(QStringLiteral("MAGLYX"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
}

namespace {

// Places a control at its design geometry, given in window content coordinates
// even for a control inside another one.
template <class T>
T* Place(T* control, QWidget* parent, QWidget* content, int left, int top, int width, int height,
         const char* name) {
  control->setObjectName(QString::fromUtf8(name));
  const QPoint origin = parent->mapTo(content, QPoint(0, 0));
  control->setGeometry(left - origin.x(), top - origin.y(), width, height);
  control->setFont(fw::ControlFont());
  return control;
}

}  // namespace

void MAGLYX::CreateControls() {
  Controls& c = *c_;
  QWidget* w = c.content;
  // Keyboard order: each control's design tab index among the controls of its
  // (logical) parent; children follow their parent.
  std::map<QWidget*, std::vector<std::pair<int, QWidget*>>> tabChildren;
  auto tab = [&](QWidget* parent, int index, QWidget* control) {
    tabChildren[parent].emplace_back(index, control);
  };
  auto canvas = [&](QWidget* parent, const Box& b, const char* name, int tabIndex,
                    bool transparent) {
    auto* cv = Place(new fw::Canvas(parent), parent, w, b.left, b.top, b.width, b.height, name);
    cv->setAutoFillBackground(!transparent);
    cv->setFocusPolicy(Qt::NoFocus);
    tab(parent, tabIndex, cv);
    return cv;
  };
  auto button = [&](QWidget* parent, int l, int t, int wd, int h, const char* name, int tabIndex,
                    const char* caption, bool enabled) {
    auto* b =
        Place(new QPushButton(QString::fromUtf8(caption), parent), parent, w, l, t, wd, h, name);
    b->setEnabled(enabled);
    b->setAutoDefault(false);
    tab(parent, tabIndex, b);
    return b;
  };
  auto radio = [&](QButtonGroup* group, QWidget* logicalParent, int l, int t, int wd, int h,
                   const char* name, int tabIndex, const char* caption, bool selected) {
    auto* r = Place(new QRadioButton(QString::fromUtf8(caption), w), w, w, l, t, wd, h, name);
    group->addButton(r);
    r->setChecked(selected);
    tab(logicalParent, tabIndex, r);
    return r;
  };
  auto timer = [&](int mode, int period) {
    auto* t = new fw::Timer(this);
    t->SetPeriod(period);
    t->SetMode(mode);
    return t;
  };

  const FaceGeometry& h = kHorizontalFace;
  const FaceGeometry& v = kVerticalFace;
  c.SimBorder = canvas(w, {15, 196, 291, 288}, "SimBorder", 39, true);
  c.CScreenH = canvas(c.SimBorder, h.canvas, "CScreenH", 4, true);
  c.S4H = canvas(c.CScreenH, h.keys[3], "S4H", 0, true);
  c.S3H = canvas(c.CScreenH, h.keys[2], "S3H", 1, true);
  c.S2H = canvas(c.CScreenH, h.keys[1], "S2H", 2, true);
  c.S1H = canvas(c.CScreenH, h.keys[0], "S1H", 3, true);
  c.CScreenV = canvas(c.SimBorder, v.canvas, "CScreenV", 5, false);
  c.S4V = canvas(c.CScreenV, v.keys[3], "S4V", 0, true);
  c.S3V = canvas(c.CScreenV, v.keys[2], "S3V", 1, true);
  c.S2V = canvas(c.CScreenV, v.keys[1], "S2V", 2, true);
  c.S1V = canvas(c.CScreenV, v.keys[0], "S1V", 3, true);

  c.bIsVerticalCheck = Place(new QCheckBox(QStringLiteral("Vertical"), c.SimBorder), c.SimBorder, w,
                             198, 445, 77, 20, "bIsVerticalCheck");
  c.bIsVerticalCheck->setChecked(true);
  tab(c.SimBorder, 6, c.bIsVerticalCheck);
  c.ZoomOut = button(c.SimBorder, 198, 411, 80, 22, "ZoomOut", 7, "Zoom Out", false);
  c.ZoomIn = button(c.SimBorder, 198, 385, 80, 22, "ZoomIn", 8, "Zoom In", false);
  c.OnOff = button(c.SimBorder, 198, 359, 80, 22, "OnOff", 9, "On/Off", false);

  c.SerialPortsPopupMenu =
      Place(new fw::PopupMenu(w), w, w, 54, 12, 167, 22, "SerialPortsPopupMenu");
  tab(w, 0, c.SerialPortsPopupMenu);
  c.ConnectButton = button(w, 233, 12, 80, 22, "ConnectButton", 2, "Connect", false);

  c.PortListUpdater = timer(fw::Timer::kModeOff, 500);
  c.PortListUpdater->setObjectName(QStringLiteral("PortListUpdater"));

  c.SerialText = Place(new fw::TextArea(w), w, w, 329, 12, 293, 137, "SerialText");
  c.SerialText->setPlainText(QStringLiteral("Welcome to MAGLYX!\r"));
  c.SerialText->setReadOnly(true);
  // Only the program writes here: its appends are no edits to undo, and an
  // undo history would keep a second copy of everything received.
  c.SerialText->setUndoRedoEnabled(false);
  c.SerialText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  c.SerialText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  c.SerialText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  c.SerialText->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  tab(w, 3, c.SerialText);

  c.Command1 = Place(new fw::PopupMenu(w), w, w, 15, 36, 206, 22, "Command1");
  c.Command1->addItems({"<GETVER>>", "<GETSERIAL>>", "<DSID>>", "<FACTORYRESET>>", "<REBOOT>>"});
  c.Command1->setCurrentIndex(0);
  tab(w, 4, c.Command1);
  c.SendCommand1 = button(w, 232, 35, 80, 22, "SendCommand1", 5, "Send", false);
  c.Command2 = Place(new QLineEdit(w), w, w, 15, 60, 206, 22, "Command2");
  tab(w, 6, c.Command2);
  c.SendCommand2 = button(w, 232, 60, 80, 22, "SendCommand2", 7, "Send", false);
  // Return in the typed command presses its own "Send" (which does nothing while disabled).
  QObject::connect(c.Command2, &QLineEdit::returnPressed, c.SendCommand2, &QPushButton::click);
  c.ClearButton = button(w, 534, 167, 80, 22, "ClearButton", 10, "Clear", true);
  c.DHButton = button(w, 178, 128, 133, 22, "DHButton", 11, "Download History", false);

  c.SerialSize =
      Place(new QLineEdit(QStringLiteral("19"), w), w, w, 450, 167, 80, 22, "SerialSize");
  c.SerialSize->setReadOnly(true);
  c.SerialSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  tab(w, 12, c.SerialSize);

  c.DownloadProgressBar = Place(new QProgressBar(w), w, w, 15, 128, 160, 20, "DownloadProgressBar");
  c.DownloadProgressBar->setRange(0, 100);
  c.DownloadProgressBar->setValue(0);
  c.DownloadProgressBar->setTextVisible(false);
  tab(w, 13, c.DownloadProgressBar);

  c.Timer100ms = timer(fw::Timer::kModeMultiple, 100);
  c.Timer100ms->setObjectName(QStringLiteral("Timer100ms"));
  c.DHThread.SetPriority(20);
  c.SerialTimer = timer(fw::Timer::kModeMultiple, 50);
  c.SerialTimer->setObjectName(QStringLiteral("SerialTimer"));

  c.DownloadingLabel = Place(new QLabel(QStringLiteral("Downloading...0 Bytes"), w), w, w, 15, 110,
                             159, 16, "DownloadingLabel");
  c.DownloadingLabel->setTextInteractionFlags(Qt::NoTextInteraction);
  c.DownloadingLabel->setWordWrap(false);
  c.DownloadingLabel->hide();
  tab(w, 14, c.DownloadingLabel);
  c.SaveButton = button(w, 178, 102, 134, 22, "SaveButton", 15, "Stop && Save", true);
  c.SaveButton->hide();
  c.DSButton = button(w, 178, 162, 133, 22, "DSButton", 16, "Download Screenshot", false);

  c.GroupBox1 = Place(new QGroupBox(w), w, w, 15, 162, 160, 24, "GroupBox1");
  tab(w, 21, c.GroupBox1);
  c.slotGroup = new QButtonGroup(this);
  c.SS3 = radio(c.slotGroup, c.GroupBox1, 100, 162, 30, 20, "SS3", 0, "3", false);
  c.SS4 = radio(c.slotGroup, c.GroupBox1, 142, 162, 32, 20, "SS4", 1, "4", false);
  c.SS1 = radio(c.slotGroup, c.GroupBox1, 22, 162, 27, 20, "SS1", 2, "1", true);
  c.SS2 = radio(c.slotGroup, c.GroupBox1, 61, 162, 34, 20, "SS2", 3, "2", false);

  c.GroupBox2 = Place(new QGroupBox(w), w, w, 329, 167, 108, 22, "GroupBox2");
  tab(w, 22, c.GroupBox2);
  c.formatGroup = new QButtonGroup(this);
  c.ASCIIButton =
      radio(c.formatGroup, c.GroupBox2, 336, 167, 58, 21, "ASCIIButton", 0, "ASCII", true);
  c.HEXButton = radio(c.formatGroup, c.GroupBox2, 392, 167, 58, 20, "HEXButton", 1, "HEX", false);

  c.GSThread.SetPriority(5);
  c.GSTimer = timer(fw::Timer::kModeOff, 500);
  c.GSTimer->setObjectName(QStringLiteral("GSTimer"));
  c.SyncTime = button(w, 362, 219, 216, 22, "SyncTime", 40, "Sync Date && Time", false);
  c.RefreshPorts = button(w, 15, 12, 40, 20, "RefreshPorts", 41, "R", true);
  c.RefreshPorts->setFont(QApplication::font());

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
  walk(w);
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);

  BindEvents();
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
  // Each subsystem binds its handlers here. Design values are all in place by
  // now, so no handler runs because of one.
  auto bind = [this](auto* control, auto handler) { Bind(this, control, handler); };
  Controls& c = *c_;
  bind(c.SerialPortsPopupMenu, &MAGLYX::SerialPortsPopupMenu_Change);
  bind(c.ConnectButton, &MAGLYX::ConnectButton_Action);
  bind(c.PortListUpdater, &MAGLYX::PortListUpdater_Action);
  bind(c.SerialText, &MAGLYX::SerialText_TextChange);
  bind(c.SendCommand1, &MAGLYX::SendCommand1_Action);
  bind(c.SendCommand2, &MAGLYX::SendCommand2_Action);
  bind(c.ClearButton, &MAGLYX::ClearButton_Action);
  bind(c.DHButton, &MAGLYX::DHButton_Action);
  bind(c.Timer100ms, &MAGLYX::Timer100ms_Action);
  bind(&c.DHThread, &MAGLYX::DHThread_Run);
  bind(c.SerialTimer, &MAGLYX::SerialTimer_Action);
  bind(c.SaveButton, &MAGLYX::SaveButton_Action);
  bind(c.DSButton, &MAGLYX::DSButton_Action);
  bind(c.RefreshPorts, &MAGLYX::RefreshPorts_Action);
  // The live mirror: frame, faces, keys, orientation, capture.
  bind(c.SimBorder, &MAGLYX::SimBorder_Paint);
  bind(c.CScreenH, &MAGLYX::CScreenH_Paint);
  bind(c.S4H, &MAGLYX::S4H_MouseDown);
  bind(c.S3H, &MAGLYX::S3H_MouseDown);
  bind(c.S2H, &MAGLYX::S2H_MouseDown);
  bind(c.S1H, &MAGLYX::S1H_MouseDown);
  bind(c.CScreenV, &MAGLYX::CScreenV_Paint);
  bind(c.S4V, &MAGLYX::S4V_MouseDown);
  bind(c.S3V, &MAGLYX::S3V_MouseDown);
  bind(c.S2V, &MAGLYX::S2V_MouseDown);
  bind(c.S1V, &MAGLYX::S1V_MouseDown);
  bind(c.bIsVerticalCheck, &MAGLYX::bIsVerticalCheck_Action);
  bind(c.ZoomOut, &MAGLYX::ZoomOut_Action);
  bind(c.ZoomIn, &MAGLYX::ZoomIn_Action);
  bind(c.OnOff, &MAGLYX::OnOff_Action);
  bind(&c.GSThread, &MAGLYX::GSThread_Run);
  bind(c.GSTimer, &MAGLYX::GSTimer_Action);
}

template <class T>
T* MAGLYX::Visual(T* control) const {
  if (!fw::IsUserInterfaceThread())
    throw fw::ThreadAccessingUIException("a control was touched from a worker thread");
  return control;
}

fw::Canvas* MAGLYX::SimBorder() { return Visual(c_->SimBorder); }
fw::Canvas* MAGLYX::CScreenH() { return Visual(c_->CScreenH); }
fw::Canvas* MAGLYX::S4H() { return Visual(c_->S4H); }
fw::Canvas* MAGLYX::S3H() { return Visual(c_->S3H); }
fw::Canvas* MAGLYX::S2H() { return Visual(c_->S2H); }
fw::Canvas* MAGLYX::S1H() { return Visual(c_->S1H); }
fw::Canvas* MAGLYX::CScreenV() { return Visual(c_->CScreenV); }
fw::Canvas* MAGLYX::S4V() { return Visual(c_->S4V); }
fw::Canvas* MAGLYX::S3V() { return Visual(c_->S3V); }
fw::Canvas* MAGLYX::S2V() { return Visual(c_->S2V); }
fw::Canvas* MAGLYX::S1V() { return Visual(c_->S1V); }
QCheckBox* MAGLYX::bIsVerticalCheck() { return Visual(c_->bIsVerticalCheck); }
QPushButton* MAGLYX::ZoomOut() { return Visual(c_->ZoomOut); }
QPushButton* MAGLYX::ZoomIn() { return Visual(c_->ZoomIn); }
QPushButton* MAGLYX::OnOff() { return Visual(c_->OnOff); }
fw::PopupMenu* MAGLYX::SerialPortsPopupMenu() { return Visual(c_->SerialPortsPopupMenu); }
QPushButton* MAGLYX::ConnectButton() { return Visual(c_->ConnectButton); }
fw::Serial* MAGLYX::Serial1() { return &c_->Serial1; }
MeterLine* MAGLYX::Link() { return &c_->link; }
fw::Timer* MAGLYX::PortListUpdater() { return c_->PortListUpdater; }
fw::TextArea* MAGLYX::SerialText() { return Visual(c_->SerialText); }
fw::PopupMenu* MAGLYX::Command1() { return Visual(c_->Command1); }
QPushButton* MAGLYX::SendCommand1() { return Visual(c_->SendCommand1); }
QLineEdit* MAGLYX::Command2() { return Visual(c_->Command2); }
QPushButton* MAGLYX::SendCommand2() { return Visual(c_->SendCommand2); }
QPushButton* MAGLYX::ClearButton() { return Visual(c_->ClearButton); }
QPushButton* MAGLYX::DHButton() { return Visual(c_->DHButton); }
QLineEdit* MAGLYX::SerialSize() { return Visual(c_->SerialSize); }
QProgressBar* MAGLYX::DownloadProgressBar() { return Visual(c_->DownloadProgressBar); }
fw::Timer* MAGLYX::Timer100ms() { return c_->Timer100ms; }
fw::Thread* MAGLYX::DHThread() { return &c_->DHThread; }
fw::Timer* MAGLYX::SerialTimer() { return c_->SerialTimer; }
QLabel* MAGLYX::DownloadingLabel() { return Visual(c_->DownloadingLabel); }
QPushButton* MAGLYX::SaveButton() { return Visual(c_->SaveButton); }
QPushButton* MAGLYX::DSButton() { return Visual(c_->DSButton); }
QGroupBox* MAGLYX::GroupBox1() { return Visual(c_->GroupBox1); }
QRadioButton* MAGLYX::SS3() { return Visual(c_->SS3); }
QRadioButton* MAGLYX::SS4() { return Visual(c_->SS4); }
QRadioButton* MAGLYX::SS1() { return Visual(c_->SS1); }
QRadioButton* MAGLYX::SS2() { return Visual(c_->SS2); }
QGroupBox* MAGLYX::GroupBox2() { return Visual(c_->GroupBox2); }
QRadioButton* MAGLYX::ASCIIButton() { return Visual(c_->ASCIIButton); }
QRadioButton* MAGLYX::HEXButton() { return Visual(c_->HEXButton); }
fw::Thread* MAGLYX::GSThread() { return &c_->GSThread; }
fw::Timer* MAGLYX::GSTimer() { return c_->GSTimer; }
QPushButton* MAGLYX::SyncTime() { return Visual(c_->SyncTime); }
QPushButton* MAGLYX::RefreshPorts() { return Visual(c_->RefreshPorts); }

void MAGLYX::closeEvent(QCloseEvent* event) {
  fw::Dispatch([this] { Event_Close(); });
  event->accept();
}
