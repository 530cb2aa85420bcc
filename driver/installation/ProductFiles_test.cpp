#include "driver/installation/ProductFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "tests/Subprocess.h"

namespace {

// A small product: programs with their modes, a nested directory, a link.
void MakeProduct(const std::string& root) {
  mkdir(root.c_str(), 0700);
  mkdir((root + "/Bin").c_str(), 0755);
  mkdir((root + "/Lib").c_str(), 0750);
  mkdir((root + "/Lib/sub").c_str(), 0755);
  WriteFile(root + "/Bin/setup", "#!/bin/sh\n", 0755);
  WriteFile(root + "/Bin/loopcast", "tool", 0700);
  WriteFile(root + "/Lib/sub/lib.so", "library", 0644);
  WriteFile(root + "/License.txt", "terms", 0444);
  symlink("sub/lib.so", (root + "/Lib/lib.so").c_str());
}

time_t MtimeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

}  // namespace

TEST(ProductFiles, MovesEverythingIntoAnEmptyDirectory) {
  TempDir tmp;
  std::string from = tmp / "qzsetup", to = tmp / "inst";
  MakeProduct(from);
  WriteFile(from + "/_license.txt", "pager file");
  mkdir(to.c_str(), 0755);
  auto expected = TreeOf(from);
  expected.erase("_license.txt");

  ProductFiles files(from, to);
  files.Skip("_license.txt");
  std::string error;
  ASSERT_TRUE(files.Place(&error)) << error;

  EXPECT_EQ(expected, TreeOf(to));
  // Renamed, not copied: only the skipped file is left behind.
  EXPECT_EQ((std::map<std::string, std::string>{{"_license.txt", "420 pager file"}}), TreeOf(from));
  EXPECT_EQ(3, files.MovedCount());
  EXPECT_EQ(0, files.CopiedCount());
}

TEST(ProductFiles, MergesIntoAnEarlierInstallation) {
  TempDir tmp;
  std::string from = tmp / "qzsetup", to = tmp / "inst";
  MakeProduct(from);
  mkdir(to.c_str(), 0755);
  mkdir((to + "/Bin").c_str(), 0700);
  WriteFile(to + "/Bin/loopcast", "old tool", 0755);
  WriteFile(to + "/Bin/qmserver", "server of the earlier installation", 0755);
  symlink("elsewhere", (to + "/License.txt").c_str());
  WriteFile(to + "/Lib", "a file where the product has a directory");

  ProductFiles files(from, to);
  std::string error;
  ASSERT_TRUE(files.Place(&error)) << error;

  auto tree = TreeOf(to);
  EXPECT_EQ("448 tool", tree["Bin/loopcast"]);
  EXPECT_EQ("493 server of the earlier installation", tree["Bin/qmserver"]);
  // The merged directory takes the product's mode.
  EXPECT_EQ("493", tree["Bin/"]);
  EXPECT_EQ("292 terms", tree["License.txt"]);
  EXPECT_EQ("488", tree["Lib/"]);
  EXPECT_EQ("-> sub/lib.so", tree["Lib/lib.so"]);
}

TEST(ProductFiles, NeverThrowsAwayAFullDirectoryForAFile) {
  TempDir tmp;
  std::string from = tmp / "qzsetup", to = tmp / "inst";
  MakeProduct(from);
  mkdir(to.c_str(), 0755);
  mkdir((to + "/License.txt").c_str(), 0755);
  WriteFile(to + "/License.txt/notes", "the administrator's");

  ProductFiles files(from, to);
  std::string error;
  EXPECT_FALSE(files.Place(&error));
  EXPECT_EQ(to + "/License.txt: Is a directory", error);
  EXPECT_EQ("the administrator's", ReadFile(to + "/License.txt/notes"));

  // An empty directory makes room.
  remove((to + "/License.txt/notes").c_str());
  ASSERT_TRUE(files.Place(&error)) << error;
  EXPECT_EQ("terms", ReadFile(to + "/License.txt"));
}

