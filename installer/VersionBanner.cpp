// The installer banner lives apart from the rest of ServerInstaller so that
// stage one can print it without linking the framework.
#include <stdio.h>

#include "installer/ServerInstaller.h"
#include "launcher/PackageInfo.h"

const char* ServerInstaller::VersionBanner() {
  static char* text = [] {
    const int kSize = 256;
    char* buf = new char[kSize];
    snprintf(buf, kSize, "\n%s Installer", PackageInfo::VersionString());
    return buf;
  }();
  return text;
}
