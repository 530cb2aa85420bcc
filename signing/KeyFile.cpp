#include "signing/KeyFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sodium.h>

#include "common/Format.h"
#include "common/SystemError.h"

namespace {

// Far above any key, signature or password file; far below a package.
const size_t kMaxSize = 64 * 1024;

bool ReadSmall(const std::string& path, bool mustBePrivate, std::string* content,
               std::string* error) {
  // A FIFO must be refused, not waited on for a writer that never comes;
  // reads of a regular file ignore O_NONBLOCK.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  struct stat st;
  bool ok = false;
  if (fstat(fd, &st) != 0) {
    *error = path + ": " + ErrnoText(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
  } else if (mustBePrivate && (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    *error = FormatText("%s: others may read it (mode %04o); make it private with chmod 600",
                        path.c_str(), static_cast<unsigned>(st.st_mode & 07777));
  } else if (static_cast<uint64_t>(st.st_size) > kMaxSize) {
    *error = path + ": too long for a key, signature or password file";
  } else {
    content->clear();
    // Room for all of it at once: a secret grown into a new buffer would
    // leave a copy behind in the old one.
    content->reserve(static_cast<size_t>(st.st_size) + 1);
    char block[4096];
    for (;;) {
      ssize_t n = read(fd, block, sizeof block);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0) {
        *error = path + ": " + ErrnoText(errno);
        break;
      }
      if (n == 0) {
        ok = true;
        break;
      }
      content->append(block, static_cast<size_t>(n));
      sodium_memzero(block, sizeof block);
      // The file may have grown since fstat.
      if (content->size() > kMaxSize) {
        *error = path + ": too long for a key, signature or password file";
        break;
      }
    }
  }
  close(fd);
  return ok;
}

}  // namespace

bool ReadKeyFile(const std::string& path, std::string* content, std::string* error) {
  return ReadSmall(path, false, content, error);
}

bool ReadPrivateFile(const std::string& path, std::string* content, std::string* error) {
  return ReadSmall(path, true, content, error);
}
