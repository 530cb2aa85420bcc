#include "driver/journal/InstallationLock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include "common/Path.h"
#include "common/ScopedFd.h"
#include "common/SystemError.h"

namespace {

ScopedFd g_ancestor;
ScopedFd g_dir;
std::string g_locked;

// The nearest ancestor of path that exists (path itself when it does).
std::string NearestExisting(const std::string& path) {
  std::string current = path;
  struct stat st;
  while (stat(current.c_str(), &st) != 0 && current != "/")
    current = DirectoryOf(current);
  return current;
}

std::string BusyMessage(const std::string& dir, int fd) {
  std::string message = "another installation or removal of " + dir + " is running";
  struct stat st;
  long holder = fstat(fd, &st) == 0 ? InstallationLock::HolderOf(st.st_dev, st.st_ino) : 0;
  if (holder > 0 && holder != getpid())
    message += " (process " + std::to_string(holder) + ")";
  return message;
}

void Pause() {
  struct timespec tick = {0, 100 * 1000 * 1000};
  nanosleep(&tick, nullptr);
}

// Opens and locks path, waiting up to deadline; true with the descriptor in
// *fd once it is locked and path still names the locked directory.
bool LockPath(const std::string& path, const std::string& shown, time_t deadline, bool wait,
              ScopedFd* fd, std::string* error) {
  for (;;) {
    fd->Reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd->Get() < 0) {
      *error = ErrnoMessage(path, errno);
      return false;
    }
    while (flock(fd->Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        *error = ErrnoMessage(path, errno);
        return false;
      }
      // The launcher's lock of the directory the package was started in,
      // which this process inherited: it is held for this run already.
      struct stat st;
      if (fstat(fd->Get(), &st) == 0 &&
          InstallationLock::HolderOf(st.st_dev, st.st_ino) == getpid())
        break;
      if (!wait || time(nullptr) >= deadline) {
        *error = BusyMessage(shown, fd->Get());
        return false;
      }
      Pause();
    }
    // The holder before us may have removed the directory or put another in
    // its place: the lock counts only on the one that has the name now.
    struct stat locked;
    struct stat named;
    if (fstat(fd->Get(), &locked) == 0 && stat(path.c_str(), &named) == 0 &&
        locked.st_dev == named.st_dev && locked.st_ino == named.st_ino)
      return true;
    if (time(nullptr) >= deadline) {
      *error = ErrnoMessage(path, ENOENT);
      return false;
    }
  }
}

}  // namespace

bool InstallationLock::Acquire(const std::string& dir, int waitSeconds, std::string* error) {
  Release();
  time_t deadline = time(nullptr) + waitSeconds;
  for (;;) {
    std::string existing = NearestExisting(dir);
    if (existing == dir) {
      if (!LockPath(dir, dir, deadline, true, &g_dir, error))
        return false;
      g_locked = dir;
      return true;
    }
    if (!LockPath(existing, dir, deadline, true, &g_ancestor, error))
      return false;
    // Created by another run while this one waited: its lock is the one.
    if (NearestExisting(dir) == existing) {
      g_locked = dir;
      return true;
    }
    g_ancestor.Reset(-1);
  }
}

bool InstallationLock::LockCreated(const std::string& dir, std::string* error) {
  if (g_dir.Get() >= 0 && g_locked == dir)
    return true;
  if (!LockPath(dir, dir, time(nullptr), false, &g_dir, error))
    return false;
  g_locked = dir;
  return true;
}

const std::string& InstallationLock::LockedDirectory() {
  return g_locked;
}

void InstallationLock::Release() {
  g_dir.Reset(-1);
  g_ancestor.Reset(-1);
  g_locked.clear();
}

long InstallationLock::HolderOf(unsigned long long device, unsigned long long inode) {
  FILE* locks = fopen("/proc/locks", "re");
  if (locks == nullptr)
    return 0;
  // "1: FLOCK  ADVISORY  WRITE 1234 08:01:56789 0 EOF", the device as
  // major:minor in hexadecimal.
  char line[512];
  long holder = 0;
  while (holder == 0 && fgets(line, sizeof line, locks) != nullptr) {
    char type[32];
    char mode[32];
    char access[32];
    long pid = 0;
    unsigned int major = 0;
    unsigned int minor = 0;
    unsigned long long ino = 0;
    if (sscanf(line, "%*[^:]: %31s %31s %31s %ld %x:%x:%llu", type, mode, access, &pid, &major,
               &minor, &ino) == 7 &&
        ino == inode && makedev(major, minor) == device)
      holder = pid;
  }
  fclose(locks);
  return holder;
}
