#include "installer/WorkingDirectory.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "common/CurrentDirectory.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"

SavedWorkingDirectory::SavedWorkingDirectory() : m_fd(-1), m_error(0) {
  // O_PATH needs no read permission on the directory and, with O_CLOEXEC,
  // never reaches the shell commands run meanwhile.
  m_fd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (m_fd >= 0)
    return;
  // Out of descriptors: fall back on the path, however long it is.
  if (!CurrentDirectory(&m_path))
    m_error = errno;
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

bool EnterInstallDirectory(SavedWorkingDirectory& saved, const char* dir, ConsoleUI* ui,
                           bool report) {
  if (saved.ChangeTo(dir) == 0)
    return true;
  int err = errno;
  if (report) {
    ui->ShowErrorMessage("Error accessing directory %s (%s)\n", dir != nullptr ? dir : "",
                         ErrnoText(err));
  }
  return false;
}
