#include "packager/FileIo.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/Checksum.h"

void ScopedFd::Reset(int fd) {
  if (m_nFd >= 0)
    close(m_nFd);
  m_nFd = fd;
}

bool PwriteAll(int fd, const void* data, size_t size, uint64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool PreadFull(int fd, void* data, size_t size, uint64_t offset, size_t* got) {
  char* p = static_cast<char*>(data);
  *got = 0;
  while (*got < size) {
    ssize_t n = pread(fd, p + *got, size - *got, static_cast<off_t>(offset + *got));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (n == 0)
      break;
    *got += static_cast<size_t>(n);
  }
  return true;
}

bool DigestToEnd(int fd, uint64_t from, Checksum* checksum) {
  std::vector<char> block(1 << 20);
  uint64_t position = from;
  for (;;) {
    size_t got;
    if (!PreadFull(fd, block.data(), block.size(), position, &got))
      return false;
    if (got == 0)
      return true;
    checksum->Update(block.data(), got);
    position += got;
  }
}

bool CopyToEnd(int from, int to, uint64_t* copied, bool* writeFailed) {
  std::vector<char> buffer(1 << 20);
  *copied = 0;
  *writeFailed = false;
  for (;;) {
    ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (n == 0)
      return true;
    if (!WriteAll(to, buffer.data(), static_cast<size_t>(n))) {
      *writeFailed = true;
      return false;
    }
    *copied += static_cast<uint64_t>(n);
  }
}

std::string FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos)
    return name;
  if (name.empty())
    return "";
  const char* path = getenv("PATH");
  // The search path that the shell uses when PATH is unset.
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = dirs.find(':', start);
    std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
    // An empty entry means the current directory.
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (end == std::string::npos)
      return "";
    start = end + 1;
  }
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  size_t end = path.find_last_not_of('/', slash);
  if (end == std::string::npos)
    return "/";
  return path.substr(0, end + 1);
}
