#include "driver/settings/SetupInstaller.h"

#include "common/CurrentDirectory.h"
#include "common/Path.h"
#include "common/RemoveTree.h"
#include "common/SecondStageHandover.h"
#include "console/ConsoleUI.h"
#include "driver/settings/InstallPath.h"
#include "driver/settings/SetupConsole.h"

SetupInstaller::SetupInstaller() : m_bPlacing(false) {
  delete m_pUI;
  m_pUI = new SetupConsole;
}

void SetupInstaller::CleanUpAndExit(int status, ConsoleUI* ui) {
  // Without an installation directory the clean-up removes only the
  // extraction directory. The process ends here, so the setting is not
  // needed again.
  if (!m_bPlacing)
    m_szDefInstallPath = nullptr;
  ServerInstaller::CleanUpAndExit(status, ui);
}

void SetupInstaller::CleanUp(const char* dir) {
  std::string current;
  std::string why;
  if (CurrentDirectory(&current) && BaseNameOf(current) == kExtractionDirName) {
    if (RemoveTree(current, &why)) {
      // The framework's commands would now run in a directory that is gone;
      // what is left for them is the installed Bin/setup.
      if (dir != nullptr && !RemoveTree(PathInInstallDir(dir, "Bin/setup"), &why) && m_pUI)
        m_pUI->ShowErrorMessage("\nWarning: Unable to remove %s\n", why.c_str());
      return;
    }
    if (m_pUI != nullptr)
      m_pUI->ShowErrorMessage("\nWarning: Unable to remove the extraction directory %s (%s)\n",
                              current.c_str(), why.c_str());
  }
  ServerInstaller::CleanUp(dir);
}

std::string SetupInstaller::InstallDir() const {
  return m_szDefInstallPath != nullptr ? m_szDefInstallPath : std::string();
}

std::string SetupInstaller::FilePath(const char* name) const {
  return PathInInstallDir(InstallDir(), name != nullptr ? name : "");
}
