#include "driver/installation/BackupGeneration.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/installation/StagedInstallation.h"
#include "installer/ServerInstaller.h"
#include "tests/Subprocess.h"

namespace {

// An installation directory with an earlier installation and older backups.
class BackupGenerationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_ / "inst";
    mkdir(dir_.c_str(), 0755);
    MakeDirs(dir_ + "/Bin/sub");
    WriteFile(dir_ + "/Bin/qmserver", "current server", 0755);
    MakeDirs(dir_ + "/Lib");
    WriteFile(dir_ + "/qmserver.cfg", "current configuration");
    MakeDirs(dir_ + "/Bin.old/deep/deeper");
    WriteFile(dir_ + "/Bin.old/deep/deeper/qmserver", "older server");
    // Read-only, as a product may ship a directory.
    chmod((dir_ + "/Bin.old/deep").c_str(), 0555);
    WriteFile(dir_ + "/qmserver.cfg.old", "older configuration");
    // No Plugins now: its older backup stays.
    MakeDirs(dir_ + "/Plugins.old");
    WriteFile(dir_ + "/Plugins.old/plugin", "older plug-in");
  }

  // Puts a new installation of Bin and qmserver.cfg in place of the earlier
  // one, with backups, through installer's BackupIfPresent: true, or false
  // with *error and the staging directory gone.
  bool SwitchTo(ServerInstaller& installer, std::string* error) {
    StagedInstallation stage(installer, dir_, true);
    if (!stage.Prepare(error))
      return false;
    MakeDirs(stage.NewRoot() + "/Bin");
    WriteFile(stage.NewRoot() + "/Bin/qmserver", "new server", 0755);
    WriteFile(stage.NewRoot() + "/qmserver.cfg", "new configuration");
    if (!stage.Switch(error)) {
      stage.Discard();
      return false;
    }
    return stage.Finish(error);
  }

  TempDir tmp_;
  std::string dir_;
};

}  // namespace

// The older backups give way only when the staged switch puts the new
// installation in place.
TEST_F(BackupGenerationTest, NewBackupsReplaceOlderOnes) {
  BackupGeneration backups(dir_);
  EXPECT_EQ((std::vector<std::string>{"Bin", "Lib", "qmserver.cfg"}), backups.PresentNames());
  std::string error;
  EXPECT_TRUE(backups.CheckEarlierBackupsRemovable(&error)) << error;

  ServerInstaller installer;
  ASSERT_TRUE(SwitchTo(installer, &error)) << error;
  EXPECT_EQ("current server", ReadFile(dir_ + "/Bin.old/qmserver"));
  EXPECT_TRUE(Exists(dir_ + "/Bin.old/sub"));
  EXPECT_FALSE(Exists(dir_ + "/Bin.old/deep"));
  EXPECT_TRUE(Exists(dir_ + "/Lib.old"));
  EXPECT_EQ("current configuration", ReadFile(dir_ + "/qmserver.cfg.old"));
  EXPECT_EQ("older plug-in", ReadFile(dir_ + "/Plugins.old/plugin"));
  EXPECT_EQ("new server", ReadFile(dir_ + "/Bin/qmserver"));
  EXPECT_FALSE(Exists(dir_ + "/Lib"));
}

TEST_F(BackupGenerationTest, AnOlderBackupBehindALinkIsNotFollowed) {
  MakeDirs(tmp_ / "elsewhere");
  WriteFile(tmp_ / "elsewhere/keep", "not a backup");
  // Bin.old was made read-only above; give it back to the test to rebuild.
  chmod((dir_ + "/Bin.old/deep").c_str(), 0755);
  ASSERT_EQ(0, system(("rm -rf '" + dir_ + "/Bin.old'").c_str()));
  symlink("../elsewhere", (dir_ + "/Bin.old").c_str());
  ServerInstaller installer;
  std::string error;
  ASSERT_TRUE(SwitchTo(installer, &error)) << error;
  EXPECT_EQ("current server", ReadFile(dir_ + "/Bin.old/qmserver"));
  EXPECT_EQ("not a backup", ReadFile(tmp_ / "elsewhere/keep"));
  EXPECT_EQ(std::vector<std::string>{"keep"}, ListDirectory(tmp_ / "elsewhere"));
}

TEST_F(BackupGenerationTest, ANameThatStayedIsReportedAndTheRestMovedBack) {
  // The framework backs up every name but Lib, as when Lib cannot be
  // renamed.
  class LibStays : public ServerInstaller {
   public:
    int BackupIfPresent(const char* name) override {
      return std::string(name) == "Lib" ? -1 : ServerInstaller::BackupIfPresent(name);
    }
  };
  auto before = TreeOf(dir_);
  LibStays installer;
  std::string error;
  EXPECT_FALSE(SwitchTo(installer, &error));
  EXPECT_EQ(dir_ + "/Lib could not be moved to Lib.old", error);
  // Bin, the configuration and the older backups are back under their own
  // names.
  EXPECT_EQ(before, TreeOf(dir_));
  EXPECT_EQ("current server", ReadFile(dir_ + "/Bin/qmserver"));
  EXPECT_EQ("current configuration", ReadFile(dir_ + "/qmserver.cfg"));
  EXPECT_EQ("older server", ReadFile(dir_ + "/Bin.old/deep/deeper/qmserver"));
}

TEST_F(BackupGenerationTest, NothingPresentNothingToDo) {
  TempDir empty;
  BackupGeneration backups(empty.path());
  EXPECT_TRUE(backups.PresentNames().empty());
  std::string error;
  EXPECT_TRUE(backups.CheckEarlierBackupsRemovable(&error));
  ServerInstaller installer;
  StagedInstallation stage(installer, empty.path(), true);
  ASSERT_TRUE(stage.Prepare(&error)) << error;
  ASSERT_TRUE(stage.Switch(&error)) << error;
  EXPECT_TRUE(stage.MovedToOld().empty());
  ASSERT_TRUE(stage.Finish(&error)) << error;
  EXPECT_TRUE(ListDirectory(empty.path()).empty());
}
