#include "driver/installation/FreeSpace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "common/FreeBytes.h"
#include "tests/Ext4Image.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

TEST(FreeSpace, TreeSizeCountsWholeBlocksAndNeverFollowsALink) {
  TempDir tmp;
  std::string tree = MakeDirs(tmp / "tree/sub");
  WriteFile(tmp / "tree/one", "x");
  WriteFile(tmp / "tree/sub/two", std::string(4097, 'y'));
  WriteFile(tmp / "big", std::string(1 << 20, 'z'));
  ASSERT_EQ(0, symlink("../big", (tmp / "tree/link").c_str()));
  uint64_t bytes = 0;
  std::string error;
  ASSERT_TRUE(TreeSize(tmp / "tree", 4096, &bytes, &error)) << error;
  // Two directories and a link, one block each; a block and two blocks of
  // file content.
  EXPECT_EQ(uint64_t{3 * 4096 + 4096 + 2 * 4096}, bytes);

  EXPECT_FALSE(TreeSize(tmp / "missing", 4096, &bytes, &error));
  EXPECT_EQ(tmp / "missing: No such file or directory", error);
}

TEST(FreeSpace, RoomOfAPathYetToBeMadeIsThatOfItsNearestAncestor) {
  TempDir tmp;
  FileSystemRoom room;
  std::string error;
  ASSERT_TRUE(RoomAt(tmp / "not/yet/made", &room, &error)) << error;
  EXPECT_EQ(tmp.path(), room.measuredAt);
  struct stat st;
  ASSERT_EQ(0, stat(tmp.path().c_str(), &st));
  EXPECT_EQ(st.st_dev, room.device);
  EXPECT_GT(room.blockSize, 0u);
  // Through a file on the way the path cannot be made: still measured where
  // it would have to be.
  WriteFile(tmp / "file", "");
  ASSERT_TRUE(RoomAt(tmp / "file/below", &room, &error)) << error;
  EXPECT_EQ(tmp / "file", room.measuredAt);
}

// Root may write into the blocks ext4 keeps for it, anyone else may not:
// a small image with a tenth of its blocks reserved (tmpfs keeps none, so
// only a real ext4 tells the two apart).
TEST(FreeSpace, RootIsOfferedTheReservedBlocksAndNobodyElseIs) {
  TempDir tmp;
  Ext4Image disk(tmp / "disk.img", tmp / "disk", 32, "-m 10");
  if (!disk.ok())
    GTEST_SKIP() << "no ext4 loop image here: " << disk.why();
  struct statvfs fs;
  ASSERT_EQ(0, statvfs(disk.path().c_str(), &fs));
  uint64_t unit = fs.f_frsize;
  uint64_t reserved = (fs.f_bfree - fs.f_bavail) * unit;
  // About a tenth of 32 MiB.
  ASSERT_GT(reserved, uint64_t{2} << 20);
  FileSystemRoom room;
  std::string error;
  ASSERT_TRUE(RoomAt(disk.path() + "/server", &room, &error)) << error;
  EXPECT_EQ(fs.f_bfree * unit, room.available);
  EXPECT_EQ(fs.f_bavail * unit, FreeBytes(fs, false));

  chmod(tmp.path().c_str(), 0755);
  ProcessResult asNobody = RunForked([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0)
      _exit(2);
    FileSystemRoom seen;
    std::string why;
    if (!RoomAt(disk.path() + "/server", &seen, &why))
      _exit(3);
    _exit(seen.available == fs.f_bavail * unit ? 0 : 1);
  });
  EXPECT_TRUE(asNobody.exited);
  EXPECT_EQ(0, asNobody.code);
}
