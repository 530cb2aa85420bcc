#include "common/RemoveTree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "common/DirectoryListing.h"
#include "common/SystemError.h"

namespace {

bool Fail(const std::string& shown, int err, std::string* error) {
  *error = ErrnoMessage(shown, err);
  return false;
}

// Opens the directory name in the directory open at parent, never through
// a link, giving its owner read, write and search permission first where
// it lacks them (a product may ship a read-only directory): the descriptor,
// or -1 with errno set.
int OpenOwnDirectory(int parent, const char* name) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) {
    struct stat st;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      return -1;
    if (S_ISDIR(st.st_mode))
      fchmodat(parent, name, (st.st_mode & 07777) | 0700, 0);
    fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0)
    return -1;
  struct stat st;
  if (fstat(fd, &st) == 0 && (st.st_mode & 0700) != 0700)
    fchmod(fd, (st.st_mode & 07777) | 0700);
  return fd;
}

bool EmptyDirectory(int fd, const std::string& shown, std::string* error);

// Removes name, which the listing of the directory open at parent gave as
// of type (DT_UNKNOWN when the file system does not say), and everything
// below it; shown is the path of parent for messages.
bool RemoveAt(int parent, const std::string& name, unsigned char type, const std::string& shown,
              std::string* error) {
  if (type == DT_UNKNOWN) {
    struct stat st;
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT || Fail(shown + "/" + name, errno, error);
    type = IFTODT(st.st_mode);
  }
  if (type != DT_DIR) {
    if (unlinkat(parent, name.c_str(), 0) != 0 && errno != ENOENT)
      return Fail(shown + "/" + name, errno, error);
    return true;
  }
  const std::string path = shown + "/" + name;
  int fd = OpenOwnDirectory(parent, name.c_str());
  if (fd < 0)
    return errno == ENOENT || Fail(path, errno, error);
  bool emptied = EmptyDirectory(fd, path, error);
  close(fd);
  if (!emptied)
    return false;
  if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
    return Fail(path, errno, error);
  return true;
}

// Removes everything in the directory open at fd (which stays open), whose
// path is shown. The names are read whole before the first goes, so that
// the removals do not disturb the listing.
bool EmptyDirectory(int fd, const std::string& shown, std::string* error) {
  std::vector<std::pair<std::string, unsigned char>> entries;
  if (!ListEntriesAt(fd, shown, &entries, error))
    return false;
  // In the order of the names, as every run walks a tree.
  std::sort(entries.begin(), entries.end());
  for (const auto& entry : entries) {
    if (!RemoveAt(fd, entry.first, entry.second, shown, error))
      return false;
  }
  return true;
}

}  // namespace

bool RemoveTree(const std::string& path, std::string* error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    return Fail(path, errno, error);
  }
  if (!S_ISDIR(st.st_mode)) {
    if (unlink(path.c_str()) != 0)
      return Fail(path, errno, error);
    return true;
  }
  int fd = OpenOwnDirectory(AT_FDCWD, path.c_str());
  if (fd < 0)
    return Fail(path, errno, error);
  bool emptied = EmptyDirectory(fd, path, error);
  close(fd);
  if (!emptied)
    return false;
  if (rmdir(path.c_str()) != 0)
    return Fail(path, errno, error);
  return true;
}
