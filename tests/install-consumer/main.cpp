// Includes every header of the installed framework and drives an installer
// object through its defaults, as a driver of one's own would start.
#include <stdio.h>

#include "console/ConsoleUI.h"
#include "credentials/PasswordTool.h"
#include "installer/ServerInstaller.h"
#include "launcher/PackageInfo.h"
#include "launcher/ServerVersion.h"
#include "templates/NewInstallerConfig.h"
#include "templates/NewInstallerIQLoopcastScript.h"

int main() {
  ServerInstaller installer;
  installer.SetDefaults();
  printf("%s\n", ServerInstaller::VersionBanner());
  printf("%s\n", PasswordTool::PasswordIsOK("admin", " ") ? "accepted" : "refused");
  printf("%s\n", installer.m_szConfigFileName);
  return 0;
}
