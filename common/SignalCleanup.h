#ifndef STRATA_COMMON_SIGNALCLEANUP_H_
#define STRATA_COMMON_SIGNALCLEANUP_H_

#include <signal.h>
#include <sys/types.h>

// What a program undoes when SIGINT, SIGTERM or SIGHUP ends it: the
// temporary files it was writing are removed and the child processes that
// write into them are killed, and then the process ends by the signal as it
// would have without a handler. The registry is process-wide; every change
// to it blocks those signals, so the handler never sees it half changed.
//
// Until InstallSignalCleanup is called the registry is kept but nothing
// acts on it.

// Catches each of the three signals that is not ignored; one that is stays
// ignored (a build started with nohup keeps ignoring SIGHUP).
void InstallSignalCleanup();

// Removes path when a signal ends the process. The caller keeps the text
// unchanged until it calls ForgetRemoval. False (nothing registered) when
// the registry is full.
bool RemoveOnSignal(const char* path);
void ForgetRemoval(const char* path);

// Kills pid with SIGKILL when a signal ends the process. Forget a child
// before its pid can be reused, that is before it is reaped: see
// CleanupSignalBlock. False (nothing registered) when the registry is full.
bool KillOnSignal(pid_t pid);
void ForgetChild(pid_t pid);

// Holds off the three signals while it lives, so that a step and the change
// to the registry that goes with it (a file created and registered, a
// child reaped and forgotten) happen as one. Not copyable.
class CleanupSignalBlock {
 public:
  CleanupSignalBlock();
  ~CleanupSignalBlock();

  CleanupSignalBlock(const CleanupSignalBlock&) = delete;
  CleanupSignalBlock& operator=(const CleanupSignalBlock&) = delete;

 private:
  sigset_t m_savedMask;
};

#endif  // STRATA_COMMON_SIGNALCLEANUP_H_
