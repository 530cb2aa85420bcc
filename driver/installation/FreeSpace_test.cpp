#include "driver/installation/FreeSpace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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
