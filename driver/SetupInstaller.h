#ifndef STRATA_DRIVER_SETUPINSTALLER_H_
#define STRATA_DRIVER_SETUPINSTALLER_H_

#include "installer/ServerInstaller.h"

// The framework's installer as setup runs it. The clean-up at every end of
// the process, the framework's own exits in ParseCmdLine included, removes
// the installation directory's Bin/setup only once the product's files have
// begun to move there: before that, a Bin/setup in that directory belongs
// to an earlier installation. The extraction directory goes either way.
class SetupInstaller : public ServerInstaller {
 public:
  SetupInstaller() : m_bPlacing(false) {}

  // From now on the installation directory's Bin/setup is this
  // installation's.
  void MarkPlacing() { m_bPlacing = true; }

  [[noreturn]] void CleanUpAndExit(int status, ConsoleUI* ui) override;

 private:
  bool m_bPlacing;
};

#endif  // STRATA_DRIVER_SETUPINSTALLER_H_
