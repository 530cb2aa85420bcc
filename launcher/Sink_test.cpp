#include "launcher/Sink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/Subprocess.h"

namespace {

bool PipeSignalIsDefault() {
  struct sigaction action;
  sigaction(SIGPIPE, nullptr, &action);
  return action.sa_handler == SIG_DFL;
}

}  // namespace

TEST(Sink, FileIsCreatedExclusivelyAndNeverThroughALink) {
  TempDir dir;
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenFile((dir / "a").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    EXPECT_TRUE(sink.Write("hello", 5));
    EXPECT_TRUE(sink.Close());
    EXPECT_EQ("hello", ReadFile(dir / "a"));
  }
  {
    Sink sink;
    EXPECT_FALSE(sink.OpenFile((dir / "a").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    EXPECT_EQ("cannot create " + (dir / "a") + ": File exists", sink.Failure());
    EXPECT_EQ("hello", ReadFile(dir / "a"));
  }
  {
    ASSERT_EQ(0, symlink((dir / "target").c_str(), (dir / "link").c_str()));
    Sink sink;
    EXPECT_FALSE(
        sink.OpenFile((dir / "link").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    EXPECT_FALSE(Exists(dir / "target"));
  }
}

TEST(Sink, CommandReceivesTheDataAndItsStatusCounts) {
  TempDir dir;
  ASSERT_TRUE(PipeSignalIsDefault());
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand(("cat > '" + (dir / "out") + "'").c_str(), "the command"));
    EXPECT_FALSE(PipeSignalIsDefault());
    EXPECT_TRUE(sink.Write("data", 4));
    EXPECT_TRUE(sink.Close());
    EXPECT_TRUE(PipeSignalIsDefault());
    EXPECT_EQ("data", ReadFile(dir / "out"));
  }
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand("cat >/dev/null; exit 3", "the command"));
    EXPECT_TRUE(sink.Write("data", 4));
    EXPECT_FALSE(sink.Close());
    EXPECT_EQ("the command exited with status 3", sink.Failure());
  }
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand("kill -9 $$", "the command"));
    EXPECT_FALSE(sink.Close());
    EXPECT_EQ("the command was killed by signal 9", sink.Failure());
  }
}

TEST(Sink, CommandThatStopsReadingFailsTheWrite) {
  // Were SIGPIPE not ignored, this test would die here.
  Sink sink;
  ASSERT_TRUE(sink.OpenCommand("exit 0", "the command"));
  std::string block(1 << 20, 'x');
  bool written = true;
  for (int i = 0; i < 64 && written; ++i)
    written = sink.Write(block.data(), block.size());
  EXPECT_FALSE(written);
  EXPECT_EQ("write to the command: Broken pipe", sink.Failure());
  sink.Close();
  EXPECT_TRUE(PipeSignalIsDefault());
}

TEST(Sink, ModeGoesOnTheOpenFileWhateverItsNameNowLeadsTo) {
  TempDir dir;
  const mode_t savedMask = umask(077);
  Sink sink;
  ASSERT_TRUE(sink.OpenFile((dir / "tool").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0755));
  umask(savedMask);
  EXPECT_EQ(0700, ModeOf(dir / "tool"));
  // Someone moves the new file away and puts a link to a file of theirs in
  // its place.
  WriteFile(dir / "victim", "private", 0600);
  ASSERT_EQ(0, rename((dir / "tool").c_str(), (dir / "moved").c_str()));
  ASSERT_EQ(0, symlink((dir / "victim").c_str(), (dir / "tool").c_str()));
  EXPECT_TRUE(sink.SetMode(0755));
  EXPECT_TRUE(sink.Close());
  EXPECT_EQ(0755, ModeOf(dir / "moved"));
  EXPECT_EQ(0600, ModeOf(dir / "victim"));
}

TEST(Sink, ModeNeedsAnOpenFile) {
  {
    Sink sink;
    EXPECT_FALSE(sink.SetMode(0755));
    EXPECT_EQ("set the mode: not an open file", sink.Failure());
  }
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand("cat >/dev/null", "the command"));
    EXPECT_FALSE(sink.SetMode(0755));
    EXPECT_EQ("set the mode: not an open file", sink.Failure());
    EXPECT_TRUE(sink.Close());
  }
}
