#include "driver/ProductFiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "common/FileIo.h"
#include "common/SystemError.h"

namespace {

bool Fail(std::string* error, const std::string& what, int err) {
  *error = what + ": " + ErrnoText(err);
  return false;
}

// The names in dir but "." and "..", sorted so that every run places the
// entries in the same order: false with errno set if dir cannot be read.
bool ListDirectory(const std::string& dir, std::vector<std::string>* names) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr)
    return false;
  errno = 0;
  while (struct dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..")
      names->push_back(name);
  }
  int err = errno;
  closedir(d);
  std::sort(names->begin(), names->end());
  errno = err;
  return err == 0;
}

}  // namespace

ProductFiles::ProductFiles(const std::string& from, const std::string& to)
    : m_sFrom(from), m_sTo(to), m_bCopyAlways(false), m_nMoved(0), m_nCopied(0) {}

bool ProductFiles::Place(std::string* error) {
  std::vector<std::string> names;
  if (!ListDirectory(m_sFrom, &names))
    return Fail(error, m_sFrom, errno);
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
  if (!ListDirectory(m_sFrom, &names))
    return Fail(error, m_sFrom, errno);
  for (const std::string& name : names) {
    if (m_skipped.count(name) != 0 || m_vacated.count(name) != 0)
      continue;
    if (!CheckEntry(m_sFrom + "/" + name, m_sTo + "/" + name, error))
      return false;
  }
  return true;
}

bool ProductFiles::Plan(const std::string& from, const std::string& to, struct stat* source,
                        Step* step, bool* targetIsDirectory, std::string* error) const {
  if (lstat(from.c_str(), source) != 0)
    return Fail(error, from, errno);
  *targetIsDirectory = false;
  struct stat target;
  if (lstat(to.c_str(), &target) != 0) {
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
    if (S_ISLNK(target.st_mode) && stat(to.c_str(), &followed) == 0 && S_ISDIR(followed.st_mode)) {
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

bool ProductFiles::CheckEntry(const std::string& from, const std::string& to,
                              std::string* error) const {
  struct stat source;
  Step step;
  bool targetIsDirectory;
  if (!Plan(from, to, &source, &step, &targetIsDirectory, error))
    return false;
  if (step == Step::kClearThenPut && targetIsDirectory) {
    std::vector<std::string> names;
    if (!ListDirectory(to, &names))
      return Fail(error, to, errno);
    if (!names.empty()) {
      *error = to + " is a directory that is not empty, where the product has a file";
      return false;
    }
    return true;
  }
  if (step != Step::kMerge && step != Step::kMergeLinked)
    return true;
  std::vector<std::string> names;
  if (!ListDirectory(from, &names))
    return Fail(error, from, errno);
  for (const std::string& name : names) {
    if (!CheckEntry(from + "/" + name, to + "/" + name, error))
      return false;
  }
  return true;
}

bool ProductFiles::PlaceEntry(const std::string& from, const std::string& to, std::string* error) {
  struct stat source;
  Step step;
  bool targetIsDirectory;
  if (!Plan(from, to, &source, &step, &targetIsDirectory, error))
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
  if (!ListDirectory(from, &names))
    return Fail(error, from, errno);
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
  if (!ListDirectory(from, &names))
    return Fail(error, from, errno);
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
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return Fail(error, from, errno);
  // Written beside the target and renamed over it, so that an earlier file
  // of that name is replaced whole or not at all.
  std::string temp = to + ".XXXXXX";
  int out = mkostemp(&temp[0], O_CLOEXEC);
  if (out < 0) {
    int err = errno;
    close(in);
    return Fail(error, to, err);
  }
  int err = 0;
  char buffer[65536];
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      err = errno;
      break;
    }
    if (got == 0)
      break;
    if (!WriteAll(out, buffer, static_cast<size_t>(got))) {
      err = errno;
      break;
    }
  }
  close(in);
  if (err == 0 && fchmod(out, st.st_mode & 07777) != 0)
    err = errno;
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (err == 0)
    futimens(out, times);
  if (close(out) != 0 && err == 0)
    err = errno;
  if (err == 0 && rename(temp.c_str(), to.c_str()) != 0)
    err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    return Fail(error, to, err);
  }
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
