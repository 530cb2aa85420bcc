#include "launcher/Sink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/Subprocess.h"

namespace {

// Bytes that show any loss, repetition or reordering.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

// The size of a file, 0 while it does not exist.
size_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

bool PipeSignalIsDefault() {
  struct sigaction action;
  sigaction(SIGPIPE, nullptr, &action);
  return action.sa_handler == SIG_DFL;
}

}  // namespace

TEST(Sink, FileIsCreatedExclusivelyAndNeverThroughALink) {
  std::string error;
  TempDir dir;
  {
    Sink sink;
    ASSERT_TRUE(
        sink.OpenFile((dir / "a").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, &error));
    EXPECT_TRUE(sink.Write("hello", 5, &error));
    EXPECT_TRUE(sink.Close(&error));
    EXPECT_EQ("hello", ReadFile(dir / "a"));
  }
  {
    Sink sink;
    EXPECT_FALSE(sink.OpenFile((dir / "a").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &error));
    EXPECT_EQ("cannot create " + (dir / "a") + ": File exists", error);
    EXPECT_EQ("hello", ReadFile(dir / "a"));
  }
  {
    ASSERT_EQ(0, symlink((dir / "target").c_str(), (dir / "link").c_str()));
    Sink sink;
    EXPECT_FALSE(sink.OpenFile((dir / "link").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                               0600, &error));
    EXPECT_FALSE(Exists(dir / "target"));
  }
}

TEST(Sink, CommandReceivesTheDataAndItsStatusCounts) {
  std::string error;
  TempDir dir;
  ASSERT_TRUE(PipeSignalIsDefault());
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand(("cat > '" + (dir / "out") + "'").c_str(), "the command", &error));
    EXPECT_FALSE(PipeSignalIsDefault());
    EXPECT_TRUE(sink.Write("data", 4, &error));
    EXPECT_TRUE(sink.Close(&error));
    EXPECT_TRUE(PipeSignalIsDefault());
    EXPECT_EQ("data", ReadFile(dir / "out"));
  }
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand("cat >/dev/null; exit 3", "the command", &error));
    EXPECT_TRUE(sink.Write("data", 4, &error));
    EXPECT_FALSE(sink.Close(&error));
    EXPECT_EQ("the command exited with status 3", error);
  }
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand("kill -9 $$", "the command", &error));
    EXPECT_FALSE(sink.Close(&error));
    EXPECT_EQ("the command was killed by signal 9 (Killed)", error);
  }
}

TEST(Sink, CommandThatStopsReadingFailsTheWrite) {
  std::string error;
  // Were SIGPIPE not ignored, this test would die here.
  Sink sink;
  ASSERT_TRUE(sink.OpenCommand("exit 0", "the command", &error));
  std::string block(1 << 20, 'x');
  bool written = true;
  for (int i = 0; i < 64 && written; ++i)
    written = sink.Write(block.data(), block.size(), &error);
  EXPECT_FALSE(written);
  EXPECT_EQ("write to the command: Broken pipe", error);
  sink.Close(&error);
  EXPECT_TRUE(PipeSignalIsDefault());
}

