#include "driver/record/PackagedDigests.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "driver/record/InstallTree.h"
#include "driver/record/OpenDirectories.h"
#include "package/ProductDigests.h"

namespace {

// Far above the list of any product (about 100 bytes a file).
const off_t kLongestList = 256 * 1024 * 1024;

bool Before(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

bool PackagedDigests::Load(const std::string& dir, std::string* error) {
  m_known.clear();
  // A file written from now on is stamped at least this late: the clock
  // that stamps files may lag the one read here by a tick, so a second is
  // taken off.
  struct timespec start;
  clock_gettime(CLOCK_REALTIME, &start);
  start.tv_sec -= 1;
  InstallTree tree;
  if (!tree.Open(dir, error))
    return false;
  ScopedFd list(
      openat(tree.Fd(), kProductDigestsName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  const std::string shown = tree.PathOf(kProductDigestsName);
  if (list.Get() < 0 && errno == ENOENT)
    return true;
  struct stat st;
  if (list.Get() < 0 || fstat(list.Get(), &st) != 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > kLongestList) {
    *error = shown + ": not a list of digests";
    return false;
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  if (!PreadFull(list.Get(), &text[0], text.size(), 0, &got) || got != text.size()) {
    *error = ErrnoMessage(shown, got != text.size() && errno == 0 ? EIO : errno);
    return false;
  }
  std::vector<ProductDigest> digests;
  std::string why;
  if (!ParseProductDigests(text, &digests, &why)) {
    *error = shown + ": " + why;
    return false;
  }
  // Sorted by path: each directory is opened once, from the one above it.
  OpenDirectories directories(tree);
  for (const ProductDigest& digest : digests) {
    if (!InstallTree::IsPlainRelative(digest.path))
      continue;
    size_t slash = digest.path.rfind('/');
    std::string dirPath = slash == std::string::npos ? std::string() : digest.path.substr(0, slash);
    std::string leaf = digest.path.substr(slash == std::string::npos ? 0 : slash + 1);
    int parent = -1;
    struct stat file;
    if (!directories.Reach(dirPath, &parent) ||
        fstatat(parent, leaf.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(file.st_mode) ||
        static_cast<uint64_t>(file.st_size) != digest.size || !Before(file.st_mtim, start))
      continue;
    m_known[digest.path] = {file.st_dev, file.st_ino, digest.size, file.st_mtim, digest.sha256};
  }
  return true;
}

void PackagedDigests::Forget(const std::string& path) {
  m_known.erase(path);
  const std::string below = path + "/";
  auto first = m_known.lower_bound(below);
  auto last = first;
  while (last != m_known.end() && last->first.compare(0, below.size(), below) == 0)
    ++last;
  m_known.erase(first, last);
}

const std::string* PackagedDigests::DigestFor(const std::string& relative,
                                              const struct stat& st) const {
  auto found = m_known.find(relative);
  if (found == m_known.end())
    return nullptr;
  const Known& known = found->second;
  if (!S_ISREG(st.st_mode) || st.st_dev != known.device || st.st_ino != known.inode ||
      static_cast<uint64_t>(st.st_size) != known.size ||
      st.st_mtim.tv_sec != known.modified.tv_sec || st.st_mtim.tv_nsec != known.modified.tv_nsec)
    return nullptr;
  return &known.sha256;
}
