#include "common/DirectoryListing.h"

#include <dirent.h>
#include <errno.h>

#include <algorithm>

#include "common/SystemError.h"

bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) {
    *error = ErrnoMessage(dir, errno);
    return false;
  }
  std::vector<std::string> found;
  int err = 0;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(handle);
    if (entry == nullptr) {
      err = errno;
      break;
    }
    std::string name = entry->d_name;
    if (name != "." && name != "..")
      found.push_back(name);
  }
  closedir(handle);
  if (err != 0) {
    *error = ErrnoMessage(dir, err);
    return false;
  }
  std::sort(found.begin(), found.end());
  names->insert(names->end(), found.begin(), found.end());
  return true;
}
