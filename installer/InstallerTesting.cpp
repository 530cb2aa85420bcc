#include "installer/InstallerTesting.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

bool WriteFile(const std::string& path, const std::string& content) {
  FILE* file = fopen(path.c_str(), "w");
  if (file == nullptr)
    return false;
  bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
  return fclose(file) == 0 && ok;
}

std::string ReadFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr)
    return "<missing>";
  std::string content;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file)) > 0)
    content.append(buf, n);
  fclose(file);
  return content;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

namespace {

void ListInto(const std::string& root, const std::string& prefix, std::set<std::string>& names) {
  DIR* dir = opendir((root + "/" + prefix).c_str());
  if (dir == nullptr)
    return;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    std::string relative = prefix + name;
    struct stat st;
    if (lstat((root + "/" + relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      names.insert(relative + "/");
      ListInto(root, relative + "/", names);
    } else {
      names.insert(relative);
    }
  }
  closedir(dir);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

}  // namespace

std::set<std::string> ListTree(const std::string& root) {
  std::set<std::string> names;
  ListInto(root, "", names);
  return names;
}

int ModeOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return -1;
  return st.st_mode & 07777;
}

std::string CurrentDir() {
  std::vector<char> buf(4096);
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE)
      return std::string();
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

ChildResult RunInChild(const std::function<void()>& body) {
  ChildResult result = {-1, std::string()};
  int fds[2];
  if (pipe(fds) != 0)
    return result;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    body();
    fflush(nullptr);
    _exit(0);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return result;
  }
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0)
      result.out.append(buf, n);
  }
  close(fds[0]);
  waitpid(pid, &result.status, 0);
  return result;
}

void ScratchTest::SetUp() {
  savedCwd_ = CurrentDir();
  savedUmask_ = umask(022);
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/strata-installer-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  ASSERT_NE(nullptr, mkdtemp(name.data()));
  root_ = name.data();
}

void ScratchTest::TearDown() {
  ASSERT_EQ(0, chdir(savedCwd_.c_str()));
  umask(savedUmask_);
  if (!root_.empty()) {
    // Depth first and without following links: nothing outside is touched.
    nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
}
