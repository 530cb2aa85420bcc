#include "product/ServerVersion.h"

#include <stdio.h>

namespace {
const int kMajorVersion = 9;
const int kMinorVersion = 0;
}  // namespace

const char* ServerVersion::ProductName() {
  return "Strata Server";
}
const char* ServerVersion::FullProductName() {
  return "Strata Server 9.08";
}
const char* ServerVersion::ReleaseName() {
  return "9.08";
}
const char* ServerVersion::BuildName() {
  return "(Build 66222/5156)";
}
const char* ServerVersion::VersionString() {
  return "9.0.8.1427";
}
const char* ServerVersion::MajorString() {
  return "TARVER_MAJOR_VERSION";
}
const char* ServerVersion::MinorString() {
  return "TARVER_MINOR_VERSION";
}

const char* ServerVersion::MajorMinorString() {
  // Cached for the life of the process, like the other version texts.
  static char* text = [] {
    const int kSize = 16;
    char* buf = new char[kSize];
    snprintf(buf, kSize, "%d.%d", kMajorVersion, kMinorVersion);
    return buf;
  }();
  return text;
}

int ServerVersion::MajorVersion() {
  return kMajorVersion;
}
int ServerVersion::MinorVersion() {
  return kMinorVersion;
}
const char* ServerVersion::Platform() {
  return "linux-2.2-libc6-i586-server";
}
