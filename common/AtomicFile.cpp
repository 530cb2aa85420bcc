#include "common/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/DurableFiles.h"
#include "common/FileIo.h"
#include "common/Path.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"

AtomicFile::AtomicFile(std::string path) : m_szPath(std::move(path)), m_nFd(-1), m_nErrno(0) {}

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::Create(std::string* error) {
  std::string dir = DirectoryOf(m_szPath);
  std::string base = BaseNameOf(m_szPath);
  // A hidden name beside the file, so that the rename cannot cross file
  // systems and a listing of the directory does not show it; a name near
  // the length limit gets a short one instead.
  std::string name = "." + base + ".XXXXXX";
  if (name.size() > NAME_MAX)
    name = ".tmp.XXXXXX";
  std::string pattern = dir + "/" + name;
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // Created and registered for removal as one step: a signal in between
  // would leave the file behind.
  CleanupSignalBlock block;
  int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    Fail("cannot create a file in " + dir, errno, error);
    return false;
  }
  m_nFd = fd;
  m_szTempPath = buffer.data();
  RemoveOnSignal(m_szTempPath.c_str());
  return true;
}

bool AtomicFile::Write(const void* data, size_t size, std::string* error) {
  if (!WriteAll(m_nFd, data, size)) {
    Fail("cannot write " + m_szPath, errno, error);
    Discard();
    return false;
  }
  return true;
}

bool AtomicFile::Commit(mode_t mode, std::string* error) {
  return Finish(mode, true, error);
}

bool AtomicFile::CommitAsNew(mode_t mode, std::string* error) {
  return Finish(mode, false, error);
}

bool AtomicFile::Finish(mode_t mode, bool replace, std::string* error) {
  const char* step = nullptr;
  if (m_nFd < 0) {
    errno = EBADF;
    step = "cannot write ";
  } else if (fchmod(m_nFd, mode) != 0) {
    step = "cannot set the mode of ";
  } else if (fsync(m_nFd) != 0) {
    step = "cannot write ";
  }
  if (!step) {
    int fd = m_nFd;
    m_nFd = -1;
    if (close(fd) != 0) {
      step = "cannot write ";
    } else {
      // Once renamed, the name is no longer ours to remove.
      CleanupSignalBlock block;
      if (replace && rename(m_szTempPath.c_str(), m_szPath.c_str()) != 0) {
        step = "cannot replace ";
      } else if (!replace && link(m_szTempPath.c_str(), m_szPath.c_str()) != 0) {
        step = "cannot create ";
      } else {
        if (!replace)
          unlink(m_szTempPath.c_str());
        ForgetRemoval(m_szTempPath.c_str());
        m_szTempPath.clear();
        // The name is on disk only once its directory is.
        std::string why;
        if (!SyncParentDirectory(m_szPath, &why)) {
          *error = "cannot write " + why;
          return false;
        }
      }
    }
  }
  if (step) {
    Fail(step + m_szPath, errno, error);
    Discard();
    return false;
  }
  return true;
}

void AtomicFile::Fail(const std::string& step, int err, std::string* error) {
  m_nErrno = err;
  *error = ErrnoMessage(step, err);
}

void AtomicFile::Discard() {
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

namespace {

bool WriteWhole(AtomicFile& file, const std::string& content, mode_t mode, bool replace,
                std::string* error, int* err) {
  bool done = file.Create(error) && file.Write(content.data(), content.size(), error) &&
              (replace ? file.Commit(mode, error) : file.CommitAsNew(mode, error));
  if (!done && err != nullptr)
    *err = file.ErrorNumber();
  return done;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode,
                         std::string* error, int* err) {
  AtomicFile file(path);
  return WriteWhole(file, content, mode, true, error, err);
}

bool CreateFileAtomically(const std::string& path, const std::string& content, mode_t mode,
                          std::string* error, int* err) {
  AtomicFile file(path);
  return WriteWhole(file, content, mode, false, error, err);
}

mode_t ModeUnderUmask(mode_t base) {
  mode_t mask = umask(0);
  umask(mask);
  return base & ~mask;
}
