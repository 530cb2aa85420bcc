#include "tests/Subprocess.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An unlinked temporary file that collects one output stream of a child.
int CaptureFile() {
  char name[] = "/tmp/strata-capture-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0)
    unlink(name);
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(got));
  close(fd);
  return text;
}

ProcessResult RunChild(const std::function<void()>& body) {
  ProcessResult result;
  int out = CaptureFile();
  int err = CaptureFile();
  if (out < 0 || err < 0) {
    ADD_FAILURE() << "cannot create capture files: " << strerror(errno);
    return result;
  }
  // Nothing buffered in the test may be written a second time by the child.
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    return result;
  }
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    body();
    fflush(nullptr);
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

}  // namespace

ProcessResult RunForked(const std::function<void()>& body) {
  return RunChild(body);
}

ProcessResult RunProgram(const ProgramRun& run) {
  return RunChild([&run] {
    if (!run.cwd.empty() && chdir(run.cwd.c_str()) != 0) {
      fprintf(stderr, "chdir %s: %s\n", run.cwd.c_str(), strerror(errno));
      _exit(127);
    }
    for (const auto& var : run.env) {
      if (var.second.empty())
        unsetenv(var.first.c_str());
      else
        setenv(var.first.c_str(), var.second.c_str(), 1);
    }
    if (run.umask >= 0)
      umask(static_cast<mode_t>(run.umask));
    std::vector<char*> args;
    for (const std::string& arg : run.argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (run.program.empty())
      execvp(args[0], args.data());
    else
      execv(run.program.c_str(), args.data());
    fprintf(stderr, "exec %s: %s\n", run.program.c_str(), strerror(errno));
    fflush(stderr);
    _exit(127);
  });
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/strata-test-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr)
    ADD_FAILURE() << "mkdtemp: " << strerror(errno);
  m_sPath = name.data();
}

TempDir::~TempDir() {
  // Directories that a test made unreadable or unwritable still go.
  std::string command = "chmod -R u+rwx '" + m_sPath + "' 2>/dev/null; rm -rf '" + m_sPath + "'";
  if (system(command.c_str()) != 0)
    fprintf(stderr, "could not remove %s\n", m_sPath.c_str());
}

std::string ReadFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    ADD_FAILURE() << "open " << path << ": " << strerror(errno);
    return "";
  }
  return ReadAll(fd);
}

void WriteFile(const std::string& path, const std::string& content, mode_t mode) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) {
    ADD_FAILURE() << "create " << path << ": " << strerror(errno);
    return;
  }
  if (fwrite(content.data(), 1, content.size(), file) != content.size())
    ADD_FAILURE() << "write " << path;
  fclose(file);
  chmod(path.c_str(), mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

int ModeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return -1;
  return static_cast<int>(st.st_mode & 07777);
}
