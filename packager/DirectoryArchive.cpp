#include "packager/DirectoryArchive.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/DirectoryListing.h"
#include "common/FileIo.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "package/RecordDigest.h"
#include "packager/Pipeline.h"

const int64_t DirectoryArchive::kMemberTime;

bool DirectoryArchive::Scan(const std::string& dir, std::string* error) {
  m_members.clear();
  m_digests.clear();
  m_contents = UnpackedContents();
  m_szDisplay = dir;
  // tar and the walk below must see the same directory, even if a link on
  // the way is changed meanwhile.
  char* resolved = realpath(dir.c_str(), nullptr);
  if (!resolved) {
    *error = dir + ": " + ErrnoText(errno);
    return false;
  }
  m_szRoot = resolved;
  free(resolved);
  struct stat st;
  if (stat(m_szRoot.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = dir + ": not a directory";
    return false;
  }
  if (!ScanDirectory("", error))
    return false;
  if (m_members.empty()) {
    *error = dir + ": the directory is empty";
    return false;
  }
  // By byte value, as strcmp orders; a directory precedes its contents,
  // since its name is a prefix of theirs.
  std::sort(m_members.begin(), m_members.end());
  std::sort(m_digests.begin(), m_digests.end(),
            [](const ProductDigest& a, const ProductDigest& b) { return a.path < b.path; });
  m_contents.AddFile(kProductDigestsName, FormatProductDigests(m_digests).size());
  return true;
}

bool DirectoryArchive::DigestFile(const std::string& full, const std::string& shown,
                                  ProductDigest* digest, std::string* error) {
  ScopedFd fd(open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (fd.Get() < 0) {
    *error = shown + ": " + ErrnoText(errno);
    return false;
  }
  RecordDigest sha256;
  std::vector<char> block(256 * 1024);
  uint64_t size = 0;
  if (!sha256.UpdateFrom(fd.Get(), block.data(), block.size(), &size)) {
    *error = shown + ": " + ErrnoText(errno);
    return false;
  }
  digest->sha256 = sha256.FinalHex();
  digest->size = size;
  return true;
}

bool DirectoryArchive::ScanDirectory(const std::string& relative, std::string* error) {
  std::string shown = relative.empty() ? m_szDisplay : m_szDisplay + "/" + relative;
  // Listed by the name the user gave, which names the same directory as the
  // resolved root, so that a message speaks of what the user typed.
  std::vector<std::string> names;
  if (!ListDirectory(shown, &names, error))
    return false;
  std::vector<std::string> subdirectories;
  bool ok = true;
  for (const std::string& name : names) {
    std::string member = relative.empty() ? name : relative + "/" + name;
    std::string full = m_szRoot + "/" + member;
    std::string memberShown = m_szDisplay + "/" + member;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) {
      *error = memberShown + ": " + ErrnoText(errno);
      ok = false;
      break;
    }
    if (relative.empty() && name == kProductDigestsName) {
      *error = memberShown + ": the name is the package's own, for the digests of the product";
      ok = false;
      break;
    }
    if (S_ISREG(st.st_mode)) {
      // Read whole here for its digest, which also finds a file tar would
      // stop halfway on.
      ProductDigest digest;
      if (!DigestFile(full, memberShown, &digest, error)) {
        ok = false;
        break;
      }
      digest.path = member;
      m_digests.push_back(std::move(digest));
      // Hard links are stored as plain files, so each name counts whole.
      m_contents.AddFile(member, static_cast<uint64_t>(st.st_size));
    } else if (S_ISDIR(st.st_mode)) {
      subdirectories.push_back(member);
      m_contents.AddDirectory(member);
    } else if (S_ISLNK(st.st_mode)) {
      m_contents.AddLink(member);
    } else {
      *error = memberShown + ": not a regular file, directory or symbolic link";
      ok = false;
      break;
    }
    m_members.push_back("./" + member);
  }
  for (size_t i = 0; ok && i < subdirectories.size(); ++i)
    ok = ScanDirectory(subdirectories[i], error);
  return ok;
}

bool DirectoryArchive::Write(const std::vector<std::string>& compressor, int outFd,
                             std::string* error) const {
  // The member list reaches tar through an anonymous file, NUL-separated,
  // so that no name can be taken for an option or split at a line feed.
  ScopedFd list(memfd_create("mkpackage-members", MFD_CLOEXEC));
  if (list.Get() < 0) {
    *error = std::string("cannot make the member list: ") + ErrnoText(errno);
    return false;
  }
  std::string names;
  for (const std::string& member : m_members) {
    names += member;
    names += '\0';
  }
  if (!WriteAll(list.Get(), names.data(), names.size()) || lseek(list.Get(), 0, SEEK_SET) != 0) {
    *error = std::string("cannot make the member list: ") + ErrnoText(errno);
    return false;
  }
  // The digests go last, from a directory of their own: tar takes the
  // product's members from the list, then the digests by name.
  std::string listDir;
  if (!WriteDigests(&listDir, error))
    return false;
  Pipeline pipeline;
  pipeline.Add({"tar", "--create", "--file=-", "--directory=" + m_szRoot, "--format=gnu",
                "--owner=0", "--group=0", "--numeric-owner",
                "--mtime=@" + std::to_string(kMemberTime), "--hard-dereference", "--no-recursion",
                "--null", "--verbatim-files-from", "--no-unquote", "--files-from=-",
                "--directory=" + listDir, std::string("./") + kProductDigestsName});
  if (!compressor.empty())
    pipeline.Add(compressor);
  bool ok = pipeline.Run(list.Get(), outFd, nullptr, error);
  unlink((listDir + "/" + kProductDigestsName).c_str());
  rmdir(listDir.c_str());
  return ok;
}

bool DirectoryArchive::WriteDigests(std::string* dir, std::string* error) const {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/mkpackage.XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    *error = std::string("cannot make a directory for the product's digests: ") + ErrnoText(errno);
    return false;
  }
  *dir = pattern;
  const std::string path = pattern + "/" + kProductDigestsName;
  const std::string text = FormatProductDigests(m_digests);
  ScopedFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
  // The mode is stored in the archive: not the umask's.
  if (fd.Get() < 0 || fchmod(fd.Get(), 0644) != 0 ||
      !WriteAll(fd.Get(), text.data(), text.size())) {
    *error = std::string("cannot write the product's digests: ") + ErrnoText(errno);
    unlink(path.c_str());
    rmdir(pattern.c_str());
    return false;
  }
  return true;
}
