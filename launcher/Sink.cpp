#include "launcher/Sink.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "common/FileIo.h"
#include "common/Format.h"
#include "common/SignalCleanup.h"
#include "common/SystemError.h"
#include "common/WaitStatus.h"

namespace {

size_t PageSize() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<size_t>(size) : 4096;
}

}  // namespace

const size_t Sink::kLargestPipe;
const long Sink::kFirstPauseNs;
const long Sink::kMinPauseNs;
const long Sink::kMaxPauseNs;

Sink::Sink()
    : m_nFd(-1),
      m_nPid(0),
      m_nReportFd(-1),
      m_nPipeCapacity(0),
      m_nSlack(3 * PageSize()),
      m_bFilling(true),
      m_bPipeBroken(false),
      m_nPauseNs(kFirstPauseNs) {}

Sink::~Sink() {
  std::string ignored;
  Close(&ignored);
}

bool Sink::OpenFile(const char* path, int flags, mode_t mode, std::string* error) {
  m_sName = path;
  m_nFd = open(path, flags | O_CLOEXEC, mode);
  if (m_nFd < 0) {
    *error = FormatText("cannot create %s: %s", path, ErrnoText(errno));
    return false;
  }
  return true;
}

bool Sink::OpenCommand(const char* command, const char* name, std::string* error) {
  m_sName = name;
  int input[2], report[2];
  if (pipe2(input, O_CLOEXEC) != 0) {
    *error = FormatText("cannot start %s: %s", name, ErrnoText(errno));
    return false;
  }
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = FormatText("cannot start %s: %s", name, ErrnoText(errno));
    close(input[0]);
    close(input[1]);
    return false;
  }
  // The child must not write out anything still buffered here as well.
  fflush(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copies.
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, report[1], 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  const char* argv[] = {"sh", "-c", command, nullptr};
  pid_t pid = 0;
  int rc;
  {
    // Started and registered for killing as one step; the child starts with
    // the signal mask from before the block.
    CleanupSignalBlock block;
    posix_spawnattr_setsigmask(&attr, &block.SavedMask());
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char* const*>(argv), environ);
    if (rc == 0)
      KillOnSignal(-pid);
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(report[1]);
  if (rc != 0) {
    close(input[1]);
    close(report[0]);
    *error = FormatText("cannot start %s: %s", name, ErrnoText(rc));
    return false;
  }
  m_nPid = pid;
  m_nFd = input[1];
  m_nReportFd = report[0];
  // Read once the command has ended; a stray process that kept the channel
  // open must not hold stage one up.
  fcntl(m_nReportFd, F_SETFL, O_NONBLOCK);
  // Only after the fork, so that the command itself starts with SIGPIPE as
  // it was.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &m_savedPipeAction);
  int capacity = fcntl(m_nFd, F_GETPIPE_SZ);
  m_nPipeCapacity = capacity > 0 ? static_cast<size_t>(capacity) : 0;
  return true;
}

void Sink::GrowPipe(size_t bytes) {
  if (m_nPid == 0)
    return;
  size_t want = kLargestPipe;
  while (want > bytes)
    want /= 2;
  // Refused beyond the system's limits; the pipe then stays as it is.
  if (want > m_nPipeCapacity && fcntl(m_nFd, F_SETPIPE_SZ, static_cast<int>(want)) >= 0) {
    int capacity = fcntl(m_nFd, F_GETPIPE_SZ);
    if (capacity > 0)
      m_nPipeCapacity = static_cast<size_t>(capacity);
  }
}

bool Sink::SetMode(mode_t mode, std::string* error) {
  if (m_nPid != 0 || m_nFd < 0) {
    *error = "set the mode: not an open file";
    return false;
  }
  if (fchmod(m_nFd, mode) != 0) {
    *error = FormatText("set the mode of %s: %s", m_sName.c_str(), ErrnoText(errno));
    return false;
  }
  return true;
}

