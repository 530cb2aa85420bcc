#include "driver/installation/BackupGeneration.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

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

  // The framework's backup, which changes into the directory and back.
  void BackUp(ServerInstaller& installer) {
    installer.m_szDefInstallPath = const_cast<char*>(dir_.c_str());
    installer.m_bSilentInstall = 1;
    installer.BackupOldFiles();
  }

  TempDir tmp_;
  std::string dir_;
};

}  // namespace

TEST_F(BackupGenerationTest, NewBackupsReplaceOlderOnes) {
  BackupGeneration backups(dir_);
  EXPECT_EQ((std::vector<std::string>{"Bin", "Lib", "qmserver.cfg"}), backups.PresentNames());
  std::string error;
  ASSERT_TRUE(backups.RemoveEarlierBackups(&error)) << error;
  EXPECT_FALSE(Exists(dir_ + "/Bin.old"));
  EXPECT_FALSE(Exists(dir_ + "/qmserver.cfg.old"));
  EXPECT_EQ("older plug-in", ReadFile(dir_ + "/Plugins.old/plugin"));
  // The installation itself is untouched.
  EXPECT_EQ("current server", ReadFile(dir_ + "/Bin/qmserver"));

  ServerInstaller installer;
  BackUp(installer);
  ASSERT_TRUE(backups.ConfirmBackups(&error)) << error;
  EXPECT_EQ("current server", ReadFile(dir_ + "/Bin.old/qmserver"));
  EXPECT_TRUE(Exists(dir_ + "/Bin.old/sub"));
  EXPECT_TRUE(Exists(dir_ + "/Lib.old"));
  EXPECT_EQ("current configuration", ReadFile(dir_ + "/qmserver.cfg.old"));
  EXPECT_FALSE(Exists(dir_ + "/Bin"));
}

TEST_F(BackupGenerationTest, AnOlderBackupBehindALinkIsNotFollowed) {
  MakeDirs(tmp_ / "elsewhere");
  WriteFile(tmp_ / "elsewhere/keep", "not a backup");
  // Bin.old was made read-only above; give it back to the test to rebuild.
  chmod((dir_ + "/Bin.old/deep").c_str(), 0755);
  ASSERT_EQ(0, system(("rm -rf '" + dir_ + "/Bin.old'").c_str()));
  symlink("../elsewhere", (dir_ + "/Bin.old").c_str());
  BackupGeneration backups(dir_);
  std::string error;
  ASSERT_TRUE(backups.RemoveEarlierBackups(&error)) << error;
  EXPECT_FALSE(Exists(dir_ + "/Bin.old"));
  EXPECT_EQ("not a backup", ReadFile(tmp_ / "elsewhere/keep"));
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
  BackupGeneration backups(dir_);
  std::string error;
  ASSERT_TRUE(backups.RemoveEarlierBackups(&error)) << error;
  auto withoutOlder = TreeOf(dir_);

  LibStays installer;
  BackUp(installer);
  EXPECT_FALSE(Exists(dir_ + "/Bin"));
  EXPECT_FALSE(backups.ConfirmBackups(&error));
  EXPECT_EQ(dir_ + "/Lib could not be moved to Lib.old", error);
  // Bin and the configuration are back under their own names.
  EXPECT_EQ(withoutOlder, TreeOf(dir_));
  EXPECT_EQ("current server", ReadFile(dir_ + "/Bin/qmserver"));
  EXPECT_EQ("current configuration", ReadFile(dir_ + "/qmserver.cfg"));
  EXPECT_FALSE(Exists(dir_ + "/Bin.old"));
}

TEST_F(BackupGenerationTest, NothingPresentNothingToDo) {
  TempDir empty;
  BackupGeneration backups(empty.path());
  EXPECT_TRUE(backups.PresentNames().empty());
  std::string error;
  EXPECT_TRUE(backups.RemoveEarlierBackups(&error));
  EXPECT_TRUE(backups.ConfirmBackups(&error));
  EXPECT_TRUE(ListDirectory(empty.path()).empty());
}
