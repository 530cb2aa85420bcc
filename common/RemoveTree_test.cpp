#include "common/RemoveTree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
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
