#include "packager/OutputFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/SystemError.h"
#include "packager/FileIo.h"
#include "packager/SignalCleanup.h"

OutputFile::OutputFile(std::string path) : m_szPath(std::move(path)), m_nFd(-1) {}

OutputFile::~OutputFile() {
  Discard();
}

bool OutputFile::Create(std::string* error) {
  std::string dir = DirectoryOf(m_szPath);
  size_t slash = m_szPath.find_last_of('/');
  std::string base = slash == std::string::npos ? m_szPath : m_szPath.substr(slash + 1);
  // A hidden name beside the output, so that the rename cannot cross file
  // systems and a listing of the directory does not show it.
  std::string pattern = dir + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // Created and registered for removal as one step: a signal in between
  // would leave the file behind.
  CleanupSignalBlock block;
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot create a file in " + dir + ": " + ErrnoText(errno);
    return false;
  }
  m_nFd = fd;
  m_szTempPath = name.data();
  RemoveOnSignal(m_szTempPath.c_str());
  return true;
}

bool OutputFile::Commit(mode_t mode, std::string* error) {
  const char* step = nullptr;
  if (fchmod(m_nFd, mode) != 0)
    step = "cannot set the mode of ";
  else if (fsync(m_nFd) != 0)
    step = "cannot write ";
  if (!step) {
    int fd = m_nFd;
    m_nFd = -1;
    if (close(fd) != 0) {
      step = "cannot write ";
    } else {
      // Once renamed, the name is no longer ours to remove.
      CleanupSignalBlock block;
      if (rename(m_szTempPath.c_str(), m_szPath.c_str()) != 0) {
        step = "cannot rename the finished package to ";
      } else {
        ForgetRemoval(m_szTempPath.c_str());
        m_szTempPath.clear();
      }
    }
  }
  if (step) {
    *error = step + m_szPath + ": " + ErrnoText(errno);
    Discard();
    return false;
  }
  return true;
}

void OutputFile::Discard() {
  if (m_nFd >= 0) {
    close(m_nFd);
    m_nFd = -1;
  }
  if (!m_szTempPath.empty()) {
    CleanupSignalBlock block;
    unlink(m_szTempPath.c_str());
    ForgetRemoval(m_szTempPath.c_str());
    m_szTempPath.clear();
  }
}
