#include "driver/SetupInstaller.h"

#include "driver/InstallPath.h"

void SetupInstaller::CleanUpAndExit(int status, ConsoleUI* ui) {
  // Without an installation directory the clean-up removes only the
  // extraction directory. The process ends here, so the setting is not
  // needed again.
  if (!m_bPlacing)
    m_szDefInstallPath = nullptr;
  ServerInstaller::CleanUpAndExit(status, ui);
}

std::string SetupInstaller::InstallDir() const {
  return m_szDefInstallPath != nullptr ? m_szDefInstallPath : std::string();
}

std::string SetupInstaller::FilePath(const char* name) const {
  return PathInInstallDir(InstallDir(), name != nullptr ? name : "");
}
