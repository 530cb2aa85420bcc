#include "tests/Subprocess.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A test process inherits what its starter ignored. With SIGCHLD ignored
// the kernel reaps every child at once, so that no wait (pclose, waitpid,
// system) learns how a child ended: a command that succeeded would read as
// a failure. Every test that starts a child links this file.
const bool g_childStatusesKept = [] {
  signal(SIGCHLD, SIG_DFL);
  return true;
}();

// An unlinked temporary file that collects one output stream of a child.
int CaptureFile() {
  char name[] = "/tmp/strata-capture-XXXXXX";
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd >= 0)
    unlink(name);
  return fd;
}

// Everything from fd's start (a file) or until every writer has closed it
// (a pipe); closes fd.
std::string TakeOutput(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  ReadAll(fd, &text);
  close(fd);
  return text;
}

// The read side of a pipe that holds input and then ends, or /dev/null for
// no input; -1 when neither can be had.
int InputFor(const std::string& input) {
  if (input.empty())
    return open("/dev/null", O_RDONLY | O_CLOEXEC);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return -1;
  // Written whole before the child starts, so the pipe must hold it all.
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  ssize_t written = write(fds[1], input.data(), input.size());
  close(fds[1]);
  if (written != static_cast<ssize_t>(input.size())) {
    ADD_FAILURE() << "the input of " << input.size() << " bytes does not fit into a pipe";
    close(fds[0]);
    return -1;
  }
  return fds[0];
}

ProcessResult RunChild(const std::function<void()>& body, const ForkOptions& options,
                       const std::string& input) {
  ProcessResult result;
  int in = InputFor(input);
  // The read side and the write side: one file, or the ends of a pipe.
  int out[2] = {-1, -1};
  if (!options.outputUntilClosed)
    out[0] = out[1] = CaptureFile();
  else if (pipe2(out, O_CLOEXEC) != 0)
    out[0] = out[1] = -1;
  int err = CaptureFile();
  if (in < 0 || out[0] < 0 || err < 0) {
    ADD_FAILURE() << "cannot set up the child's standard streams: " << strerror(errno);
    for (int fd : {in, out[0], out[1] != out[0] ? out[1] : -1, err}) {
      if (fd >= 0)
        close(fd);
    }
    return result;
  }
  // Nothing buffered in the test may be written a second time by the child.
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out[1], 1);
    dup2(err, 2);
    // Only the standard streams lead to the test's ends.
    for (int fd : {in, out[0], out[1], err}) {
      if (fd > 2)
        close(fd);
    }
    body();
    fflush(nullptr);
    _exit(options.statusOnReturn);
  }
  close(in);
  if (options.outputUntilClosed)
    close(out[1]);
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    close(out[0]);
    close(err);
    return result;
  }
  if (options.outputUntilClosed)
    result.out = TakeOutput(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  if (!options.outputUntilClosed)
    result.out = TakeOutput(out[0]);
  result.err = TakeOutput(err);
  return result;
}

}  // namespace

ProcessResult RunForked(const ForkOptions& options, const std::function<void()>& body) {
  return RunChild(body, options, std::string());
}

void FeedStandardInput(const std::string& text) {
  int fds[2];
  if (pipe(fds) != 0 ||
      write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    _exit(98);
  close(fds[1]);
  dup2(fds[0], 0);
  close(fds[0]);
}

ProcessResult RunForked(const std::function<void()>& body) {
  return RunChild(body, ForkOptions(), std::string());
}

ProcessResult RunProgram(const ProgramRun& run) {
  return RunChild([&run] { ExecProgram(run); }, ForkOptions(), run.input);
}

void ExecProgram(const ProgramRun& run) {
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
  for (const std::string& name : run.emptyEnv)
    setenv(name.c_str(), "", 1);
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
}

int RunShell(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output != nullptr)
      output->append(buffer, n);
  }
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ProcessEnds(pid_t pid, int seconds) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  for (int i = 0; i <= seconds * 100; ++i) {
    std::string stat;
    if (!ReadFile(path, &stat))
      return true;
    // The state follows the command name, which may hold anything but
    // ends with the last ")".
    size_t paren = stat.rfind(')');
    if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z')
      return true;
    usleep(10 * 1000);
  }
  return false;
}
