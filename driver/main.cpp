// The second-stage installer that the package starts as Bin/setup, and the
// installation's Bin/uninstall and Bin/verify, which are copies of it.
#include "common/CoreDumps.h"
#include "driver/SetupDriver.h"
#include "driver/uninstaller/Uninstaller.h"
#include "driver/uninstaller/Verifier.h"

int main(int argc, char** argv) {
  // Both hold passwords, typed, generated or read from the databases.
  DisableCoreDumps();
  if (argc > 0 && Uninstaller::IsUninstallerName(argv[0]))
    return Uninstaller::RunProgram(argc, const_cast<const char**>(argv));
  if (argc > 0 && Verifier::IsVerifierName(argv[0]))
    return Verifier::RunProgram(argc, const_cast<const char**>(argv));
  SetupDriver driver;
  driver.Run(argc, const_cast<const char**>(argv));
}