TEST(Sink, CommandThatStopsReadingAndFailsIsReportedByItsStatus) {
  std::string error;
  // The command's own failure is the news; the broken pipe only follows
  // from it.
  const std::string data = Pattern(8 << 20);
  const std::pair<const char*, const char*> cases[] = {
      {"head -c 100000 >/dev/null; exit 4", "the command exited with status 4"},
      {"head -c 100000 >/dev/null; kill -9 $$", "the command was killed by signal 9 (Killed)"},
      {"head -c 100000 >/dev/null", "write to the command: Broken pipe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand(c.first, "the command", &error));
    EXPECT_FALSE(sink.PipeBroken());
    EXPECT_FALSE(sink.Write(data.data(), data.size(), &error));
    EXPECT_TRUE(sink.PipeBroken());
    EXPECT_EQ("write to the command: Broken pipe", error);
    // Not all of the data arrived, even where the command succeeded.
    EXPECT_FALSE(sink.Close(&error));
    EXPECT_EQ(c.second, error);
    EXPECT_TRUE(PipeSignalIsDefault());
  }
  {
    // A failed write to a file is no broken pipe.
    Sink sink;
    ASSERT_TRUE(sink.OpenFile("/dev/full", O_WRONLY, 0600, &error));
    EXPECT_FALSE(sink.Write("x", 1, &error));
    EXPECT_FALSE(sink.PipeBroken());
    EXPECT_EQ("write to /dev/full: No space left on device", error);
  }
}

TEST(Sink, PipeGrowsButNeverShrinks) {
  std::string error;
  Sink sink;
  ASSERT_TRUE(sink.OpenCommand("cat >/dev/null", "the command", &error));
  const size_t start = sink.PipeCapacity();
  EXPECT_GE(start, 4096u);
  sink.GrowPipe(Sink::kLargestPipe);
  const size_t grown = sink.PipeCapacity();
  EXPECT_GE(grown, start);
  EXPECT_LE(grown, Sink::kLargestPipe);
  sink.GrowPipe(4096);
  EXPECT_EQ(grown, sink.PipeCapacity());
  EXPECT_TRUE(sink.Close(&error));

  TempDir dir;
  Sink file;
  ASSERT_TRUE(file.OpenFile((dir / "f").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600, &error));
  file.GrowPipe(Sink::kLargestPipe);
  EXPECT_EQ(0u, file.PipeCapacity());
}

TEST(Sink, PacedWritesDeliverEveryByteInOrder) {
  std::string error;
  // A reader that takes the data in small pieces, in pipes of either size,
  // and writes of every size from one byte to more than the pipe holds.
  TempDir dir;
  const std::string data = Pattern(3 << 20);
  for (bool grow : {false, true}) {
    Sink sink;
    const std::string out = dir / (grow ? "grown" : "plain");
    ASSERT_TRUE(sink.OpenCommand(("dd bs=512 status=none of='" + out + "'").c_str(), "dd", &error));
    if (grow)
      sink.GrowPipe(Sink::kLargestPipe);
    size_t at = 0;
    for (size_t size = 1; at < data.size(); size = size * 3 + 1) {
      size_t length = std::min(size, data.size() - at);
      ASSERT_TRUE(sink.Write(data.data() + at, length, &error)) << error;
      at += length;
    }
    EXPECT_TRUE(sink.Close(&error)) << error;
    EXPECT_TRUE(ReadFile(out) == data) << (grow ? "grown" : "plain");
  }
}

TEST(Sink, WriterPausesInsteadOfBlockingAndFollowsTheReadersPace) {
  std::string error;
  // The reader takes nothing until the test lets it go, so the pipe stays
  // as full as pacing fills it: every look finds it so and doubles the
  // pause, up to the bound. A writer that blocked in write() would never
  // pause, and the reader would go only after its own time limit.
  TempDir dir;
  const std::string fifo = dir / "go";
  const std::string out = dir / "out";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  Sink sink;
  ASSERT_TRUE(sink.OpenCommand(
      ("timeout 20 sh -c \"read go <'" + fifo + "'\"; exec cat >'" + out + "'").c_str(),
      "the reader", &error));
  sink.GrowPipe(Sink::kLargestPipe);
  // Pacing keeps three pages of the pipe free.
  const size_t held = sink.PipeCapacity() - 3 * static_cast<size_t>(sysconf(_SC_PAGESIZE));
  EXPECT_EQ(Sink::kFirstPauseNs, sink.PauseNs());

  std::vector<long> pauses;
  size_t releasedAt = 0;
  sink.SetPauseObserver([&](long pause) {
    pauses.push_back(pause);
    if (releasedAt != 0 ||
        (std::count(pauses.begin(), pauses.end(), Sink::kMaxPauseNs) < 2 && pauses.size() < 40))
      return;
    releasedAt = pauses.size();
    // The reader goes and drains the pipe before this pause is over, so
    // that the next look finds it empty.
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(3, write(fd, "go\n", 3));
    close(fd);
    for (int i = 0; i < 60000 && SizeOf(out) < held; ++i)
      usleep(1000);
    ASSERT_EQ(held, SizeOf(out));
  });
  // What the pipe holds, and a little more that fits once it is empty.
  const std::string data = Pattern(held + 1000);
  ASSERT_TRUE(sink.Write(data.data(), data.size(), &error)) << error;

  ASSERT_GE(pauses.size(), 2u);
  EXPECT_EQ(Sink::kFirstPauseNs, pauses[0]);
  for (size_t i = 1; i < pauses.size(); ++i)
    EXPECT_EQ(std::min(2 * pauses[i - 1], Sink::kMaxPauseNs), pauses[i]) << i;
  // Once let go, the reader took everything during one pause: the next look
  // halved the pause, and the rest went in without another.
  EXPECT_EQ(pauses.size(), releasedAt);
  EXPECT_EQ(Sink::kMaxPauseNs / 2, sink.PauseNs());
  EXPECT_TRUE(sink.Close(&error)) << error;
  EXPECT_TRUE(ReadFile(out) == data);
}

TEST(Sink, CommandThatStopsReadingMidwayFailsTheWrite) {
  std::string error;
  // The reader goes while the pipe is full and the writer waits for room.
  Sink sink;
  ASSERT_TRUE(sink.OpenCommand("head -c 100000 >/dev/null", "the command", &error));
  sink.GrowPipe(Sink::kLargestPipe);
  const std::string data = Pattern(8 << 20);
  EXPECT_FALSE(sink.Write(data.data(), data.size(), &error));
  EXPECT_EQ("write to the command: Broken pipe", error);
  sink.Close(&error);
  EXPECT_TRUE(PipeSignalIsDefault());
}

TEST(Sink, ModeGoesOnTheOpenFileWhateverItsNameNowLeadsTo) {
  std::string error;
  TempDir dir;
  const mode_t savedMask = umask(077);
  Sink sink;
  ASSERT_TRUE(sink.OpenFile((dir / "tool").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0755, &error));
  umask(savedMask);
  EXPECT_EQ(0700, ModeOf(dir / "tool"));
  // Someone moves the new file away and puts a link to a file of theirs in
  // its place.
  WriteFile(dir / "victim", "private", 0600);
  ASSERT_EQ(0, rename((dir / "tool").c_str(), (dir / "moved").c_str()));
  ASSERT_EQ(0, symlink((dir / "victim").c_str(), (dir / "tool").c_str()));
  EXPECT_TRUE(sink.SetMode(0755, &error));
  EXPECT_TRUE(sink.Close(&error));
  EXPECT_EQ(0755, ModeOf(dir / "moved"));
  EXPECT_EQ(0600, ModeOf(dir / "victim"));
}

TEST(Sink, ModeNeedsAnOpenFile) {
  std::string error;
  {
    Sink sink;
    EXPECT_FALSE(sink.SetMode(0755, &error));
    EXPECT_EQ("set the mode: not an open file", error);
  }
  {
    Sink sink;
    ASSERT_TRUE(sink.OpenCommand("cat >/dev/null", "the command", &error));
    EXPECT_FALSE(sink.SetMode(0755, &error));
    EXPECT_EQ("set the mode: not an open file", error);
    EXPECT_TRUE(sink.Close(&error));
  }
}
