#ifndef STRATA_INSTALLER_WORKINGDIRECTORY_H_
#define STRATA_INSTALLER_WORKINGDIRECTORY_H_

#include <string>

#include "common/ScopedFd.h"

class ConsoleUI;

// The process's working directory as it was when the object was made, so that
// an operation that changes into the installation directory can return to it.
// It holds the directory itself (a descriptor), so returning works even when
// its path is too long for getcwd or the directory has been removed; only
// when neither the descriptor nor the path can be had is nothing recorded.
// Not copyable: the object owns the descriptor.
class SavedWorkingDirectory {
 public:
  SavedWorkingDirectory();
  ~SavedWorkingDirectory();

  SavedWorkingDirectory(const SavedWorkingDirectory&) = delete;
  SavedWorkingDirectory& operator=(const SavedWorkingDirectory&) = delete;

  // Whether there is a directory to return to.
  bool IsRecorded() const { return m_fd.Get() >= 0 || !m_path.empty(); }

  // Changes into dir (null counts as the empty text), but only when there is
  // a way back: true, or false with *error (the system's text for why) and
  // the working directory unchanged.
  bool ChangeTo(const char* dir, std::string* error);
  // Changes back into the recorded directory: true, or false with *error
  // when it cannot or when nothing was recorded.
  bool Restore(std::string* error);

 private:
  ScopedFd m_fd;
  std::string m_path;
  // Why nothing was recorded, when nothing was.
  int m_error;
};

// Changes into the installation directory dir (null counts as the empty
// text) with saved as the way back: true, or false with the working
// directory unchanged, after "Error accessing directory <dir> (<reason>)"
// has been shown through ui when report is set.
bool EnterInstallDirectory(SavedWorkingDirectory& saved, const char* dir, ConsoleUI* ui,
                           bool report);

#endif  // STRATA_INSTALLER_WORKINGDIRECTORY_H_
