#include "driver/settings/InterruptCleanup.h"

#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "common/DefaultSignalAction.h"
#include "common/SignalCleanup.h"

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
const int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct termios g_terminal;
volatile sig_atomic_t g_haveTerminal = 0;
pid_t g_mainPid = 0;
// The clean-up's own handlers, which this one hands on to.
struct sigaction g_cleanup[kSignalCount];

// Async-signal-safe: getpid, tcsetattr and what the clean-up does.
void OnInterrupt(int sig) {
  if (getpid() != g_mainPid)
    EndByDefaultAction(sig);
  if (g_haveTerminal)
    tcsetattr(0, TCSANOW, &g_terminal);
  for (int i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == sig && g_cleanup[i].sa_handler != SIG_DFL &&
        g_cleanup[i].sa_handler != SIG_IGN)
      g_cleanup[i].sa_handler(sig);
  }
  EndByDefaultAction(sig);
}

}  // namespace

void InstallInterruptCleanup(const std::string& extractDir) {
  // Kept for the rest of the process: the handler may read it at any time.
  static std::string* registered = nullptr;
  if (registered == nullptr) {
    registered = new std::string(extractDir);
    RemoveTreeOnSignal(registered->c_str());
  }
  g_mainPid = getpid();
  if (isatty(0) && tcgetattr(0, &g_terminal) == 0)
    g_haveTerminal = 1;
  InstallSignalCleanup();
  for (int i = 0; i < kSignalCount; ++i) {
    if (sigaction(kSignals[i], nullptr, &g_cleanup[i]) != 0)
      continue;
    // A signal that was ignored when setup started stays ignored.
    if (g_cleanup[i].sa_handler == SIG_IGN)
      continue;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    // Nothing else runs meanwhile, and restoring the terminal from the
    // background must not stop the process.
    sigfillset(&action.sa_mask);
    sigaction(kSignals[i], &action, nullptr);
  }
}
