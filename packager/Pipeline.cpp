#include "packager/Pipeline.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "common/WaitStatus.h"

extern char** environ;

namespace {

// Standard error beyond this much is dropped; the first lines say what went
// wrong.
const size_t kMaxErrorText = 16 * 1024;

// Variables through which the archivers take options from the environment;
// a release engineer's BZIP2=-1 or ZSTD_CLEVEL=3 must not change the package.
bool IsOptionVariable(const char* entry) {
  static const char* const kNames[] = {
      "TAR_OPTIONS=", "BZIP=", "BZIP2=", "GZIP=", "ZSTD_CLEVEL=", "ZSTD_NBTHREADS="};
  for (const char* name : kNames) {
    if (strncmp(entry, name, strlen(name)) == 0)
      return true;
  }
  return false;
}

void CloseIfOpen(int* fd) {
  if (*fd >= 0)
    close(*fd);
  *fd = -1;
}

// Drains the output and error pipes until both are closed by the children.
void Drain(int outFd, int errFd, std::string* output, std::string* errors) {
  char buffer[65536];
  for (;;) {
    struct pollfd fds[2];
    nfds_t count = 0;
    if (outFd >= 0)
      fds[count++] = {outFd, POLLIN, 0};
    if (errFd >= 0)
      fds[count++] = {errFd, POLLIN, 0};
    if (count == 0)
      return;
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0)
        continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR)
        continue;
      bool isOut = fds[i].fd == outFd;
      if (n <= 0) {
        close(fds[i].fd);
        if (isOut)
          outFd = -1;
        else
          errFd = -1;
        continue;
      }
      if (isOut) {
        output->append(buffer, static_cast<size_t>(n));
      } else if (errors->size() < kMaxErrorText) {
        errors->append(buffer, std::min(static_cast<size_t>(n), kMaxErrorText - errors->size()));
      }
    }
  }
}

}  // namespace

void Pipeline::Add(std::vector<std::string> argv) {
  m_commands.push_back(std::move(argv));
}

bool Pipeline::Run(int inputFd, int outputFd, std::string* output, std::string* error) const {
  if (m_commands.empty()) {
    *error = "no command to run";
    return false;
  }
  Ends ends;
  if (!OpenEnds(inputFd, outputFd, &ends, error))
    return false;
  std::vector<pid_t> pids;
  std::string spawnError;
  Spawn(&ends, &pids, &spawnError);

  std::string captured;
  std::string errors;
  Drain(ends.outRead, ends.errRead, output ? output : &captured, &errors);
  std::vector<int> statuses = Reap(pids);
  if (!spawnError.empty()) {
    *error = spawnError;
    return false;
  }
  return Judge(statuses, errors, error);
}

bool Pipeline::OpenEnds(int inputFd, int outputFd, Ends* ends, std::string* error) const {
  int errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + ErrnoText(errno);
    return false;
  }
  int outPipe[2] = {-1, -1};
  if (outputFd < 0 && pipe2(outPipe, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + ErrnoText(errno);
    close(errPipe[0]);
    close(errPipe[1]);
    return false;
  }
  ends->errRead = errPipe[0];
  ends->errWrite = errPipe[1];
  ends->outRead = outPipe[0];
  ends->outWrite = outputFd >= 0 ? outputFd : outPipe[1];
  ends->ownsOutWrite = outputFd < 0;
  ends->input = inputFd;
  if (inputFd < 0)
    ends->input = ends->nullInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
  return true;
}

void Pipeline::Spawn(Ends* ends, std::vector<pid_t>* pids, std::string* spawnError) const {
  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry) {
    if (!IsOptionVariable(*entry))
      envp.push_back(*entry);
  }
  envp.push_back(nullptr);
  // The children must die of a broken pipe as usual even if this process
  // ignores SIGPIPE, and must not inherit its blocked signals.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attr, &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &signals);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  int prevRead = ends->input;
  for (size_t i = 0; i < m_commands.size(); ++i) {
    int nextPipe[2] = {-1, -1};
    if (i + 1 < m_commands.size() && pipe2(nextPipe, O_CLOEXEC) != 0) {
      *spawnError = std::string("cannot make a pipe: ") + ErrnoText(errno);
      break;
    }
    int childOut = i + 1 < m_commands.size() ? nextPipe[1] : ends->outWrite;
    pid_t pid;
    int rc = SpawnOne(m_commands[i], prevRead, childOut, ends->errWrite, attr, envp, &pid);
    CloseIfOpen(&nextPipe[1]);
    if (prevRead != ends->input)
      close(prevRead);
    prevRead = nextPipe[0];
    if (rc != 0) {
      *spawnError = "cannot run " + m_commands[i][0] + ": " + ErrnoText(rc);
      break;
    }
    pids->push_back(pid);
  }
  posix_spawnattr_destroy(&attr);
  // Closing the read end of a chain cut short lets its writers end.
  if (prevRead >= 0 && prevRead != ends->input)
    close(prevRead);
  // Only the children hold the write ends now, so the reads see their end.
  CloseIfOpen(&ends->nullInput);
  CloseIfOpen(&ends->errWrite);
  if (ends->ownsOutWrite)
    CloseIfOpen(&ends->outWrite);
}

int Pipeline::SpawnOne(const std::vector<std::string>& command, int in, int out, int err,
                       const posix_spawnattr_t& attr, const std::vector<char*>& envp,
                       pid_t* pid) const {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<char*> argv;
  for (const std::string& arg : command)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int rc;
  {
    // Started and registered as one step, so that a signal cannot end
    // this process and leave the child running.
    CleanupSignalBlock block;
    rc = posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), envp.data());
    if (rc == 0)
      KillOnSignal(*pid);
  }
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

std::vector<int> Pipeline::Reap(const std::vector<pid_t>& pids) {
  std::vector<int> statuses;
  for (pid_t pid : pids) {
    // Waits without reaping: until the child is forgotten its pid cannot
    // be reused, so a signal meanwhile kills nobody else.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    int status = 0;
    CleanupSignalBlock block;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ForgetChild(pid);
    statuses.push_back(status);
  }
  return statuses;
}

bool Pipeline::Judge(const std::vector<int>& statuses, std::string errors,
                     std::string* error) const {
  // A command killed by a broken pipe did no harm when every command after
  // it succeeded: they took all they needed (tar stops reading at the end of
  // an archive). Otherwise the command that failed on its own is the one to
  // report, since the ones before it then mostly died of the broken pipe.
  auto succeeded = [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; };
  auto brokenPipe = [](int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE; };
  std::vector<bool> failedAt(statuses.size());
  bool restSucceeded = true;
  for (size_t i = statuses.size(); i-- > 0;) {
    failedAt[i] = !succeeded(statuses[i]) && !(brokenPipe(statuses[i]) && restSucceeded);
    restSucceeded = restSucceeded && !failedAt[i];
  }
  int failed = -1;
  for (size_t i = 0; i < statuses.size(); ++i) {
    if (failedAt[i] && (failed < 0 || (brokenPipe(statuses[failed]) && !brokenPipe(statuses[i]))))
      failed = static_cast<int>(i);
  }
  if (failed < 0)
    return true;
  *error = WaitStatusText(m_commands[failed][0], statuses[failed]);
  // Blank lines around the messages say nothing.
  size_t first = errors.find_first_not_of('\n');
  errors = first == std::string::npos
               ? ""
               : errors.substr(first, errors.find_last_not_of('\n') + 1 - first);
  if (!errors.empty())
    *error += "\n" + errors;
  return false;
}
