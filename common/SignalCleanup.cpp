#include "common/SignalCleanup.h"

#include <string.h>
#include <unistd.h>

#include "common/DefaultSignalAction.h"

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Fixed slots, so that the handler reads them without allocating. A build
// has one temporary file and a pipeline of two or three children.
const size_t kMaxPaths = 8;
const size_t kMaxChildren = 16;
const char* g_paths[kMaxPaths];
pid_t g_children[kMaxChildren];

void OnSignal(int signal) {
  for (const char* path : g_paths) {
    if (path != nullptr)
      unlink(path);
  }
  for (pid_t pid : g_children) {
    if (pid > 0)
      kill(pid, SIGKILL);
  }
  EndByDefaultAction(signal);
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

bool RemoveOnSignal(const char* path) {
  CleanupSignalBlock block;
  for (const char*& slot : g_paths) {
    if (slot == nullptr) {
      slot = path;
      return true;
    }
  }
  return false;
}

void ForgetRemoval(const char* path) {
  CleanupSignalBlock block;
  for (const char*& slot : g_paths) {
    if (slot == path)
      slot = nullptr;
  }
}

bool KillOnSignal(pid_t pid) {
  CleanupSignalBlock block;
  for (pid_t& slot : g_children) {
    if (slot == 0) {
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
