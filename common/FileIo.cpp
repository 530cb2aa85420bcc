#include "common/FileIo.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "common/ScopedFd.h"
#include "common/SystemError.h"

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
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

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    *error = ErrnoMessage(path, errno);
    return false;
  }
  content->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      *error = ErrnoMessage(path, errno);
      return false;
    }
    if (n == 0)
      return true;
    content->append(buffer, static_cast<size_t>(n));
  }
}
