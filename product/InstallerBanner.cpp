#include "product/InstallerBanner.h"

#include <stdio.h>

#include "product/PackageInfo.h"

const char* InstallerBanner() {
  static char* text = [] {
    const int kSize = 256;
    char* buf = new char[kSize];
    snprintf(buf, kSize, "\n%s Installer", PackageInfo::VersionString());
    return buf;
  }();
  return text;
}
