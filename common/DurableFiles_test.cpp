#include "common/DurableFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include "tests/TestFiles.h"

// Files and directories at every depth are synced; links and a fifo are
// passed over (a fifo would hold an open for reading until a writer came),
// and nothing in the tree changes.
TEST(SyncTree, PassesOverLinksAndFifosAndChangesNothing) {
  TempDir tmp;
  WriteFile(MakeDirs(tmp / "tree/a/b") + "/file", "content", 0600);
  WriteFile(tmp / "tree/top", "top", 0);
  ASSERT_EQ(0, mkfifo((tmp / "tree/a/fifo").c_str(), 0600));
  ASSERT_EQ(0, symlink("nowhere", (tmp / "tree/a/dangling").c_str()));
  ASSERT_EQ(0, symlink("b", (tmp / "tree/a/linked").c_str()));
  ASSERT_EQ(0, chmod((tmp / "tree/a/b").c_str(), 0500));
  // Names only: reading the fifo would wait for a writer.
  const std::set<std::string> names = ListTree(tmp / "tree");
  const std::map<std::string, std::string> files = TreeOf(tmp / "tree/a/b");

  std::string error;
  EXPECT_TRUE(SyncTree(tmp / "tree", &error)) << error;
  EXPECT_TRUE(SyncTree(tmp / "tree/top", &error)) << error;
  EXPECT_EQ(names, ListTree(tmp / "tree"));
  EXPECT_EQ(files, TreeOf(tmp / "tree/a/b"));

  EXPECT_FALSE(SyncTree(tmp / "missing", &error));
  EXPECT_EQ(tmp / "missing: No such file or directory", error);
  chmod((tmp / "tree/a/b").c_str(), 0755);
}
