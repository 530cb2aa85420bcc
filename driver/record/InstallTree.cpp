#include "driver/record/InstallTree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/SystemError.h"

bool InstallTree::Open(const std::string& dir, std::string* error) {
  m_sDir = dir;
  m_fd.Reset(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (m_fd.Get() < 0) {
    *error = ErrnoMessage(dir, errno);
    return false;
  }
  return true;
}

std::string InstallTree::PathOf(const std::string& relative) const {
  return m_sDir == "/" ? "/" + relative : m_sDir + "/" + relative;
}

bool InstallTree::OpenParent(const std::string& relative, ScopedFd* parent,
                             std::string* leaf) const {
  if (!IsPlainRelative(relative)) {
    errno = EINVAL;
    return false;
  }
  parent->Reset(dup(m_fd.Get()));
  if (parent->Get() < 0)
    return false;
  size_t start = 0;
  for (size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', start)) {
    std::string name = relative.substr(start, slash - start);
    // O_NOFOLLOW on every component: a link where a directory was fails
    // (with ENOTDIR, as O_PATH opens the link itself) instead of being
    // entered.
    int next = openat(parent->Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && start == 0 && m_bFollowTopLinks && errno == ENOTDIR)
      next = OpenLinkedDirectory(name);
    if (next < 0)
      return false;
    parent->Reset(next);
    start = slash + 1;
  }
  *leaf = relative.substr(start);
  return true;
}

int InstallTree::OpenTopLink(const std::string& name) const {
  if (!m_bFollowTopLinks) {
    errno = ENOTDIR;
    return -1;
  }
  return OpenLinkedDirectory(name);
}

int InstallTree::OpenLinkedDirectory(const std::string& name) const {
  struct stat top;
  struct stat linked;
  int fd = openat(m_fd.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  // Only a directory kept on another file system: a link to a directory
  // beside the installation is not looked through.
  if (fstat(m_fd.Get(), &top) == 0 && fstat(fd, &linked) == 0 && top.st_dev != linked.st_dev)
    return fd;
  close(fd);
  errno = ENOTDIR;
  return -1;
}

bool InstallTree::IsPlainRelative(const std::string& relative) {
  if (relative.empty() || relative[0] == '/' || relative.find('\0') != std::string::npos)
    return false;
  size_t start = 0;
  while (true) {
    size_t slash = relative.find('/', start);
    std::string name = relative.substr(start, slash == std::string::npos ? slash : slash - start);
    if (name.empty() || name == "." || name == "..")
      return false;
    if (slash == std::string::npos)
      return true;
    start = slash + 1;
  }
}
