#include "driver/record/FileDescription.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/DirectoryListing.h"
#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "driver/record/InstallKey.h"
#include "driver/record/InstallTree.h"
#include "package/Checksum.h"
#include "package/PackageRecord.h"

namespace {

std::string Sha256Hex(const void* data, size_t size) {
  Checksum checksum(kChecksumSha256);
  checksum.Update(data, size);
  unsigned char digest[Checksum::kMaxDigestSize];
  checksum.Final(digest);
  return Checksum::ToHex(digest, Checksum::DigestSize(kChecksumSha256));
}

// Describes what stands as leaf in the directory open at parent, whose lstat
// is st; shown is its path for messages.
bool DescribeIn(int parent, const std::string& leaf, const struct stat& st,
                const std::string& shown, ManifestEntry* entry, std::string* error) {
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    while (true) {
      ssize_t got = readlinkat(parent, leaf.c_str(), &target[0], target.size());
      if (got < 0) {
        *error = ErrnoMessage(shown, errno);
        return false;
      }
      // A target that grew since lstat: ask again with room to spare.
      if (static_cast<size_t>(got) < target.size()) {
        target.resize(static_cast<size_t>(got));
        break;
      }
      target.resize(target.size() * 2);
    }
    entry->isLink = true;
    entry->mode = 0;
    entry->size = target.size();
    entry->sha256 = Sha256Hex(target.data(), target.size());
    return true;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = shown + ": neither a regular file nor a symbolic link";
    return false;
  }
  // O_NONBLOCK: should a FIFO take the name after the lstat, the open must
  // not wait for a writer.
  ScopedFd fd(openat(parent, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened;
  if (fd.Get() < 0 || fstat(fd.Get(), &opened) != 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  if (!S_ISREG(opened.st_mode)) {
    *error = shown + ": neither a regular file nor a symbolic link";
    return false;
  }
  Checksum checksum(kChecksumSha256);
  if (!DigestToEnd(fd.Get(), 0, shown, &checksum, error))
    return false;
  unsigned char digest[Checksum::kMaxDigestSize];
  checksum.Final(digest);
  entry->isLink = false;
  entry->mode = opened.st_mode & 07777;
  entry->size = static_cast<uint64_t>(opened.st_size);
  entry->sha256 = Checksum::ToHex(digest, Checksum::DigestSize(kChecksumSha256));
  return true;
}

// Opens the directory that holds relative in *parent, its last name in
// *leaf, and stats that name without following a link; false with *error
// (naming *shown, its path for messages) otherwise.
bool StatInTree(const InstallTree& tree, const std::string& relative, std::string* shown,
                ScopedFd* parent, std::string* leaf, struct stat* st, std::string* error) {
  *shown = tree.PathOf(relative);
  if (!tree.OpenParent(relative, parent, leaf) ||
      fstatat(parent->Get(), leaf->c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    *error = ErrnoMessage(*shown, errno);
    return false;
  }
  return true;
}

// Adds relative, or everything below it for a directory, to *entries.
bool Collect(const InstallTree& tree, const std::string& relative,
             std::vector<ManifestEntry>* entries, std::string* error) {
  std::string shown;
  ScopedFd parent;
  std::string leaf;
  struct stat st;
  if (!StatInTree(tree, relative, &shown, &parent, &leaf, &st, error))
    return false;
  if (S_ISDIR(st.st_mode)) {
    ScopedFd dir(openat(parent.Get(), leaf.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::vector<std::string> names;
    if (dir.Get() < 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    if (!ListDirectoryAt(dir.Get(), shown, &names, error))
      return false;
    for (const std::string& name : names) {
      if (!Collect(tree, relative + "/" + name, entries, error))
        return false;
    }
    return true;
  }
  ManifestEntry entry;
  entry.path = relative;
  if (!DescribeIn(parent.Get(), leaf, st, shown, &entry, error))
    return false;
  entries->push_back(entry);
  return true;
}

}  // namespace

bool ManifestEntry::operator==(const ManifestEntry& other) const {
  return path == other.path && isLink == other.isLink && mode == other.mode && size == other.size &&
         sha256 == other.sha256 && keyed == other.keyed;
}

bool DescribeFile(const std::string& dir, const std::string& relative, ManifestEntry* entry,
                  std::string* error) {
  InstallTree tree;
  return tree.Open(dir, error) && DescribeFileAt(tree, relative, entry, error);
}

bool DescribeFileAt(const InstallTree& tree, const std::string& relative, ManifestEntry* entry,
                    std::string* error) {
  std::string shown;
  ScopedFd parent;
  std::string leaf;
  struct stat st;
  if (!StatInTree(tree, relative, &shown, &parent, &leaf, &st, error))
    return false;
  entry->path = relative;
  return DescribeIn(parent.Get(), leaf, st, shown, entry, error);
}

bool DescribeFiles(const std::string& dir, const std::vector<std::string>& relatives,
                   std::vector<ManifestEntry>* entries, std::string* error) {
  InstallTree tree;
  if (!tree.Open(dir, error))
    return false;
  std::vector<ManifestEntry> found;
  for (const std::string& relative : relatives) {
    if (!InstallTree::IsPlainRelative(relative)) {
      *error = "\"" + relative + "\" is not a path inside " + dir;
      return false;
    }
    if (!Collect(tree, relative, &found, error))
      return false;
  }
  std::sort(found.begin(), found.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
  found.erase(
      std::unique(found.begin(), found.end(),
                  [](const ManifestEntry& a, const ManifestEntry& b) { return a.path == b.path; }),
      found.end());
  *entries = found;
  return true;
}

bool CheckFileAt(const InstallTree& tree, const ManifestEntry& entry, FileState* state,
                 std::string* error) {
  const std::string shown = tree.PathOf(entry.path);
  ScopedFd parent;
  std::string leaf;
  struct stat st;
  if (!tree.OpenParent(entry.path, &parent, &leaf) ||
      fstatat(parent.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) {
      *state = FileState::kMissing;
      return true;
    }
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  bool sameKind = entry.isLink ? S_ISLNK(st.st_mode) : S_ISREG(st.st_mode);
  // Kind, mode and size decide before the content is read.
  if (!sameKind || static_cast<uint64_t>(st.st_size) != entry.size ||
      (!entry.isLink && (st.st_mode & 07777) != entry.mode)) {
    *state = FileState::kChanged;
    return true;
  }
  if (entry.keyed) {
    std::string key;
    std::string digest;
    if (!InstallKey::Read(tree, &key, error)) {
      if (errno != ENOENT)
        return false;
      *state = FileState::kChanged;
      return true;
    }
    ScopedFd fd(openat(parent.Get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0 || !InstallKey::DigestFile(key, fd.Get(), shown, &digest, error)) {
      if (fd.Get() < 0)
        *error = ErrnoMessage(shown, errno);
      return false;
    }
    *state = digest == entry.sha256 ? FileState::kUnchanged : FileState::kChanged;
    return true;
  }
  ManifestEntry now;
  if (!DescribeIn(parent.Get(), leaf, st, shown, &now, error))
    return false;
  now.path = entry.path;
  *state = now == entry ? FileState::kUnchanged : FileState::kChanged;
  return true;
}

bool NeedsKeyedDigest(const ManifestEntry& entry) {
  return !entry.isLink && (entry.mode & S_IROTH) == 0;
}

bool KeySecretFiles(const InstallTree& tree, const std::string& key,
                    std::vector<ManifestEntry>* entries, std::string* error) {
  std::vector<ManifestEntry> keyed = *entries;
  for (ManifestEntry& entry : keyed) {
    if (entry.keyed || !NeedsKeyedDigest(entry))
      continue;
    const std::string shown = tree.PathOf(entry.path);
    ScopedFd parent;
    std::string leaf;
    if (!tree.OpenParent(entry.path, &parent, &leaf)) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    ScopedFd fd(openat(parent.Get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    if (!InstallKey::DigestFile(key, fd.Get(), shown, &entry.sha256, error))
      return false;
    entry.keyed = true;
  }
  *entries = keyed;
  return true;
}
