#ifndef STRATA_INSTALLER_WORKINGDIRECTORY_H_
#define STRATA_INSTALLER_WORKINGDIRECTORY_H_

#include <string>

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

  // Whether there is a directory to return to; if not, Error() tells why.
  bool IsRecorded() const { return m_fd >= 0 || !m_path.empty(); }
  int Error() const { return m_error; }
  // Changes into dir (null counts as the empty text), but only when there is
  // a way back: 0, or -1 with errno set and the working directory unchanged.
  int ChangeTo(const char* dir);
  // Changes back into the recorded directory: 0, or -1 (errno set) when it
  // cannot or when nothing was recorded.
  int Restore();

 private:
  int m_fd;
  std::string m_path;
  int m_error;
};

// Changes into the installation directory dir (null counts as the empty
// text) with saved as the way back: true, or false with the working
// directory unchanged, after "Error accessing directory <dir> (<reason>)"
// has been shown through ui when report is set.
bool EnterInstallDirectory(SavedWorkingDirectory& saved, const char* dir, ConsoleUI* ui,
                           bool report);

#endif  // STRATA_INSTALLER_WORKINGDIRECTORY_H_
