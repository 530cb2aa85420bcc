#include "common/DirectoryListing.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "common/SystemError.h"

namespace {

// Reads every entry of the stream but "." and ".." with its kind, in the
// listing's order, and closes the stream: true, or false with *error.
bool ReadAndClose(DIR* handle, const std::string& shown,
                  std::vector<std::pair<std::string, unsigned char>>* found, std::string* error) {
  int err = 0;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(handle);
    if (entry == nullptr) {
      err = errno;
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
      continue;
    found->emplace_back(name, entry->d_type);
  }
  closedir(handle);
  if (err != 0) {
    *error = ErrnoMessage(shown, err);
    return false;
  }
  return true;
}

// Lists the directory open at own and closes own.
bool ListAndClose(int own, const std::string& shown, std::vector<std::string>* names,
                  std::string* error) {
  DIR* handle = fdopendir(own);
  if (handle == nullptr) {
    *error = ErrnoMessage(shown, errno);
    close(own);
    return false;
  }
  std::vector<std::pair<std::string, unsigned char>> found;
  if (!ReadAndClose(handle, shown, &found, error))
    return false;
  std::vector<std::string> sorted;
  sorted.reserve(found.size());
  for (auto& entry : found)
    sorted.push_back(std::move(entry.first));
  std::sort(sorted.begin(), sorted.end());
  names->insert(names->end(), sorted.begin(), sorted.end());
  return true;
}

}  // namespace

bool ListDirectory(const std::string& dir, std::vector<std::string>* names, std::string* error) {
  int own = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) {
    *error = ErrnoMessage(dir, errno);
    return false;
  }
  return ListAndClose(own, dir, names, error);
}

bool ListDirectoryAt(int fd, const std::string& shown, std::vector<std::string>* names,
                     std::string* error) {
  // An own descriptor for the stream, opened anew so that its position is
  // its own and fd stays open; closedir closes it.
  int own = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  return ListAndClose(own, shown, names, error);
}

bool ListEntriesAt(int fd, const std::string& shown,
                   std::vector<std::pair<std::string, unsigned char>>* entries,
                   std::string* error) {
  int own = dup(fd);
  DIR* handle = own < 0 ? nullptr : fdopendir(own);
  if (handle == nullptr) {
    *error = ErrnoMessage(shown, errno);
    if (own >= 0)
      close(own);
    return false;
  }
  // The copy shares fd's position: listed from the start whatever read fd
  // before.
  rewinddir(handle);
  std::vector<std::pair<std::string, unsigned char>> found;
  if (!ReadAndClose(handle, shown, &found, error))
    return false;
  *entries = std::move(found);
  return true;
}