TEST(ProductFiles, CheckFindsWhatPlaceWouldRefuseAndChangesNothing) {
  TempDir tmp;
  std::string from = tmp / "qzsetup", to = tmp / "inst";
  MakeProduct(from);
  mkdir(to.c_str(), 0755);
  // Deep in a directory that is merged into, behind a link to a directory.
  mkdir((tmp / "libs").c_str(), 0755);
  mkdir((tmp / "libs/sub").c_str(), 0755);
  mkdir((tmp / "libs/sub/lib.so").c_str(), 0755);
  WriteFile(tmp / "libs/sub/lib.so/notes", "the administrator's");
  symlink("../libs", (to + "/Lib").c_str());
  // Neither of these is in the way: an empty directory makes room, a file
  // is replaced.
  mkdir((to + "/License.txt").c_str(), 0755);
  mkdir((to + "/Bin").c_str(), 0755);
  WriteFile(to + "/Bin/setup", "earlier installer", 0755);
  auto source = TreeOf(from);
  auto target = TreeOf(tmp.path());

  ProductFiles files(from, to);
  std::string error;
  EXPECT_FALSE(files.Check(&error));
  EXPECT_EQ(to + "/Lib/sub/lib.so is a directory that is not empty, where the product has a file",
            error);
  EXPECT_EQ(source, TreeOf(from));
  EXPECT_EQ(target, TreeOf(tmp.path()));

  // Place refuses it too, once it gets there.
  EXPECT_FALSE(files.Place(&error));
  EXPECT_EQ(to + "/Lib/sub/lib.so: Is a directory", error);
}

TEST(ProductFiles, CheckPassesOverWhatWillBeMovedAside) {
  TempDir tmp;
  std::string from = tmp / "qzsetup", to = tmp / "inst";
  MakeProduct(from);
  mkdir(to.c_str(), 0755);
  mkdir((to + "/Bin").c_str(), 0755);
  mkdir((to + "/Bin/setup").c_str(), 0755);
  WriteFile(to + "/Bin/setup/notes", "in the way, unless Bin goes");

  ProductFiles files(from, to);
  std::string error;
  EXPECT_FALSE(files.Check(&error));
  EXPECT_EQ(to + "/Bin/setup is a directory that is not empty, where the product has a file",
            error);
  files.Vacate("Bin");
  error.clear();
  EXPECT_TRUE(files.Check(&error)) << error;
  // A skipped entry is not looked at either.
  WriteFile(from + "/_license.txt", "pager file");
  mkdir((to + "/_license.txt").c_str(), 0755);
  WriteFile(to + "/_license.txt/x", "x");
  files.Skip("_license.txt");
  EXPECT_TRUE(files.Check(&error)) << error;

  ProductFiles missing(tmp / "absent", to);
  EXPECT_FALSE(missing.Check(&error));
  EXPECT_EQ(tmp / "absent: No such file or directory", error);
}

