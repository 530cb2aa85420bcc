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
#include "packager/Pipeline.h"

const int64_t DirectoryArchive::kMemberTime;

bool DirectoryArchive::Scan(const std::string& dir, std::string* error) {
  m_members.clear();
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
    if (S_ISREG(st.st_mode)) {
      // tar would stop halfway on a file it cannot read; say so up front.
      int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (fd < 0) {
        *error = memberShown + ": " + ErrnoText(errno);
        ok = false;
        break;
      }
      close(fd);
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
  Pipeline pipeline;
  pipeline.Add({"tar", "--create", "--file=-", "--directory=" + m_szRoot, "--format=gnu",
                "--owner=0", "--group=0", "--numeric-owner",
                "--mtime=@" + std::to_string(kMemberTime), "--hard-dereference", "--no-recursion",
                "--null", "--verbatim-files-from", "--no-unquote", "--files-from=-"});
  if (!compressor.empty())
    pipeline.Add(compressor);
  return pipeline.Run(list.Get(), outFd, nullptr, error);
}
