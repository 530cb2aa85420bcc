#include "driver/BackupGeneration.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/DirectoryListing.h"
#include "common/SystemError.h"
#include "installer/ServerInstaller.h"

namespace {

const char kBackupSuffix[] = ".old";

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Removes path and, for a directory (never followed through a link),
// everything in it: true, or false with *error naming the first entry that
// stayed and why.
bool RemoveTree(const std::string& path, std::string* error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    *error = ErrnoMessage(path, errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    // A backup of a read-only directory is still the installing user's to
    // remove.
    if ((st.st_mode & 0700) != 0700)
      chmod(path.c_str(), (st.st_mode & 07777) | 0700);
    std::vector<std::string> names;
    if (!ListDirectory(path, &names, error))
      return false;
    for (const std::string& name : names) {
      if (!RemoveTree(path + "/" + name, error))
        return false;
    }
    if (rmdir(path.c_str()) != 0) {
      *error = ErrnoMessage(path, errno);
      return false;
    }
    return true;
  }
  if (unlink(path.c_str()) != 0) {
    *error = ErrnoMessage(path, errno);
    return false;
  }
  return true;
}

}  // namespace

BackupGeneration::BackupGeneration(const std::string& dir) : m_sDir(dir) {
  for (const char* name : ServerInstaller::g_pBackupNames) {
    if (Exists(PathOf(name)))
      m_present.push_back(name);
  }
}

bool BackupGeneration::RemoveEarlierBackups(std::string* error) {
  for (const std::string& name : m_present) {
    if (!RemoveTree(PathOf(name + kBackupSuffix), error))
      return false;
  }
  return true;
}

bool BackupGeneration::ConfirmBackups(std::string* error) {
  std::string stayed;
  for (const std::string& name : m_present) {
    if (Exists(PathOf(name)) || !Exists(PathOf(name + kBackupSuffix))) {
      stayed = name;
      break;
    }
  }
  if (stayed.empty())
    return true;

  *error = PathOf(stayed) + " could not be moved to " + stayed + kBackupSuffix;
  // Half an installation moved aside would leave the server without parts
  // that nothing is going to replace now.
  for (const std::string& name : m_present) {
    std::string path = PathOf(name);
    std::string backup = PathOf(name + kBackupSuffix);
    if (Exists(path) || !Exists(backup))
      continue;
    if (rename(backup.c_str(), path.c_str()) != 0)
      *error += "; " + backup + " could not be moved back: " + ErrnoText(errno);
  }
  return false;
}

std::string BackupGeneration::PathOf(const std::string& name) const {
  return m_sDir == "/" ? "/" + name : m_sDir + "/" + name;
}
