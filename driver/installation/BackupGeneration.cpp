#include "driver/installation/BackupGeneration.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/DirectoryListing.h"
#include "common/FileKind.h"
#include "common/ScopedFd.h"

#include "common/SystemError.h"
#include "installer/BackupName.h"
#include "installer/ServerInstaller.h"

namespace {

// Whether the inode at path carries a flag that keeps it, or what it holds,
// from being removed. Only files and directories carry flags; opening
// anything else could have side effects.
bool Pinned(const std::string& path, const struct stat& st) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    return false;
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  int flags = 0;
  if (fd.Get() < 0 || ioctl(fd.Get(), FS_IOC_GETFLAGS, &flags) != 0)
    return false;
  return (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

// What RemoveTree would stop at below path, without removing anything.
// parentPinned: whether the directory holding path keeps its entries.
bool CheckRemovable(const std::string& path, bool parentPinned, std::string* error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    *error = ErrnoMessage(path, errno);
    return false;
  }
  bool pinned = Pinned(path, st);
  if (parentPinned || (pinned && !S_ISDIR(st.st_mode))) {
    *error = ErrnoMessage(path, EPERM);
    return false;
  }
  if (!S_ISDIR(st.st_mode))
    return true;
  if (geteuid() != 0 && access(path.c_str(), W_OK | X_OK) != 0) {
    *error = ErrnoMessage(path, errno);
    return false;
  }
  std::vector<std::string> names;
  if (!ListDirectory(path, &names, error))
    return false;
  for (const std::string& name : names) {
    if (!CheckRemovable(path + "/" + name, pinned, error))
      return false;
  }
  // An immutable directory that is empty still cannot go.
  if (pinned) {
    *error = ErrnoMessage(path, EPERM);
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

bool BackupGeneration::CheckEarlierBackupsRemovable(std::string* error) const {
  for (const std::string& name : m_present) {
    if (!CheckRemovable(PathOf(name + kBackupSuffix), false, error))
      return false;
  }
  return true;
}

std::string BackupGeneration::PathOf(const std::string& name) const {
  return m_sDir == "/" ? "/" + name : m_sDir + "/" + name;
}