bool Sink::Write(const void* data, size_t size, std::string* error) {
  const char* bytes = static_cast<const char*>(data);
  // Pacing needs room to spare beyond the pages kept free.
  if (m_nPid != 0 && m_nPipeCapacity >= 4 * m_nSlack)
    return WritePaced(bytes, size, error);
  return WriteBlocking(bytes, size, error);
}

bool Sink::WritePaced(const char* data, size_t size, std::string* error) {
  bool slept = false;
  while (size > 0) {
    int queued = 0;
    if (ioctl(m_nFd, FIONREAD, &queued) != 0 || queued < 0)
      return WriteBlocking(data, size, error);
    const size_t used = static_cast<size_t>(queued) + m_nSlack;
    const size_t room = used < m_nPipeCapacity ? m_nPipeCapacity - used : 0;
    if (slept) {
      // Found low, the pause was too long for the command's pace; found
      // hardly drained, too short.
      if (static_cast<size_t>(queued) < m_nPipeCapacity / 4)
        m_nPauseNs = std::max(kMinPauseNs, m_nPauseNs / 2);
      else if (static_cast<size_t>(queued) > m_nPipeCapacity / 4 * 3)
        m_nPauseNs = std::min(kMaxPauseNs, m_nPauseNs * 2);
    }
    // Once at most half full, the pipe is filled up, over as many calls as
    // that takes; once full, it is left to drain to half.
    if (room >= m_nPipeCapacity / 2)
      m_bFilling = true;
    else if (room == 0)
      m_bFilling = false;
    if (m_bFilling) {
      size_t length = std::min(room, size);
      if (!WriteBlocking(data, length, error))
        return false;
      data += length;
      size -= length;
      slept = false;
      continue;
    }
    if (m_pauseObserver)
      m_pauseObserver(m_nPauseNs);
    // Asks for no event: only the end of the command's reading (an error
    // on the pipe) cuts the pause short, and the write then reports it.
    struct pollfd pipe = {m_nFd, 0, 0};
    struct timespec pause = {0, m_nPauseNs};
    int ready = ppoll(&pipe, 1, &pause, nullptr);
    if (ready > 0 && (pipe.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
      return WriteBlocking(data, size, error);
    slept = true;
  }
  return true;
}

bool Sink::WriteBlocking(const char* data, size_t size, std::string* error) {
  if (WriteAll(m_nFd, data, size))
    return true;
  m_bPipeBroken = m_nPid != 0 && errno == EPIPE;
  m_sWriteFailure = FormatText("write to %s: %s", m_sName.c_str(), ErrnoText(errno));
  *error = m_sWriteFailure;
  return false;
}

bool Sink::Close(std::string* error) {
  if (m_nPid != 0) {
    pid_t pid = m_nPid;
    close(m_nFd);
    m_nFd = -1;
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    int err = errno;
    {
      // Forgotten as it is reaped, before its number can be reused.
      CleanupSignalBlock block;
      ForgetChild(-pid);
      m_nPid = 0;
    }
    // Every writer of the report has ended with the command.
    m_sReport.clear();
    char buffer[256];
    ssize_t got;
    while ((got = read(m_nReportFd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
      if (got > 0)
        m_sReport.append(buffer, static_cast<size_t>(got));
    }
    close(m_nReportFd);
    m_nReportFd = -1;
    sigaction(SIGPIPE, &m_savedPipeAction, nullptr);
    if (waited < 0) {
      *error = FormatText("wait for %s: %s", m_sName.c_str(), ErrnoText(err));
      return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      *error = WaitStatusText(m_sName, status);
      return false;
    }
    // The command took what it wanted and succeeded, but not all of the
    // data reached it.
    if (m_bPipeBroken) {
      *error = m_sWriteFailure;
      return false;
    }
    return true;
  }
  if (m_nFd >= 0) {
    int fd = m_nFd;
    m_nFd = -1;
    if (close(fd) != 0) {
      *error = FormatText("close %s: %s", m_sName.c_str(), ErrnoText(errno));
      return false;
    }
  }
  return true;
}
