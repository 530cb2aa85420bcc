#include "common/SignalCleanup.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/DefaultSignalAction.h"

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Fixed slots, so that the handler reads them without allocating. A build
// has one temporary file and a pipeline of two or three children.
const size_t kMaxPaths = 8;
const size_t kMaxChildren = 16;
const int kMaxTreeDepth = 64;
const char* g_paths[kMaxPaths];
const char* g_trees[kMaxPaths];
pid_t g_children[kMaxChildren];

void RemoveTree(int dirfd, const char* name, int depth) {
  if (unlinkat(dirfd, name, 0) == 0 || errno == ENOENT)
    return;
  if (depth >= kMaxTreeDepth)
    return;
  int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return;
  // Entries removed while the directory is read may make the reading skip
  // others; a pass that finds nothing to remove ends it.
  for (bool removed = true; removed;) {
    removed = false;
    alignas(8) char buffer[2048];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
      ssize_t got = getdents64(fd, buffer, sizeof buffer);
      if (got <= 0)
        break;
      for (ssize_t at = 0; at < got;) {
        const struct dirent64* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        const char* entryName = entry->d_name;
        if (strcmp(entryName, ".") == 0 || strcmp(entryName, "..") == 0)
          continue;
        RemoveTree(fd, entryName, depth + 1);
        removed = true;
      }
    }
  }
  close(fd);
  unlinkat(dirfd, name, AT_REMOVEDIR);
}

void OnSignal(int signal) {
  for (pid_t pid : g_children) {
    if (pid != 0)
      kill(pid, SIGKILL);
  }
  // Nothing a killed child was writing may land after the removals below.
  for (pid_t pid : g_children) {
    while (pid != 0 && (waitpid(pid, nullptr, 0) > 0 || errno == EINTR)) {
    }
  }
  for (const char* path : g_paths) {
    if (path != nullptr)
      unlink(path);
  }
  for (const char* tree : g_trees) {
    if (tree != nullptr)
      RemoveTree(AT_FDCWD, tree, 0);
  }
  EndByDefaultAction(signal);
}

bool Register(const char* path, const char** slots) {
  CleanupSignalBlock block;
  for (size_t i = 0; i < kMaxPaths; ++i) {
    if (slots[i] == nullptr) {
      slots[i] = path;
      return true;
    }
  }
  return false;
}

void Forget(const char* path, const char** slots) {
  CleanupSignalBlock block;
  for (size_t i = 0; i < kMaxPaths; ++i) {
    if (slots[i] == path)
      slots[i] = nullptr;
  }
}

sigset_t CleanupSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals)
    sigaddset(&set, signal);
  return set;
}

}  // namespace

CleanupSignalBlock::CleanupSignalBlock() {
  sigset_t block = CleanupSignals();
  sigprocmask(SIG_BLOCK, &block, &m_savedMask);
}

CleanupSignalBlock::~CleanupSignalBlock() {
  sigprocmask(SIG_SETMASK, &m_savedMask, nullptr);
}

void InstallSignalCleanup() {
  for (int signal : kSignals) {
    struct sigaction action;
    if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
      continue;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    // One cleanup at a time, whichever signal comes first.
    action.sa_mask = CleanupSignals();
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

void HoldCleanupSignals() {
  sigset_t block = CleanupSignals();
  sigprocmask(SIG_BLOCK, &block, nullptr);
}

void ReleaseCleanupSignals() {
  sigset_t block = CleanupSignals();
  sigprocmask(SIG_UNBLOCK, &block, nullptr);
}

bool RemoveOnSignal(const char* path) {
  return Register(path, g_paths);
}

void ForgetRemoval(const char* path) {
  Forget(path, g_paths);
}

bool RemoveTreeOnSignal(const char* path) {
  return Register(path, g_trees);
}

void ForgetTreeRemoval(const char* path) {
  Forget(path, g_trees);
}

void RemoveTreeAt(int dirfd, const char* name) {
  RemoveTree(dirfd, name, 0);
}

bool KillOnSignal(pid_t pid) {
  CleanupSignalBlock block;
  for (pid_t& slot : g_children) {
    if (slot == 0 && pid != 0) {
      slot = pid;
      return true;
    }
  }
  return false;
}

void ForgetChild(pid_t pid) {
  CleanupSignalBlock block;
  for (pid_t& slot : g_children) {
    if (slot == pid)
      slot = 0;
  }
}
