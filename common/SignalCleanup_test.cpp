#include "common/SignalCleanup.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/Subprocess.h"

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A test runner started in the background may ignore SIGINT; the child
// under test must start as a program started from a terminal would.
void DefaultSignals() {
  for (int signal : kSignals)
    ::signal(signal, SIG_DFL);
}

// A child that sleeps until it is killed.
pid_t StartSleeper() {
  pid_t pid = fork();
  if (pid == 0) {
    execlp("sleep", "sleep", "600", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

}  // namespace

TEST(SignalCleanup, SignalRemovesTheFilesKillsTheChildrenAndEndsTheProcess) {
  TempDir dir;
  const std::string temp = dir / "temp";
  const std::string kept = dir / "kept";
  for (int signal : kSignals) {
    SCOPED_TRACE(strsignal(signal));
    WriteFile(temp, "part of a package");
    WriteFile(kept, "a finished package");
    ProcessResult result = RunForked(ForkOptions::MarkReturn(), [&] {
      DefaultSignals();
      pid_t registered = StartSleeper();
      pid_t forgotten = StartSleeper();
      WriteFile(dir / "pids", std::to_string(registered) + " " + std::to_string(forgotten));
      RemoveOnSignal(temp.c_str());
      RemoveOnSignal(kept.c_str());
      ForgetRemoval(kept.c_str());
      KillOnSignal(registered);
      KillOnSignal(forgotten);
      ForgetChild(forgotten);
      InstallSignalCleanup();
      raise(signal);
    });
    EXPECT_FALSE(result.exited);
    EXPECT_EQ(signal, result.code);
    EXPECT_FALSE(Exists(temp));
    EXPECT_EQ("a finished package", ReadFile(kept));
    pid_t registered = 0, forgotten = 0;
    ASSERT_EQ(2, sscanf(ReadFile(dir / "pids").c_str(), "%d %d", &registered, &forgotten));
    EXPECT_TRUE(ProcessEnds(registered, 30));
    EXPECT_FALSE(ProcessEnds(forgotten, 0));
    kill(registered, SIGKILL);
    kill(forgotten, SIGKILL);
  }
}

TEST(SignalCleanup, ABlockHoldsTheSignalOffUntilItEnds) {
  TempDir dir;
  const std::string temp = dir / "temp";
  WriteFile(temp, "part of a package");
  ProcessResult result = RunForked(ForkOptions::MarkReturn(), [&] {
    DefaultSignals();
    InstallSignalCleanup();
    {
      CleanupSignalBlock block;
      raise(SIGTERM);
      // Still here: the file is registered only now.
      RemoveOnSignal(temp.c_str());
      WriteFile(dir / "inside", "reached");
    }
    WriteFile(dir / "after", "reached");
  });
  EXPECT_FALSE(result.exited);
  EXPECT_EQ(SIGTERM, result.code);
  EXPECT_TRUE(Exists(dir / "inside"));
  EXPECT_FALSE(Exists(dir / "after"));
  EXPECT_FALSE(Exists(temp));
}

TEST(SignalCleanup, AnIgnoredSignalStaysIgnored) {
  TempDir dir;
  const std::string temp = dir / "temp";
  WriteFile(temp, "part of a package");
  ProcessResult result = RunForked(ForkOptions::MarkReturn(), [&] {
    DefaultSignals();
    ::signal(SIGHUP, SIG_IGN);
    RemoveOnSignal(temp.c_str());
    InstallSignalCleanup();
    raise(SIGHUP);
    WriteFile(dir / "after", "reached");
    raise(SIGINT);
  });
  EXPECT_FALSE(result.exited);
  EXPECT_EQ(SIGINT, result.code);
  EXPECT_TRUE(Exists(dir / "after"));
  EXPECT_FALSE(Exists(temp));
}
