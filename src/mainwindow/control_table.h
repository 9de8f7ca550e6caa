// The window's 46 controls in the order they are made, with their design values: what the
// window shows before anything happens. MAGLYX::CreateControls makes them from this table, and
// each accessor in maglyx.h names its row; an accessor whose control is missing here, or has
// another class, does not compile. How to add a control: docs/architecture.md.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <type_traits>

#include "framework/timer.h"
#include "mainwindow/face_geometry.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
namespace fw {
class Canvas;
class PopupMenu;
class Serial;
class TextArea;
class Thread;
}  // namespace fw

namespace controls {

// What a control is; the C++ class of each is in Classes below.
enum Class {
  kCanvas,       // fw::Canvas: the program paints it and takes its mouse presses
  kCheckBox,     // QCheckBox
  kPushButton,   // QPushButton
  kPopupMenu,    // fw::PopupMenu: a drop-down list
  kTextArea,     // fw::TextArea: the console, read-only, scrolling
  kTextField,    // QLineEdit
  kProgressBar,  // QProgressBar
  kLabel,        // QLabel: one line, not selectable
  kGroupBox,     // QGroupBox: its radio buttons are one choice
  kRadioButton,  // QRadioButton
  kSerial,       // fw::Serial, the window's serial line; its line settings are fixed
  kTimer,        // fw::Timer
  kThread,       // fw::Thread, a cooperative worker
};

// Design values; what a row leaves out keeps the value given here.
struct Design {
  const char* text = nullptr;  // caption, or the text shown at start
  bool enabled = true;
  bool visible = true;
  bool checked = false;       // a ticked check box, a selected radio button
  bool transparent = false;   // a canvas shows what lies under it where it paints nothing
  bool readOnly = false;      // text controls
  bool rightAligned = false;  // text fields
  std::span<const char* const> rows = {};  // a pop-up menu's rows; the first is selected
  int maximum = 0;                         // a progress bar's value at its end
  int mode = fw::Timer::kModeOff;          // timers: off, or repeating every period
  int period = 0;                          // timers, in milliseconds
  int priority = 0;                        // threads: recorded, not used in scheduling
  bool systemFont = false;                 // the desktop's font instead of the controls' one
};

// In the order the table reads, not packed: 46 rows, a few bytes of padding each.
struct Row {  // NOLINT(clang-analyzer-optin.performance.Padding)
  const char* name;
  Class cls;
  // The control this one is placed in; none for the window. Radio buttons name their group box.
  const char* parent = nullptr;
  // Window content coordinates, also inside another control. Non-visual members have none.
  Box place = {};
  int tab = -1;  // keyboard order among the controls of the same parent
  Design design = {};
};

inline constexpr const char* kCommandRows[] = {"<GETVER>>", "<GETSERIAL>>", "<DSID>>",
                                               "<FACTORYRESET>>", "<REBOOT>>"};

// clang-format off
inline constexpr Row kTable[] = {
  // name                   class          parent       place                    tab  design
  {"SimBorder",            kCanvas,       nullptr,     {15, 196, 291, 288},      39, {.transparent = true}},
  {"CScreenH",             kCanvas,       "SimBorder", kHorizontalFace.canvas,    4, {.transparent = true}},
  {"S4H",                  kCanvas,       "CScreenH",  kHorizontalFace.keys[3],   0, {.transparent = true}},
  {"S3H",                  kCanvas,       "CScreenH",  kHorizontalFace.keys[2],   1, {.transparent = true}},
  {"S2H",                  kCanvas,       "CScreenH",  kHorizontalFace.keys[1],   2, {.transparent = true}},
  {"S1H",                  kCanvas,       "CScreenH",  kHorizontalFace.keys[0],   3, {.transparent = true}},
  {"CScreenV",             kCanvas,       "SimBorder", kVerticalFace.canvas,      5, {}},
  {"S4V",                  kCanvas,       "CScreenV",  kVerticalFace.keys[3],     0, {.transparent = true}},
  {"S3V",                  kCanvas,       "CScreenV",  kVerticalFace.keys[2],     1, {.transparent = true}},
  {"S2V",                  kCanvas,       "CScreenV",  kVerticalFace.keys[1],     2, {.transparent = true}},
  {"S1V",                  kCanvas,       "CScreenV",  kVerticalFace.keys[0],     3, {.transparent = true}},
  {"bIsVerticalCheck",     kCheckBox,     "SimBorder", {198, 445, 77, 20},        6, {.text = "Vertical", .checked = true}},
  {"ZoomOut",              kPushButton,   "SimBorder", {198, 411, 80, 22},        7, {.text = "Zoom Out", .enabled = false}},
  {"ZoomIn",               kPushButton,   "SimBorder", {198, 385, 80, 22},        8, {.text = "Zoom In", .enabled = false}},
  {"OnOff",                kPushButton,   "SimBorder", {198, 359, 80, 22},        9, {.text = "On/Off", .enabled = false}},
  {"SerialPortsPopupMenu", kPopupMenu,    nullptr,     {54, 12, 167, 22},         0, {}},
  {"ConnectButton",        kPushButton,   nullptr,     {233, 12, 80, 22},         2, {.text = "Connect", .enabled = false}},
  {"Serial1",              kSerial},
  {"PortListUpdater",      kTimer,        nullptr,     {},                       -1, {.mode = fw::Timer::kModeOff, .period = 500}},
  {"SerialText",           kTextArea,     nullptr,     {329, 12, 293, 137},       3, {.text = "Welcome to MAGLYX!\r", .readOnly = true}},
  {"Command1",             kPopupMenu,    nullptr,     {15, 36, 206, 22},         4, {.rows = kCommandRows}},
  {"SendCommand1",         kPushButton,   nullptr,     {232, 35, 80, 22},         5, {.text = "Send", .enabled = false}},
  {"Command2",             kTextField,    nullptr,     {15, 60, 206, 22},         6, {}},
  {"SendCommand2",         kPushButton,   nullptr,     {232, 60, 80, 22},         7, {.text = "Send", .enabled = false}},
  {"ClearButton",          kPushButton,   nullptr,     {534, 167, 80, 22},       10, {.text = "Clear"}},
  {"DHButton",             kPushButton,   nullptr,     {178, 128, 133, 22},      11, {.text = "Download History", .enabled = false}},
  {"SerialSize",           kTextField,    nullptr,     {450, 167, 80, 22},       12, {.text = "19", .readOnly = true, .rightAligned = true}},
  {"DownloadProgressBar",  kProgressBar,  nullptr,     {15, 128, 160, 20},       13, {.maximum = 100}},
  {"Timer100ms",           kTimer,        nullptr,     {},                       -1, {.mode = fw::Timer::kModeMultiple, .period = 100}},
  {"DHThread",             kThread,       nullptr,     {},                       -1, {.priority = 20}},
  {"SerialTimer",          kTimer,        nullptr,     {},                       -1, {.mode = fw::Timer::kModeMultiple, .period = 50}},
  {"DownloadingLabel",     kLabel,        nullptr,     {15, 110, 159, 16},       14, {.text = "Downloading...0 Bytes", .visible = false}},
  {"SaveButton",           kPushButton,   nullptr,     {178, 102, 134, 22},      15, {.text = "Stop && Save", .visible = false}},
  {"DSButton",             kPushButton,   nullptr,     {178, 162, 133, 22},      16, {.text = "Download Screenshot", .enabled = false}},
  {"GroupBox1",            kGroupBox,     nullptr,     {15, 162, 160, 24},       21, {}},
  {"SS3",                  kRadioButton,  "GroupBox1", {100, 162, 30, 20},        0, {.text = "3"}},
  {"SS4",                  kRadioButton,  "GroupBox1", {142, 162, 32, 20},        1, {.text = "4"}},
  {"SS1",                  kRadioButton,  "GroupBox1", {22, 162, 27, 20},         2, {.text = "1", .checked = true}},
  {"SS2",                  kRadioButton,  "GroupBox1", {61, 162, 34, 20},         3, {.text = "2"}},
  {"GroupBox2",            kGroupBox,     nullptr,     {329, 167, 108, 22},      22, {}},
  {"ASCIIButton",          kRadioButton,  "GroupBox2", {336, 167, 58, 21},        0, {.text = "ASCII", .checked = true}},
  {"HEXButton",            kRadioButton,  "GroupBox2", {392, 167, 58, 20},        1, {.text = "HEX"}},
  {"GSThread",             kThread,       nullptr,     {},                       -1, {.priority = 5}},
  {"GSTimer",              kTimer,        nullptr,     {},                       -1, {.mode = fw::Timer::kModeOff, .period = 500}},
  {"SyncTime",             kPushButton,   nullptr,     {362, 219, 216, 22},      40, {.text = "Sync Date && Time", .enabled = false}},
  {"RefreshPorts",         kPushButton,   nullptr,     {15, 12, 40, 20},         41, {.text = "R", .systemFont = true}},
};
// clang-format on

inline constexpr std::size_t kCount = std::size(kTable);

// The row of the control of this name. Used by the compiler for the accessors.
constexpr std::size_t RowOf(std::string_view name) {
  for (std::size_t row = 0; row < kCount; ++row)
    if (name == kTable[row].name) return row;
  throw "the control table has no control of this name";
}

// Every parent is made before the controls placed in it.
consteval bool ParentsComeFirst() {
  for (std::size_t row = 0; row < kCount; ++row)
    if (kTable[row].parent != nullptr && RowOf(kTable[row].parent) >= row) return false;
  return true;
}
static_assert(kCount == 46 && ParentsComeFirst());

// The class of each kind of control, in the order of Class.
template <class... Types>
struct ClassList {};
using Classes =
    ClassList<fw::Canvas, QCheckBox, QPushButton, fw::PopupMenu, fw::TextArea, QLineEdit,
              QProgressBar, QLabel, QGroupBox, QRadioButton, fw::Serial, fw::Timer, fw::Thread>;

// The kind of control whose class is T: its place in Classes.
template <class T, class... Types>
consteval Class ClassIn(ClassList<Types...>) {
  int kind = 0;
  for (const bool same : {std::is_same_v<T, Types>...}) {
    if (same) return static_cast<Class>(kind);
    ++kind;
  }
  throw "not a control class";
}
template <class T>
consteval Class ClassOf() {
  return ClassIn<T>(Classes{});
}

// A control of class T, found in the table by its name while the program is compiled.
template <class T>
struct Named {
  consteval Named(const char* name) : row(RowOf(name)) {
    if (kTable[row].cls != ClassOf<T>()) throw "the control table gives this control another class";
  }
  std::size_t row;
};

}  // namespace controls
