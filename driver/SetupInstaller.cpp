#include "driver/SetupInstaller.h"

void SetupInstaller::CleanUpAndExit(int status, ConsoleUI* ui) {
  // Without an installation directory the clean-up removes only the
  // extraction directory. The process ends here, so the setting is not
  // needed again.
  if (!m_bPlacing)
    m_szDefInstallPath = nullptr;
  ServerInstaller::CleanUpAndExit(status, ui);
}