// An administrator who moved a directory elsewhere and linked it keeps it
// there: the product's files go into it.
TEST(ProductFiles, MergesThroughALinkToADirectory) {
  for (bool copy : {false, true}) {
    SCOPED_TRACE(copy ? "copied" : "moved");
    TempDir tmp;
    std::string from = tmp / "qzsetup", to = tmp / "inst";
    MakeProduct(from);
    mkdir(to.c_str(), 0755);
    mkdir((tmp / "big-disk").c_str(), 0755);
    mkdir((tmp / "big-disk/lib").c_str(), 0700);
    WriteFile(tmp / "big-disk/lib/own.so", "the administrator's", 0644);
    symlink("../big-disk/lib", (to + "/Lib").c_str());
    // A link to nothing, and one to a file, where the product has a
    // directory, are replaced.
    symlink("nowhere", (to + "/Bin").c_str());

    ProductFiles files(from, to);
    files.SetCopyAlways(copy);
    std::string error;
    ASSERT_TRUE(files.Check(&error)) << error;
    ASSERT_TRUE(files.Place(&error)) << error;

    auto tree = TreeOf(to);
    EXPECT_EQ("-> ../big-disk/lib", tree["Lib"]);
    EXPECT_EQ("493", tree["Bin/"]);
    EXPECT_EQ("493 #!/bin/sh\n", tree["Bin/setup"]);
    auto moved = TreeOf(tmp / "big-disk/lib");
    EXPECT_EQ("420 the administrator's", moved["own.so"]);
    EXPECT_EQ("420 library", moved["sub/lib.so"]);
    EXPECT_EQ("-> sub/lib.so", moved["lib.so"]);
    // The directory keeps the mode its owner gave it.
    EXPECT_EQ(0700, ModeOf(tmp / "big-disk/lib"));
  }
  {
    TempDir tmp;
    std::string from = tmp / "qzsetup", to = tmp / "inst";
    MakeProduct(from);
    mkdir(to.c_str(), 0755);
    WriteFile(tmp / "file", "a file");
    symlink("../file", (to + "/Lib").c_str());
    ProductFiles files(from, to);
    std::string error;
    ASSERT_TRUE(files.Place(&error)) << error;
    EXPECT_EQ("488", TreeOf(to)["Lib/"]);
    EXPECT_EQ("a file", ReadFile(tmp / "file"));
  }
}

TEST(ProductFiles, CopiesWithModesTimesAndLinks) {
  TempDir tmp;
  std::string from = tmp / "qzsetup", to = tmp / "inst";
  MakeProduct(from);
  struct timespec old[2] = {{946684800, 0}, {946684800, 0}};
  utimensat(AT_FDCWD, (from + "/Bin/loopcast").c_str(), old, 0);
  mkdir(to.c_str(), 0755);
  mkdir((to + "/Bin").c_str(), 0755);
  WriteFile(to + "/Bin/loopcast", "old tool", 0755);
  auto expected = TreeOf(from);

  ProductFiles files(from, to);
  files.SetCopyAlways(true);
  std::string error;
  ASSERT_TRUE(files.Place(&error)) << error;

  EXPECT_EQ(expected, TreeOf(to));
  EXPECT_EQ(expected, TreeOf(from));
  EXPECT_EQ(946684800, MtimeOf(to + "/Bin/loopcast"));
  EXPECT_EQ(0, files.MovedCount());
  // Lib/, Lib/sub/ and five files and links; the existing Bin/ was merged.
  EXPECT_EQ(7, files.CopiedCount());
}

TEST(ProductFiles, CopiesBetweenFileSystems) {
  // /dev/shm is a memory file system on Linux; the test directory normally
  // lies elsewhere.
  char pattern[] = "/dev/shm/strata-product-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    GTEST_SKIP() << "no /dev/shm";
  std::string shm = pattern;
  TempDir tmp;
  struct stat a, b;
  stat(shm.c_str(), &a);
  stat(tmp.path().c_str(), &b);
  if (a.st_dev == b.st_dev) {
    system(("rm -rf " + shm).c_str());
    GTEST_SKIP() << "/dev/shm and " << tmp.path() << " share a file system";
  }
  std::string from = shm + "/qzsetup", to = tmp / "inst";
  MakeProduct(from);
  mkdir(to.c_str(), 0755);
  auto expected = TreeOf(from);

  ProductFiles files(from, to);
  std::string error;
  bool placed = files.Place(&error);
  auto installed = TreeOf(to);
  system(("rm -rf " + shm).c_str());

  ASSERT_TRUE(placed) << error;
  EXPECT_EQ(expected, installed);
  EXPECT_EQ(0, files.MovedCount());
}

TEST(ProductFiles, MissingSourceIsAnError) {
  TempDir tmp;
  ProductFiles files(tmp / "absent", tmp.path());
  std::string error;
  EXPECT_FALSE(files.Place(&error));
  EXPECT_EQ(tmp / "absent: No such file or directory", error);
}
