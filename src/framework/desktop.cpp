#include "framework/desktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>
#include <mutex>

#include "framework/exceptions.h"
#include "framework/program_lock.h"
#include "framework/thread.h"

namespace fw {
namespace {

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

void RequireUserInterfaceThread(const char* what) {
  if (!IsUserInterfaceThread())
    throw ThreadAccessingUIException(std::string(what) + " was opened from a worker thread");
}

// The folder the save dialog starts in: the user's documents, or the home
// folder when there is none.
QString StartFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
  return QDir::homePath();
}

class QtDesktopServices final : public DesktopServices {
 public:
  void MsgBox(const std::string& text) override {
    if (!HaveWidgets()) {
      std::fprintf(stderr, "maglyx: %s\n", text.c_str());
      return;
    }
    RequireUserInterfaceThread("A message box");
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setText(QString::fromStdString(text));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
  }

  void Beep() override {
    if (!HaveWidgets()) return;
    if (IsUserInterfaceThread()) {
      QApplication::beep();
    } else {
      QMetaObject::invokeMethod(
          qApp, [] { QApplication::beep(); }, Qt::QueuedConnection);
    }
  }

  std::optional<FolderItem> GetSaveFolderItem(const std::string& fileType,
                                              const std::string& proposedName) override {
    if (!HaveWidgets()) return std::nullopt;
    RequireUserInterfaceThread("A save dialog");
    const QString name = QString::fromStdString(proposedName);
    QString filter;
    const QString suffix = QFileInfo(name).suffix();
    if (!fileType.empty() && !suffix.isEmpty())
      filter = QString::fromStdString(fileType) + " (*." + suffix + ");;" +
               QFileDialog::tr("All files (*)");
    const QString chosen = QFileDialog::getSaveFileName(QApplication::activeWindow(), QString(),
                                                        QDir(StartFolder()).filePath(name), filter);
    if (chosen.isEmpty()) return std::nullopt;
    return FolderItem(std::filesystem::path(QFile::encodeName(chosen).toStdString()));
  }
};

// The installed services. Until a program or a test installs some, the Qt
// ones are made on first use.
std::mutex g_mutex;
std::unique_ptr<DesktopServices> g_services;
bool g_installed = false;

DesktopServices* Services() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_installed) {
    g_services = MakeQtDesktopServices();
    g_installed = true;
  }
  return g_services.get();
}

}  // namespace

std::unique_ptr<DesktopServices> MakeQtDesktopServices() {
  return std::make_unique<QtDesktopServices>();
}

std::unique_ptr<DesktopServices> SetDesktopServices(std::unique_ptr<DesktopServices> services) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_installed = true;
  std::swap(g_services, services);
  return services;
}

void MsgBox(const std::string& text) {
  DesktopServices* services = Services();
  ProgramLockGiveaway giveaway;
  if (services) {
    services->MsgBox(text);
  } else {
    std::fprintf(stderr, "maglyx: %s\n", text.c_str());
  }
}

void Beep() {
  DesktopServices* services = Services();
  ProgramLockGiveaway giveaway;
  if (services) services->Beep();
}

std::optional<FolderItem> GetSaveFolderItem(const std::string& fileType,
                                            const std::string& proposedName) {
  DesktopServices* services = Services();
  ProgramLockGiveaway giveaway;
  if (!services) return std::nullopt;
  return services->GetSaveFolderItem(fileType, proposedName);
}

}  // namespace fw
