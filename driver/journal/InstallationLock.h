#ifndef STRATA_DRIVER_JOURNAL_INSTALLATIONLOCK_H_
#define STRATA_DRIVER_JOURNAL_INSTALLATIONLOCK_H_

#include <string>

// The one lock of an installation directory, taken by every run that reads
// or changes an installation (setup, setup --check, Bin/uninstall with any
// option) before it reads the record, and held until the process ends. It is
// an flock(2) on the directory itself, so it is the same lock whichever path
// or working directory a run comes from, it creates no file, and the system
// drops it when the holder ends, however that happens.
//
// The launcher locks the directory the package is started in the same way
// and setup inherits that lock: a lock this process already holds on the
// directory counts as taken.
//
// A directory that does not exist yet is locked through its nearest
// existing ancestor until the run creates it (LockCreated); a run that finds
// it created meanwhile waits for the creator's lock on it.
//
// Process-wide: a process installs into one directory at a time; locking
// another releases the first.
class InstallationLock {
 public:
  // Waits up to waitSeconds for the lock of dir (absolute): true, or false
  // with *error: "another installation or removal of DIR is running
  // (process PID)" (the process when it can be found), or why the directory
  // could not be opened.
  static bool Acquire(const std::string& dir, int waitSeconds, std::string* error);
  // After the run created dir: locks it at once (it is not waited for).
  static bool LockCreated(const std::string& dir, std::string* error);
  // The directory locked, "" when none.
  static const std::string& LockedDirectory();
  static void Release();

  // The process that holds an flock on the file with this device and inode,
  // 0 when none is found (/proc/locks).
  static long HolderOf(unsigned long long device, unsigned long long inode);

  // How long a second run waits before it gives up.
  static const int kWaitSeconds = 5;
};

#endif  // STRATA_DRIVER_JOURNAL_INSTALLATIONLOCK_H_
