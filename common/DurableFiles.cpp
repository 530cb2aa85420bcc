#include "common/DurableFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/DirectoryListing.h"
#include "common/Path.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"

namespace {

bool SyncAt(const std::string& path, const struct stat& st, std::string* error) {
  // A link cannot be opened without following it; its directory's sync
  // covers it.
  if (S_ISLNK(st.st_mode))
    return true;
  // Only files and directories hold data; a device or a fifo is not opened.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    return true;
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0 || fsync(fd.Get()) != 0) {
    *error = ErrnoMessage(path, errno);
    return false;
  }
  return true;
}

}  // namespace

bool SyncPath(const std::string& path, std::string* error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    *error = ErrnoMessage(path, errno);
    return false;
  }
  return SyncAt(path, st, error);
}

bool SyncParentDirectory(const std::string& path, std::string* error) {
  return SyncPath(DirectoryOf(path), error);
}

bool SyncTree(const std::string& root, std::string* error) {
  struct stat st;
  if (lstat(root.c_str(), &st) != 0) {
    *error = ErrnoMessage(root, errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    std::vector<std::string> names;
    if (!ListDirectory(root, &names, error))
      return false;
    for (const std::string& name : names) {
      if (!SyncTree(root + "/" + name, error))
        return false;
    }
  }
  return SyncAt(root, st, error);
}
