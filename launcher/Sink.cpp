#include "launcher/Sink.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/Format.h"
#include "common/SystemError.h"

Sink::Sink() : m_nFd(-1), m_pPipe(nullptr) {}

Sink::~Sink() {
  Close();
}

bool Sink::OpenFile(const char* path, int flags, mode_t mode) {
  m_sName = path;
  m_nFd = open(path, flags | O_CLOEXEC, mode);
  if (m_nFd < 0) {
    m_sFailure = FormatText("cannot create %s: %s", path, ErrnoText(errno));
    return false;
  }
  return true;
}

bool Sink::OpenCommand(const char* command, const char* name) {
  m_sName = name;
  // The child must not write out anything still buffered here as well.
  fflush(nullptr);
  m_pPipe = popen(command, "we");
  if (m_pPipe == nullptr) {
    m_sFailure = FormatText("cannot start %s: %s", name, ErrnoText(errno));
    return false;
  }
  // Only after popen, so that the command itself starts with SIGPIPE as it
  // was.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &m_savedPipeAction);
  m_nFd = fileno(m_pPipe);
  return true;
}

bool Sink::SetMode(mode_t mode) {
  if (m_pPipe != nullptr || m_nFd < 0) {
    m_sFailure = "set the mode: not an open file";
    return false;
  }
  if (fchmod(m_nFd, mode) != 0) {
    m_sFailure = FormatText("set the mode of %s: %s", m_sName.c_str(), ErrnoText(errno));
    return false;
  }
  return true;
}

bool Sink::Write(const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = write(m_nFd, next, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      m_sFailure = FormatText("write to %s: %s", m_sName.c_str(), ErrnoText(errno));
      return false;
    }
    next += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool Sink::Close() {
  if (m_pPipe != nullptr) {
    FILE* pipe = m_pPipe;
    m_pPipe = nullptr;
    m_nFd = -1;
    int status = pclose(pipe);
    int err = errno;
    sigaction(SIGPIPE, &m_savedPipeAction, nullptr);
    if (status == -1) {
      m_sFailure = FormatText("wait for %s: %s", m_sName.c_str(), ErrnoText(err));
      return false;
    }
    if (WIFSIGNALED(status)) {
      m_sFailure = FormatText("%s was killed by signal %d", m_sName.c_str(), WTERMSIG(status));
      return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      m_sFailure = FormatText("%s exited with status %d", m_sName.c_str(), WEXITSTATUS(status));
      return false;
    }
    return true;
  }
  if (m_nFd >= 0) {
    int fd = m_nFd;
    m_nFd = -1;
    if (close(fd) != 0) {
      m_sFailure = FormatText("close %s: %s", m_sName.c_str(), ErrnoText(errno));
      return false;
    }
  }
  return true;
}
