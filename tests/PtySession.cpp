#include "tests/PtySession.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

long long NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

PtySession::PtySession() : m_pid(-1), m_master(-1), m_matched(0) {}

PtySession::~PtySession() {
  if (m_pid > 0) {
    kill(-m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (m_master >= 0)
    close(m_master);
}

bool PtySession::Start(const ProgramRun& run) {
  fflush(nullptr);
  struct winsize size = {};
  size.ws_row = 24;
  size.ws_col = 80;
  m_pid = forkpty(&m_master, nullptr, nullptr, &size);
  if (m_pid < 0) {
    ADD_FAILURE() << "forkpty: " << strerror(errno);
    return false;
  }
  if (m_pid == 0)
    ExecProgram(run);
  fcntl(m_master, F_SETFD, FD_CLOEXEC);
  return true;
}

bool PtySession::ReadSome(long long deadlineMs) {
  long long left = deadlineMs - NowMs();
  if (left <= 0)
    return false;
  struct pollfd pfd = {m_master, POLLIN, 0};
  int ready = poll(&pfd, 1, static_cast<int>(left));
  if (ready < 0 && errno == EINTR)
    return true;
  if (ready <= 0)
    return false;
  char buffer[4096];
  ssize_t got = read(m_master, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR)
    return true;
  // EIO: every holder of the terminal's other side has closed it.
  if (got <= 0)
    return false;
  for (ssize_t i = 0; i < got; ++i) {
    if (buffer[i] != '\r')
      m_output += buffer[i];
  }
  return true;
}

bool PtySession::Expect(const std::string& text, int timeoutSeconds) {
  long long deadline = NowMs() + timeoutSeconds * 1000LL;
  for (;;) {
    size_t found = m_output.find(text, m_matched);
    if (found != std::string::npos) {
      m_matched = found + text.size();
      return true;
    }
    if (!ReadSome(deadline))
      return false;
  }
}

void PtySession::Send(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(m_master, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      ADD_FAILURE() << "cannot type at the terminal: " << strerror(errno);
      return;
    }
    done += static_cast<size_t>(n);
  }
}

void PtySession::Signal(int sig) {
  if (m_pid > 0)
    kill(-m_pid, sig);
}

struct termios PtySession::Settings() const {
  struct termios settings;
  memset(&settings, 0, sizeof settings);
  EXPECT_EQ(0, tcgetattr(m_master, &settings)) << strerror(errno);
  return settings;
}

bool PtySession::WaitExit(ProcessResult* result, int timeoutSeconds) {
  long long deadline = NowMs() + timeoutSeconds * 1000LL;
  while (ReadSome(deadline)) {
  }
  result->out = m_output;
  if (m_pid <= 0)
    return false;
  int status = 0;
  pid_t done;
  while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 && NowMs() < deadline) {
    struct timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  bool ended = done == m_pid;
  if (!ended) {
    kill(-m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
  }
  m_pid = -1;
  result->exited = WIFEXITED(status);
  result->code = result->exited ? WEXITSTATUS(status) : WTERMSIG(status);
  return ended;
}

ProcessResult PtySession::Finish(int timeoutSeconds) {
  ProcessResult result;
  WaitExit(&result, timeoutSeconds);
  return result;
}
