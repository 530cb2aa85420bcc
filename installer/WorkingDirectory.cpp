#include "installer/WorkingDirectory.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

SavedWorkingDirectory::SavedWorkingDirectory() : m_fd(-1), m_error(0) {
  // O_PATH needs no read permission on the directory and, with O_CLOEXEC,
  // never reaches the shell commands run meanwhile.
  m_fd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (m_fd >= 0)
    return;
  // Out of descriptors: fall back on the path, however long it is.
  std::vector<char> buf(4096);
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) {
      m_error = errno;
      return;
    }
    buf.resize(buf.size() * 2);
  }
  m_path = buf.data();
}

SavedWorkingDirectory::~SavedWorkingDirectory() {
  if (m_fd >= 0)
    close(m_fd);
}

int SavedWorkingDirectory::ChangeTo(const char* dir) {
  if (!IsRecorded()) {
    errno = m_error;
    return -1;
  }
  return chdir(dir != nullptr ? dir : "");
}

int SavedWorkingDirectory::Restore() {
  if (m_fd >= 0)
    return fchdir(m_fd);
  if (!m_path.empty())
    return chdir(m_path.c_str());
  errno = ENOENT;
  return -1;
}
