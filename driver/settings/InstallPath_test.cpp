#include "driver/settings/InstallPath.h"
#include "common/Path.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/Subprocess.h"

namespace {

// What check says is wrong with path: "" when it passes, and then it must
// say nothing.
std::string Refusal(bool (*check)(const std::string&, std::string*), const std::string& path) {
  std::string error;
  bool passed = check(path, &error);
  EXPECT_EQ(passed, error.empty()) << error;
  return error;
}

std::string InstallDirRefusal(const std::string& path) {
  return Refusal(CheckInstallDir, path);
}

std::string InstallDirNameRefusal(const std::string& path) {
  return Refusal(CheckInstallDirName, path);
}

}  // namespace

TEST(ResolvePath, RelativeNamesAreTakenFromTheBase) {
  EXPECT_EQ("/home/ann/media", ResolvePath("media", "/home/ann"));
  EXPECT_EQ("/home/ann/a/b", ResolvePath("./a//b/", "/home/ann"));
  // ".." is kept: a link before it may lead anywhere.
  EXPECT_EQ("/home/ann/a/../b", ResolvePath("a/../b", "/home/ann"));
  EXPECT_EQ("/x", ResolvePath("x", "/"));
}

TEST(ResolvePath, EmptyAndDotNameTheBase) {
  EXPECT_EQ("/home/ann", ResolvePath("", "/home/ann"));
  EXPECT_EQ("/home/ann", ResolvePath(".", "/home/ann/"));
  EXPECT_EQ("/", ResolvePath("", "/"));
}

TEST(ResolvePath, AbsoluteNamesAreOnlyTidied) {
  EXPECT_EQ("/opt/media", ResolvePath("/opt//media/", "/home/ann"));
  EXPECT_EQ("/", ResolvePath("/", "/home/ann"));
  EXPECT_EQ("/opt/with blank", ResolvePath("/opt/./with blank", "/home/ann"));
}

TEST(ExpandHome, OnlyALeadingTildeOfTheUserHimself) {
  const char* saved = getenv("HOME");
  std::string savedHome = saved != nullptr ? saved : "";
  setenv("HOME", "/home/ann", 1);
  EXPECT_EQ("/home/ann", ExpandHome("~"));
  EXPECT_EQ("/home/ann/media", ExpandHome("~/media"));
  EXPECT_EQ("~bob/media", ExpandHome("~bob/media"));
  EXPECT_EQ("media/~", ExpandHome("media/~"));
  unsetenv("HOME");
  EXPECT_EQ("~/media", ExpandHome("~/media"));
  if (saved != nullptr)
    setenv("HOME", savedHome.c_str(), 1);
}

TEST(PathParts, ParentAndBaseName) {
  EXPECT_EQ("/home/ann", DirectoryOf("/home/ann/qzsetup"));
  EXPECT_EQ("/", DirectoryOf("/qzsetup"));
  EXPECT_EQ(".", DirectoryOf("qzsetup"));
  EXPECT_EQ("qzsetup", BaseNameOf("/home/ann/qzsetup"));
  EXPECT_EQ("qzsetup", BaseNameOf("qzsetup"));
}

TEST(IsSameOrInside, ComparesResolvedPaths) {
  TempDir tmp;
  std::string extract = tmp / "qzsetup";
  ASSERT_EQ(0, mkdir(extract.c_str(), 0700));
  ASSERT_EQ(0, symlink(extract.c_str(), (tmp / "link").c_str()));

  EXPECT_TRUE(IsSameOrInside(extract, extract));
  EXPECT_TRUE(IsSameOrInside(extract + "/Bin", extract));
  EXPECT_TRUE(IsSameOrInside(tmp / "link", extract));
  EXPECT_TRUE(IsSameOrInside(tmp / "link/new/deeper", extract));
  EXPECT_TRUE(IsSameOrInside(tmp / "other/../qzsetup", extract));

  EXPECT_FALSE(IsSameOrInside(tmp.path(), extract));
  EXPECT_FALSE(IsSameOrInside(tmp / "qzsetup2", extract));
  EXPECT_FALSE(IsSameOrInside(extract + "/new/../..", extract));
}

TEST(CheckInstallDir, DirectoriesAndCreatablePathsPass) {
  TempDir tmp;
  EXPECT_EQ("", InstallDirRefusal(tmp.path()));
  EXPECT_EQ("", InstallDirRefusal(tmp / "new/deeper"));

  WriteFile(tmp / "file", "x");
  EXPECT_EQ("it exists and is not a directory", InstallDirRefusal(tmp / "file"));
  EXPECT_EQ(tmp / "file" + " is not a directory", InstallDirRefusal(tmp / "file/sub/dir"));
}

TEST(CheckInstallDirName, OnlyNamesTheScriptAndTheConfigurationCanCarry) {
  EXPECT_EQ("", InstallDirNameRefusal("/srv/Media-9.08/a_b+c,d:e@f%g=h"));
  const std::string rule = "; only letters, digits and \"/._+,:@%=-\" may be used";
  EXPECT_EQ("its name contains a blank" + rule, InstallDirNameRefusal("/srv/my media"));
  EXPECT_EQ("its name contains a control character" + rule, InstallDirNameRefusal("/srv/a\tb"));
  EXPECT_EQ("its name contains a control character" + rule, InstallDirNameRefusal("/srv/a\nb"));
  EXPECT_EQ("its name contains a character outside ASCII" + rule,
            InstallDirNameRefusal("/srv/m\xc3\xa9"
                                  "dia"));
  EXPECT_EQ("its name contains a double quote" + rule, InstallDirNameRefusal("/srv/a\"b"));
  // What the shell or the configuration file would read as syntax.
  for (char c : std::string("'$`\\;&|<>()*?[]{}~!#")) {
    std::string dir = std::string("/srv/a") + c;
    EXPECT_EQ(std::string("its name contains \"") + c + "\"" + rule, InstallDirNameRefusal(dir))
        << dir;
  }
}

TEST(CheckInstallDir, NameIsCheckedBeforeTheFileSystem) {
  TempDir tmp;
  std::string existing = MakeDirs(tmp / "a b");
  EXPECT_EQ(InstallDirNameRefusal(existing), InstallDirRefusal(existing));
  EXPECT_NE("", InstallDirRefusal(existing));
}

TEST(MakeDirectories, CreatesEveryMissingParent) {
  TempDir tmp;
  std::string error;
  ASSERT_TRUE(MakeDirectories(tmp / "a/b/c", &error)) << error;
  struct stat st;
  ASSERT_EQ(0, stat((tmp / "a/b/c").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // Existing directories are no failure.
  EXPECT_TRUE(MakeDirectories(tmp / "a/b", &error)) << error;

  WriteFile(tmp / "a/file", "x");
  EXPECT_FALSE(MakeDirectories(tmp / "a/file/d", &error));
  EXPECT_EQ(tmp / "a/file: Not a directory", error);
}
