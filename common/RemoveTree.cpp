#include "common/RemoveTree.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/DirectoryListing.h"
#include "common/SystemError.h"

bool RemoveTree(const std::string& path, std::string* error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT)
      return true;
    *error = ErrnoMessage(path, errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    // A read-only directory (a product may ship one) is still its owner's
    // to empty.
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
