#include "common/DefaultSignalAction.h"

#include <signal.h>
#include <string.h>

void EndByDefaultAction(int sig) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
  raise(sig);
  // The signal is blocked while its handler runs; unblocking delivers it
  // with the default action, which ends the process.
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
}
