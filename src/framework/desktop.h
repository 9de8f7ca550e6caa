#pragma once
// Desktop services: the modal message box, the alert sound and the save
// dialog. Behind one replaceable interface so that tests can script them.

#include <memory>
#include <optional>
#include <string>

#include "framework/files.h"

namespace fw {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;
  virtual void MsgBox(const std::string& text) = 0;
  virtual void Beep() = 0;
  // Shows the save dialog proposing `proposedName`; nothing when dismissed.
  virtual std::optional<FolderItem> GetSaveFolderItem(const std::string& fileType,
                                                      const std::string& proposedName) = 0;
};

// The Qt implementation used by the program.
std::unique_ptr<DesktopServices> MakeQtDesktopServices();

// Installs the services (the program installs the Qt ones at start-up); returns the previous ones.
std::unique_ptr<DesktopServices> SetDesktopServices(std::unique_ptr<DesktopServices> services);

// What program code calls. Each gives the program lock away while the modal
// box or dialog runs its own event loop, so timers and workers go on meanwhile.
void MsgBox(const std::string& text);
void Beep();
std::optional<FolderItem> GetSaveFolderItem(const std::string& fileType,
                                            const std::string& proposedName);

}  // namespace fw
