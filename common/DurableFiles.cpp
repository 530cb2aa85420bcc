#include "common/DurableFiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "common/DirectoryListing.h"
#include "common/Path.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"

namespace {

bool Fail(const std::string& path, std::string* error) {
  *error = ErrnoMessage(path, errno);
  return false;
}

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

// Syncs everything below the directory open at fd (whose path is shown),
// deepest first, then the directory itself. The walk goes by descriptors
// and by the kinds the listing gives, with a stat only where the file
// system gives none.
bool SyncDirectoryAt(int fd, const std::string& shown, std::string* error) {
  std::vector<std::pair<std::string, unsigned char>> entries;
  if (!ListEntriesAt(fd, shown, &entries, error))
    return false;
  for (const auto& entry : entries) {
    const std::string path = shown + "/" + entry.first;
    unsigned char type = entry.second;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(fd, entry.first.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        *error = ErrnoMessage(path, errno);
        return false;
      }
      type = IFTODT(st.st_mode);
    }
    // A link is synced with its directory; only files and directories hold
    // data (a device or a fifo is not opened).
    if (type != DT_REG && type != DT_DIR)
      continue;
    ScopedFd child(openat(
        fd, entry.first.c_str(),
        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (type == DT_DIR ? O_DIRECTORY : 0)));
    if (child.Get() < 0) {
      *error = ErrnoMessage(path, errno);
      return false;
    }
    if (type == DT_DIR) {
      if (!SyncDirectoryAt(child.Get(), path, error))
        return false;
    } else if (fsync(child.Get()) != 0) {
      return Fail(path, error);
    }
  }
  if (fsync(fd) != 0)
    return Fail(shown, error);
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
  if (!S_ISDIR(st.st_mode))
    return SyncAt(root, st, error);
  ScopedFd fd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) {
    *error = ErrnoMessage(root, errno);
    return false;
  }
  return SyncDirectoryAt(fd.Get(), root, error);
}
