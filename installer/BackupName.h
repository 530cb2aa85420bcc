#ifndef STRATA_INSTALLER_BACKUPNAME_H_
#define STRATA_INSTALLER_BACKUPNAME_H_

#include <string>

// An earlier installation's file is kept beside the new one under its name
// with this suffix; the framework, setup's staged switch and Bin/uninstall
// all read and write that one generation.
inline constexpr char kBackupSuffix[] = ".old";

// name's backup name: "Bin" -> "Bin.old".
inline std::string BackupNameOf(const std::string& name) {
  return name + kBackupSuffix;
}

#endif  // STRATA_INSTALLER_BACKUPNAME_H_
