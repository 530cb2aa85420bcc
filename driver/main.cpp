// The second-stage installer that the package starts as Bin/setup, and the
// installation's Bin/uninstall, which is a copy of it.
#include "common/CoreDumps.h"
#include "driver/SetupDriver.h"
#include "driver/uninstaller/Uninstaller.h"

int main(int argc, char** argv) {
  // Both hold passwords, typed, generated or read from the databases.
  DisableCoreDumps();
  if (argc > 0 && Uninstaller::IsUninstallerName(argv[0]))
    return Uninstaller::RunProgram(argc, const_cast<const char**>(argv));
  SetupDriver driver;
  driver.Run(argc, const_cast<const char**>(argv));
}
