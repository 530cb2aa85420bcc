#ifndef STRATA_COMMON_SIGNALCLEANUP_H_
#define STRATA_COMMON_SIGNALCLEANUP_H_

#include <signal.h>
#include <sys/types.h>

// What a program undoes when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends it: the child
// processes that write into its files are killed and waited for, the
// temporary files and directory trees it was making are removed, and then the process ends by the
// signal as it would have without a handler. The registry is process-wide; every change to it
// blocks those signals, so the handler never sees it half changed.
//
// Until InstallSignalCleanup is called the registry is kept but nothing
// acts on it.

// Catches each of the four signals that is not ignored; one that is stays
// ignored (a build started with nohup keeps ignoring SIGHUP).
void InstallSignalCleanup();

// Removes path when a signal ends the process. The caller keeps the text
// unchanged until it calls ForgetRemoval. False (nothing registered) when
// the registry is full.
bool RemoveOnSignal(const char* path);
void ForgetRemoval(const char* path);

// Removes the directory tree at path (relative to the working directory at
// the time of the signal) with everything in it, never following a
// symbolic link, when a signal ends the process. As RemoveOnSignal otherwise.
bool RemoveTreeOnSignal(const char* path);
void ForgetTreeRemoval(const char* path);

// Kills pid with SIGKILL when a signal ends the process; a negative pid
// names a process group, as with kill(2). Forget a child before its pid can
// be reused, that is before it is reaped: see CleanupSignalBlock. False
// (nothing registered) when the registry is full. A process that is the
// reaper of its orphans (PR_SET_CHILD_SUBREAPER) thus also waits for the
// grandchildren that were killed before it removes anything.
bool KillOnSignal(pid_t pid);
void ForgetChild(pid_t pid);

// Removes the tree at name (relative to dirfd, AT_FDCWD for the working
// directory), never following a symbolic link: what RemoveTreeOnSignal does,
// with async-signal-safe calls only. Nesting deeper than 64 levels is left
// in place.
void RemoveTreeAt(int dirfd, const char* name);

// Holds off the four signals from now until ReleaseCleanupSignals, for a
// stretch longer than one scope (an installation's switch and the summary
// after it): a signal that comes meanwhile waits and takes effect at the
// release. A CleanupSignalBlock made while they are held keeps them held.
void HoldCleanupSignals();
void ReleaseCleanupSignals();

// Holds off the four signals while it lives, so that a step and the change
// to the registry that goes with it (a file created and registered, a
// child reaped and forgotten) happen as one. Not copyable.
class CleanupSignalBlock {
 public:
  CleanupSignalBlock();
  ~CleanupSignalBlock();

  CleanupSignalBlock(const CleanupSignalBlock&) = delete;
  CleanupSignalBlock& operator=(const CleanupSignalBlock&) = delete;

  // The mask from before the block, for a child to restore before it
  // becomes another program.
  const sigset_t& SavedMask() const { return m_savedMask; }

 private:
  sigset_t m_savedMask;
};

#endif  // STRATA_COMMON_SIGNALCLEANUP_H_
