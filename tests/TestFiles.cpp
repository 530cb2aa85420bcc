#include "tests/TestFiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "common/CurrentDirectory.h"
#include "common/ShellQuote.h"
#include "package/RecordDigest.h"

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/strata-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr)
    ADD_FAILURE() << "mkdtemp " << pattern << ": " << strerror(errno);
  m_sPath = pattern;
}

TempDir::~TempDir() {
  // Permissions a test took away are given back first; rm copes with trees
  // deeper than a path can name.
  std::string command =
      "chmod -R u+rwx " + ShellQuote(m_sPath) + " 2>/dev/null; rm -rf " + ShellQuote(m_sPath);
  if (system(command.c_str()) != 0)
    ADD_FAILURE() << "cannot remove " << m_sPath;
}

bool ReadAll(int fd, std::string* content) {
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return got == 0;
    content->append(buffer, static_cast<size_t>(got));
  }
}

bool ReadFile(const std::string& path, std::string* content) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  content->clear();
  bool ok = ReadAll(fd, content);
  int err = errno;
  close(fd);
  errno = err;
  return ok;
}

std::string ReadFile(const std::string& path) {
  std::string content;
  if (!ReadFile(path, &content)) {
    ADD_FAILURE() << "cannot read " << path << ": " << strerror(errno);
    return "";
  }
  return content;
}

bool WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot create " << path << ": " << strerror(errno);
    return false;
  }
  bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
  ok = fclose(file) == 0 && ok;
  if (!ok) {
    ADD_FAILURE() << "cannot write " << path;
    return false;
  }
  if (chmod(path.c_str(), mode) != 0) {
    ADD_FAILURE() << "chmod " << path << ": " << strerror(errno);
    return false;
  }
  return true;
}

int ModeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return -1;
  return static_cast<int>(st.st_mode & 07777);
}

std::string MakeDirs(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      ADD_FAILURE() << "cannot create " << part << ": " << strerror(errno);
      break;
    }
    if (slash == std::string::npos)
      break;
  }
  return path;
}

std::string CurrentDir() {
  std::string dir;
  return CurrentDirectory(&dir) ? dir : std::string();
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) {
    ADD_FAILURE() << "realpath " << path << ": " << strerror(errno);
    return path;
  }
  std::string resolved = real;
  free(real);
  return resolved;
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr)
    return names;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

void VisitBelow(const std::string& root, const std::string& prefix,
                const std::function<void(const std::string&, const struct stat&)>& visit) {
  for (const std::string& name : ListDirectory(root + "/" + prefix)) {
    std::string relative = prefix + name;
    struct stat st;
    // Gone since the listing: nothing to report.
    if (lstat((root + "/" + relative).c_str(), &st) != 0)
      continue;
    if (S_ISDIR(st.st_mode)) {
      visit(relative + "/", st);
      VisitBelow(root, relative + "/", visit);
    } else {
      visit(relative, st);
    }
  }
}

}  // namespace

void VisitTree(const std::string& root,
               const std::function<void(const std::string&, const struct stat&)>& visit) {
  VisitBelow(root, "", visit);
}

std::set<std::string> ListTree(const std::string& root) {
  std::set<std::string> names;
  VisitTree(root,
            [&names](const std::string& relative, const struct stat&) { names.insert(relative); });
  return names;
}

std::string ComparedContent(const std::string& content) {
  if (content.size() <= 64 * 1024 && content.find('\0') == std::string::npos)
    return content;
  return "<" + std::to_string(content.size()) + " bytes, sha256 " +
         RecordDigest::Of(content.data(), content.size()) + ">";
}

std::map<std::string, std::string> TreeOf(const std::string& root) {
  std::map<std::string, std::string> tree;
  VisitTree(root, [&](const std::string& relative, const struct stat& st) {
    std::string path = root + "/" + relative;
    std::string mode = std::to_string(st.st_mode & 07777);
    if (S_ISDIR(st.st_mode)) {
      tree[relative] = mode;
    } else if (S_ISLNK(st.st_mode)) {
      std::vector<char> target(PATH_MAX);
      ssize_t n = readlink(path.c_str(), target.data(), target.size() - 1);
      tree[relative] = "-> " + std::string(target.data(), n < 0 ? 0 : static_cast<size_t>(n));
    } else {
      tree[relative] = mode + " " + ComparedContent(ReadFile(path));
    }
  });
  return tree;
}

namespace {

// Sets or clears the immutable flag of path: "" on success, else why not.
std::string SetImmutable(const std::string& path, bool on) {
  // O_NONBLOCK: a FIFO must not wait; the flags of a directory are set
  // through a descriptor of it as well.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return std::string("open: ") + strerror(errno);
  int flags = 0;
  std::string why;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    why = std::string("FS_IOC_GETFLAGS: ") + strerror(errno);
  } else {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    int now = 0;
    if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
      why = std::string("FS_IOC_SETFLAGS: ") + strerror(errno);
    else if (ioctl(fd, FS_IOC_GETFLAGS, &now) != 0 || ((now & FS_IMMUTABLE_FL) != 0) != on)
      why = "the flag did not stay";
  }
  close(fd);
  return why;
}

}  // namespace

Immutable::Immutable(const std::string& path) : m_path(path) {
  m_why = SetImmutable(m_path, true);
  m_ok = m_why.empty();
}

Immutable::~Immutable() {
  if (!m_ok)
    return;
  std::string why = SetImmutable(m_path, false);
  if (!why.empty())
    ADD_FAILURE() << m_path << " stays immutable: " << why;
}

std::string Noise(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return bytes;
}

ScopedChdir::ScopedChdir(const std::string& dir)
    : m_savedFd(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), m_ok(false) {
  m_ok = m_savedFd >= 0 && chdir(dir.c_str()) == 0;
  if (!m_ok)
    ADD_FAILURE() << "cannot change into " << dir << ": " << strerror(errno);
}

ScopedChdir::~ScopedChdir() {
  if (m_savedFd >= 0) {
    if (fchdir(m_savedFd) != 0)
      ADD_FAILURE() << "cannot change back: " << strerror(errno);
    close(m_savedFd);
  }
}

void ScratchTest::SetUp() {
  savedCwd_ = CurrentDir();
  savedUmask_ = umask(022);
}

void ScratchTest::TearDown() {
  umask(savedUmask_);
  EXPECT_EQ(0, chdir(savedCwd_.c_str())) << savedCwd_;
}

std::vector<std::vector<std::string>> FileLines(const std::string& record) {
  std::vector<std::vector<std::string>> lines;
  for (size_t at = record.find("\nfile\t"); at != std::string::npos;
       at = record.find("\nfile\t", at + 1)) {
    std::string line = record.substr(at + 6, record.find('\n', at + 1) - at - 6);
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
      size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos)
        break;
      start = tab + 1;
    }
    lines.push_back(fields);
  }
  return lines;
}
