#include "installer/InstallerTestHelpers.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "gtest/gtest.h"

namespace installer_test {

namespace {

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int size = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size < 0)
    return std::string();
  std::string text(static_cast<size_t>(size) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(size));
  return text;
}

}  // namespace

ScratchDir::ScratchDir() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/strata-installer-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr)
    ADD_FAILURE() << "cannot create a scratch directory from " << pattern;
  m_path = pattern;
}

ScratchDir::~ScratchDir() {
  // rm copes with trees deeper than a path can name.
  std::string command = "rm -rf '" + m_path + "'";
  if (system(command.c_str()) != 0)
    ADD_FAILURE() << "cannot remove " << m_path;
}

std::string ScratchDir::Sub(const std::string& relative) const {
  return m_path + "/" + relative;
}

std::string ScratchDir::MakeDirs(const std::string& relative) const {
  std::string path = m_path;
  std::stringstream parts(relative);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty())
      continue;
    path += "/" + part;
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
      ADD_FAILURE() << "cannot create " << path;
  }
  return path;
}

ScopedChdir::ScopedChdir(const std::string& dir)
    : m_savedFd(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), m_ok(false) {
  m_ok = m_savedFd >= 0 && chdir(dir.c_str()) == 0;
  if (!m_ok)
    ADD_FAILURE() << "cannot change into " << dir;
}

ScopedChdir::~ScopedChdir() {
  if (m_savedFd >= 0) {
    if (fchdir(m_savedFd) != 0)
      ADD_FAILURE() << "cannot change back";
    close(m_savedFd);
  }
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary);
  file << content;
  if (!file)
    ADD_FAILURE() << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

ChildResult RunInChild(const std::function<void()>& body) {
  ChildResult result;
  ScratchDir outputs;
  std::string outPath = outputs.Sub("stdout");
  std::string errPath = outputs.Sub("stderr");

  // Whatever the test process has buffered must not be written twice.
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return result;
  }
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    close(out);
    close(err);
    body();
    fflush(nullptr);
    _exit(kBodyReturned);
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "waitpid failed";
      return result;
    }
  }
  result.exited = WIFEXITED(status);
  result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

void RecordingUI::ShowMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  m_shown.emplace_back(kMessage, FormatV(format, args));
  va_end(args);
}

void RecordingUI::ShowErrorMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  m_shown.emplace_back(kError, FormatV(format, args));
  va_end(args);
}

void RecordingUI::PrintUsage(const char* programPath, const char* option) {
  m_usage.emplace_back(programPath != nullptr ? programPath : "<null>",
                       option != nullptr ? option : "<null>");
}

Argv::Argv(std::vector<std::string> words) : m_words(std::move(words)) {
  m_words.insert(m_words.begin(), "setup");
  for (const std::string& word : m_words)
    m_pointers.push_back(word.c_str());
  // Like a real argv, the vector ends with a null that argc does not count.
  m_pointers.push_back(nullptr);
}

}  // namespace installer_test
