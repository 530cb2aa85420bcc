#include "common/RemoveTree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include "tests/TestFiles.h"

// A link to a directory, as the path itself or anywhere inside the tree, is
// removed as a link: what it leads to stays as it was, modes included.
TEST(RemoveTree, ALinkToADirectoryIsRemovedNotFollowed) {
  TempDir tmp;
  MakeDirs(tmp / "elsewhere/inner");
  WriteFile(tmp / "elsewhere/keep", "not ours", 0600);
  chmod((tmp / "elsewhere/inner").c_str(), 0500);
  const std::map<std::string, std::string> elsewhere = TreeOf(tmp / "elsewhere");

  MakeDirs(tmp / "tree/sub");
  WriteFile(tmp / "tree/sub/file", "ours");
  ASSERT_EQ(0, symlink("../../elsewhere", (tmp / "tree/sub/link").c_str()));
  ASSERT_EQ(0, symlink("elsewhere", (tmp / "link").c_str()));

  std::string error;
  EXPECT_TRUE(RemoveTree(tmp / "link", &error)) << error;
  EXPECT_FALSE(Exists(tmp / "link"));
  EXPECT_TRUE(RemoveTree(tmp / "tree", &error)) << error;
  EXPECT_FALSE(Exists(tmp / "tree"));
  EXPECT_EQ(elsewhere, TreeOf(tmp / "elsewhere"));
  chmod((tmp / "elsewhere/inner").c_str(), 0755);
}

// Deep down, directories their owner may not read, write or enter, a fifo
// and a dangling link: everything goes.
TEST(RemoveTree, EveryKindAndModeGoes) {
  TempDir tmp;
  MakeDirs(tmp / "tree/a/b/c");
  WriteFile(tmp / "tree/a/b/c/file", "deep");
  WriteFile(tmp / "tree/a/top", "top", 0);
  ASSERT_EQ(0, mkfifo((tmp / "tree/a/b/fifo").c_str(), 0600));
  ASSERT_EQ(0, symlink("nowhere", (tmp / "tree/a/b/dangling").c_str()));
  ASSERT_EQ(0, chmod((tmp / "tree/a/b/c").c_str(), 0));
  ASSERT_EQ(0, chmod((tmp / "tree/a/b").c_str(), 0500));
  ASSERT_EQ(0, chmod((tmp / "tree/a").c_str(), 0300));

  std::string error;
  EXPECT_TRUE(RemoveTree(tmp / "tree", &error)) << error;
  EXPECT_FALSE(Exists(tmp / "tree"));
  EXPECT_TRUE(RemoveTree(tmp / "tree", &error)) << "nothing has the name: " << error;
}

// What cannot go is named, and what the walk reached before it is gone.
TEST(RemoveTree, TheEntryThatStaysIsNamed) {
  TempDir tmp;
  WriteFile(MakeDirs(tmp / "tree/a") + "/gone", "gone");
  WriteFile(MakeDirs(tmp / "tree/b") + "/stuck", "stays");
  std::string error;
  {
    Immutable stuck(tmp / "tree/b/stuck");
    if (!stuck.ok())
      GTEST_SKIP() << "files cannot be made immutable here: " << stuck.why();
    EXPECT_FALSE(RemoveTree(tmp / "tree", &error));
  }
  EXPECT_EQ(tmp / "tree/b/stuck: Operation not permitted", error);
  EXPECT_EQ((std::set<std::string>{"b/", "b/stuck"}), ListTree(tmp / "tree"));
}
