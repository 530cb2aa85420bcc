#include "driver/installation/FreeSpace.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>

#include "common/DirectoryListing.h"
#include "common/FreeBytes.h"
#include "common/Path.h"
#include "common/SystemError.h"

bool TreeSize(const std::string& path, uint64_t blockSize, uint64_t* bytes, std::string* error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    *error = ErrnoMessage(path, errno);
    return false;
  }
  uint64_t block = blockSize > 0 ? blockSize : 1;
  if (!S_ISREG(st.st_mode)) {
    *bytes += block;
    if (!S_ISDIR(st.st_mode))
      return true;
    std::vector<std::string> names;
    if (!ListDirectory(path, &names, error))
      return false;
    for (const std::string& name : names) {
      if (!TreeSize(path + "/" + name, blockSize, bytes, error))
        return false;
    }
    return true;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  *bytes += (size + block - 1) / block * block;
  return true;
}

bool RoomAt(const std::string& path, FileSystemRoom* room, std::string* error) {
  std::string at = path.empty() ? "/" : path;
  struct stat st;
  // The nearest part of the path that exists is where the files will land.
  while (lstat(at.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      *error = ErrnoMessage(at, errno);
      return false;
    }
    std::string parent = DirectoryOf(at);
    if (parent.empty() || parent == at) {
      *error = ErrnoMessage(at, errno);
      return false;
    }
    at = parent;
  }
  struct statvfs fs;
  if (stat(at.c_str(), &st) != 0 || statvfs(at.c_str(), &fs) != 0) {
    *error = ErrnoMessage(at, errno);
    return false;
  }
  room->device = st.st_dev;
  room->blockSize = fs.f_frsize;
  room->available = FreeBytes(fs, geteuid() == 0);
  room->measuredAt = at;
  return true;
}
