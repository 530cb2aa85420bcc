#include "driver/installation/ProductFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/AtomicFile.h"
#include "common/DirectoryListing.h"
#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "common/ShownText.h"
#include "common/SystemError.h"

namespace {

// The product's names come from the package: shown with their control
// characters replaced, so that none reaches the terminal.
bool Fail(std::string* error, const std::string& what, int err) {
  *error = ShownText(ErrnoMessage(what, err));
  return false;
}

}  // namespace

ProductFiles::ProductFiles(const std::string& from, const std::string& to)
    : m_sFrom(from), m_sTo(to), m_bCopyAlways(false), m_nMoved(0), m_nCopied(0) {}

bool ProductFiles::Place(std::string* error) {
  std::vector<std::string> names;
  if (!ListDirectory(m_sFrom, &names, error))
    return false;
  for (const std::string& name : names) {
    if (m_skipped.count(name) != 0)
      continue;
    if (!PlaceEntry(m_sFrom + "/" + name, m_sTo + "/" + name, error))
      return false;
  }
  return true;
}

bool ProductFiles::Check(std::string* error) const {
  std::vector<std::string> names;
  ScopedFd from(open(m_sFrom.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (from.Get() < 0)
    return Fail(error, m_sFrom, errno);
  if (!ListDirectoryAt(from.Get(), m_sFrom, &names, error))
    return false;
  // A target directory that is not there yet holds nothing in the way.
  ScopedFd to(open(m_sTo.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (to.Get() < 0 && errno != ENOENT)
    return Fail(error, m_sTo, errno);
  for (const std::string& name : names) {
    if (m_skipped.count(name) != 0 || m_vacated.count(name) != 0 || to.Get() < 0)
      continue;
    if (!CheckEntry(from.Get(), to.Get(), name, m_sFrom + "/" + name, m_sTo + "/" + name, error))
      return false;
  }
  return true;
}

bool ProductFiles::Plan(int fromDir, const char* fromName, int toDir, const char* toName,
                        const std::string& from, const std::string& to, struct stat* source,
                        Step* step, bool* targetIsDirectory, std::string* error) const {
  if (fstatat(fromDir, fromName, source, AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(error, from, errno);
  *targetIsDirectory = false;
  struct stat target;
  if (fstatat(toDir, toName, &target, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT)
      return Fail(error, to, errno);
    *step = Step::kPut;
    return true;
  }
  bool sourceIsDirectory = S_ISDIR(source->st_mode);
  if (S_ISDIR(target.st_mode)) {
    *targetIsDirectory = true;
    *step = sourceIsDirectory ? Step::kMerge : Step::kClearThenPut;
    return true;
  }
  if (sourceIsDirectory) {
    // An administrator may have put a directory of the installation (the
    // content, a database) elsewhere and linked it here: the product's
    // files go into it, the link stays.
    struct stat followed;
    if (S_ISLNK(target.st_mode) && fstatat(toDir, toName, &followed, 0) == 0 &&
        S_ISDIR(followed.st_mode)) {
      *step = Step::kMergeLinked;
      return true;
    }
    // A file, or a link to one or to nothing, where the product now has a
    // directory is replaced like any other file.
    *step = Step::kClearThenPut;
    return true;
  }
  *step = Step::kPut;
  return true;
}

bool ProductFiles::CheckEntry(int fromDir, int toDir, const std::string& name,
                              const std::string& from, const std::string& to,
                              std::string* error) const {
  struct stat source;
  Step step;
  bool targetIsDirectory;
  if (!Plan(fromDir, name.c_str(), toDir, name.c_str(), from, to, &source, &step,
            &targetIsDirectory, error))
    return false;
  if (step == Step::kClearThenPut && targetIsDirectory) {
    if (m_vacated.count(to.substr(m_sTo.size() + 1)) != 0)
      return true;
    std::vector<std::string> names;
    ScopedFd target(openat(toDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (target.Get() < 0)
      return Fail(error, to, errno);
    if (!ListDirectoryAt(target.Get(), to, &names, error))
      return false;
    if (!names.empty()) {
      *error = ShownText(to) + " is a directory that is not empty, where the product has a file";
      return false;
    }
    return true;
  }
  if (step != Step::kMerge && step != Step::kMergeLinked)
    return true;
  ScopedFd fromChild(
      openat(fromDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fromChild.Get() < 0)
    return Fail(error, from, errno);
  // A directory linked in its place is merged into, so it is followed.
  ScopedFd toChild(
      openat(toDir, name.c_str(),
             O_RDONLY | O_DIRECTORY | O_CLOEXEC | (step == Step::kMerge ? O_NOFOLLOW : 0)));
  if (toChild.Get() < 0)
    return Fail(error, to, errno);
  std::vector<std::string> names;
  if (!ListDirectoryAt(fromChild.Get(), from, &names, error))
    return false;
  for (const std::string& child : names) {
    if (!CheckEntry(fromChild.Get(), toChild.Get(), child, from + "/" + child, to + "/" + child,
                    error))
      return false;
  }
  return true;
}

bool ProductFiles::PlaceEntry(const std::string& from, const std::string& to, std::string* error) {
  struct stat source;
  Step step;
  bool targetIsDirectory;
  if (!Plan(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), from, to, &source, &step,
            &targetIsDirectory, error))
    return false;
  switch (step) {
    case Step::kMerge:
      return MergeDirectory(from, to, source, true, error);
    case Step::kMergeLinked:
      return MergeDirectory(from, to, source, false, error);
    case Step::kClearThenPut:
      // Only an empty directory may make room for a file: whatever a full
      // one holds is not the installer's to throw away.
      if (targetIsDirectory ? rmdir(to.c_str()) != 0 : unlink(to.c_str()) != 0)
        return Fail(error, to, errno == ENOTEMPTY || errno == EEXIST ? EISDIR : errno);
      break;
    case Step::kPut:
      break;
  }

  if (!m_bCopyAlways) {
    if (rename(from.c_str(), to.c_str()) == 0) {
      ++m_nMoved;
      return true;
    }
    if (errno != EXDEV)
      return Fail(error, to, errno);
  }
  return CopyEntry(from, to, source, error);
}

bool ProductFiles::MergeDirectory(const std::string& from, const std::string& to,
                                  const struct stat& source, bool ownMode, std::string* error) {
  std::vector<std::string> names;
  if (!ListDirectory(from, &names, error))
    return false;
  for (const std::string& name : names) {
    if (!PlaceEntry(from + "/" + name, to + "/" + name, error))
      return false;
  }
  if (ownMode)
    chmod(to.c_str(), source.st_mode & 07777);
  // Emptied by the moves; after copies it still holds the originals.
  if (!m_bCopyAlways)
    rmdir(from.c_str());
  return true;
}

bool ProductFiles::CopyEntry(const std::string& from, const std::string& to, const struct stat& st,
                             std::string* error) {
  if (S_ISREG(st.st_mode))
    return CopyFile(from, to, st, error);
  if (S_ISLNK(st.st_mode))
    return CopyLink(from, to, error);
  if (!S_ISDIR(st.st_mode))
    return Fail(error, from, ENOTSUP);

  // Private while it is filled; its own mode once complete.
  if (mkdir(to.c_str(), 0700) != 0)
    return Fail(error, to, errno);
  ++m_nCopied;
  std::vector<std::string> names;
  if (!ListDirectory(from, &names, error))
    return false;
  for (const std::string& name : names) {
    std::string child = from + "/" + name;
    struct stat childStat;
    if (lstat(child.c_str(), &childStat) != 0)
      return Fail(error, child, errno);
    if (!CopyEntry(child, to + "/" + name, childStat, error))
      return false;
  }
  if (chmod(to.c_str(), st.st_mode & 07777) != 0)
    return Fail(error, to, errno);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(AT_FDCWD, to.c_str(), times, 0);
  return true;
}

bool ProductFiles::CopyFile(const std::string& from, const std::string& to, const struct stat& st,
                            std::string* error) {
  ScopedFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0)
    return Fail(error, from, errno);
  // An earlier file of that name is replaced whole or not at all.
  AtomicFile out(to);
  std::string why;
  if (!out.Create(&why))
    return Fail(error, to, out.ErrorNumber());
  uint64_t copied = 0;
  bool writeFailed = false;
  if (!CopyToEnd(in.Get(), out.Descriptor(), &copied, &writeFailed))
    return Fail(error, to, errno);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out.Descriptor(), times);
  if (!out.Commit(st.st_mode & 07777, &why))
    return Fail(error, to, out.ErrorNumber());
  ++m_nCopied;
  return true;
}

bool ProductFiles::CopyLink(const std::string& from, const std::string& to, std::string* error) {
  std::string target(256, '\0');
  for (;;) {
    ssize_t length = readlink(from.c_str(), &target[0], target.size());
    if (length < 0)
      return Fail(error, from, errno);
    if (static_cast<size_t>(length) < target.size()) {
      target.resize(static_cast<size_t>(length));
      break;
    }
    target.resize(target.size() * 2);
  }
  std::string temp = to + ".link-" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0)
    return Fail(error, to, errno);
  if (rename(temp.c_str(), to.c_str()) != 0) {
    int err = errno;
    unlink(temp.c_str());
    return Fail(error, to, err);
  }
  ++m_nCopied;
  return true;
}
