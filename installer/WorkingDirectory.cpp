#include "installer/WorkingDirectory.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "common/CurrentDirectory.h"
#include "common/SystemError.h"
#include "console/ConsoleUI.h"

SavedWorkingDirectory::SavedWorkingDirectory() : m_error(0) {
  // O_PATH needs no read permission on the directory and, with O_CLOEXEC,
  // never reaches the shell commands run meanwhile.
  m_fd.Reset(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (m_fd.Get() >= 0)
    return;
  // Out of descriptors: fall back on the path, however long it is.
  if (!CurrentDirectory(&m_path))
    m_error = errno;
}

SavedWorkingDirectory::~SavedWorkingDirectory() = default;

bool SavedWorkingDirectory::ChangeTo(const char* dir, std::string* error) {
  if (!IsRecorded()) {
    *error = ErrnoText(m_error);
    return false;
  }
  if (chdir(dir != nullptr ? dir : "") != 0) {
    *error = ErrnoText(errno);
    return false;
  }
  return true;
}

bool SavedWorkingDirectory::Restore(std::string* error) {
  int result = -1;
  if (m_fd.Get() >= 0)
    result = fchdir(m_fd.Get());
  else if (!m_path.empty())
    result = chdir(m_path.c_str());
  else
    errno = ENOENT;
  if (result != 0) {
    *error = ErrnoText(errno);
    return false;
  }
  return true;
}

bool EnterInstallDirectory(SavedWorkingDirectory& saved, const char* dir, ConsoleUI* ui,
                           bool report) {
  std::string error;
  if (saved.ChangeTo(dir, &error))
    return true;
  if (report) {
    ui->ShowErrorMessage("Error accessing directory %s (%s)\n", dir != nullptr ? dir : "",
                         error.c_str());
  }
  return false;
}
