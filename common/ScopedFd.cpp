#include "common/ScopedFd.h"

#include <unistd.h>

void ScopedFd::Reset(int fd) {
  if (m_nFd >= 0)
    close(m_nFd);
  m_nFd = fd;
}

int ScopedFd::Release() {
  int fd = m_nFd;
  m_nFd = -1;
  return fd;
}
