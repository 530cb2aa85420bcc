#include "packager/TestFiles.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/packager_test.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data()))
    ADD_FAILURE() << "mkdtemp " << pattern << ": " << strerror(errno);
  m_szPath = name.data();
}

TempDir::~TempDir() {
  // Tests take permissions away; give them back so that everything goes.
  RunShell("chmod -R u+rwx " + Quote(m_szPath) + " 2>/dev/null; rm -rf " + Quote(m_szPath));
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  file.close();
  ASSERT_TRUE(file) << "cannot write " << path;
  ASSERT_EQ(0, chmod(path.c_str(), mode)) << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file) << "cannot read " << path;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return static_cast<mode_t>(-1);
  return st.st_mode & 07777;
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir)
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

int RunShell(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
    return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output)
      output->append(buffer, n);
  }
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

bool RecordOf(const std::string& bytes, PackageRecord* record, size_t* offset) {
  const std::string magic(STRATA_PACKAGE_RECORD_MAGIC, sizeof STRATA_PACKAGE_RECORD_MAGIC);
  size_t at = bytes.find(magic);
  if (at == std::string::npos || at + sizeof *record > bytes.size()) {
    ADD_FAILURE() << "no package record";
    return false;
  }
  if (bytes.find(magic, at + 1) != std::string::npos) {
    ADD_FAILURE() << "more than one package record";
    return false;
  }
  memcpy(record, bytes.data() + at, sizeof *record);
  if (offset)
    *offset = at;
  return true;
}
