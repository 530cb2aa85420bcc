#include "signing/TerminalPassword.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <sodium.h>

#include "common/FileIo.h"
#include "common/SystemError.h"

namespace {

// Longer than any password typed by hand.
const size_t kMaxLength = 4096;

// A signal that ends the program while echo is off must not leave the
// user's terminal without it: the handler puts the settings back and hands
// the signal on to whatever handled it before.
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
const size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
int g_nTerminal = -1;
struct termios g_savedSettings;
struct sigaction g_savedActions[kSignalCount];

void RestoreTerminalAndResend(int sig) {
  int savedErrno = errno;
  tcsetattr(g_nTerminal, TCSAFLUSH, &g_savedSettings);
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == sig)
      sigaction(sig, &g_savedActions[i], nullptr);
  }
  // Blocked while this handler runs; delivered to the earlier handling when
  // it returns.
  raise(sig);
  errno = savedErrno;
}

// Installs the handler for the signals that are not ignored (a program
// started with nohup keeps ignoring SIGHUP), or puts the earlier handling
// back.
void CatchSignals(bool catchThem) {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (!catchThem) {
      sigaction(kSignals[i], &g_savedActions[i], nullptr);
      continue;
    }
    sigaction(kSignals[i], nullptr, &g_savedActions[i]);
    if (g_savedActions[i].sa_handler == SIG_IGN)
      continue;
    struct sigaction action = {};
    action.sa_handler = RestoreTerminalAndResend;
    sigemptyset(&action.sa_mask);
    sigaction(kSignals[i], &action, nullptr);
  }
}

}  // namespace

bool AskPassword(const std::string& prompt, std::string* password, std::string* error) {
  int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = "no terminal to ask for the password on";
    return false;
  }
  struct termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    *error = std::string("cannot use the terminal: ") + ErrnoText(errno);
    close(fd);
    return false;
  }
  g_nTerminal = fd;
  g_savedSettings = saved;
  CatchSignals(true);
  struct termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  // TCSAFLUSH drops anything typed ahead, which would otherwise be taken
  // for the password after being shown.
  bool ok = tcsetattr(fd, TCSAFLUSH, &quiet) == 0 && WriteAll(fd, prompt.data(), prompt.size());
  if (!ok)
    *error = std::string("cannot use the terminal: ") + ErrnoText(errno);
  password->clear();
  password->reserve(kMaxLength);
  bool ended = false;
  while (ok) {
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      *error = std::string("cannot read the password: ") + ErrnoText(errno);
      ok = false;
    } else if (n == 0) {
      *error = "no password given";
      ok = false;
    } else if (c == '\n') {
      ended = true;
      break;
    } else if (password->size() >= kMaxLength) {
      *error = "the password is too long";
      ok = false;
    } else {
      password->push_back(c);
    }
  }
  tcsetattr(fd, TCSAFLUSH, &saved);
  CatchSignals(false);
  // The Enter key was not echoed either.
  WriteAll(fd, "\n", 1);
  close(fd);
  if (!ok || !ended) {
    sodium_memzero(&(*password)[0], password->size());
    password->clear();
    return false;
  }
  if (!password->empty() && password->back() == '\r')
    password->pop_back();
  return true;
}
