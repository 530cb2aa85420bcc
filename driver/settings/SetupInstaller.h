#ifndef STRATA_DRIVER_SETTINGS_SETUPINSTALLER_H_
#define STRATA_DRIVER_SETTINGS_SETUPINSTALLER_H_

#include <string>

#include "installer/ServerInstaller.h"

// The framework's installer as setup runs it. The clean-up at every end of
// the process, the framework's own exits in ParseCmdLine included, removes
// the installation directory's Bin/setup only once the product's files have
// begun to move there: before that, a Bin/setup in that directory belongs
// to an earlier installation. The extraction directory goes either way, and
// a failure to remove it is reported with its reason.
class SetupInstaller : public ServerInstaller {
 public:
  // Talks through a SetupConsole (driver/settings/SetupConsole.h).
  SetupInstaller();

  // From now on the installation directory's Bin/setup is this
  // installation's.
  void MarkPlacing() { m_bPlacing = true; }

  [[noreturn]] void CleanUpAndExit(int status, ConsoleUI* ui) override;
  // Removes the extraction directory (the working directory) and, once
  // placing, the installed Bin/setup itself, so that a failure is reported
  // with its reason; the framework's removal commands (with their delayed
  // second try) run only when the extraction directory stayed.
  void CleanUp(const char* dir) override;

  // The installation directory, "" while it is unset.
  std::string InstallDir() const;
  // A file of the installation directory by its name in the settings (null
  // counts as empty); an absolute name stands as it is.
  std::string FilePath(const char* name) const;
  // A new copy of text that this installer owns, for a setting that setup
  // fills in itself.
  char* OwnedText(const std::string& text) { return OwnedCopy(text.c_str()); }

 private:
  bool m_bPlacing;
};

#endif  // STRATA_DRIVER_SETTINGS_SETUPINSTALLER_H_
