#include "driver/installation/StagedInstallation.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "installer/ServerInstaller.h"
#include "tests/TestFiles.h"

namespace {

// Counts the renames of one switch and fails the chosen one, as a full
// disk, a busy name or a vanished file would.
struct RenameCounter {
  int failAt = 0;
  int count = 0;
  // Whether the next rename may go ahead.
  bool Next() { return ++count != failAt; }
};

// The framework's backup renames, counted with the others.
class CountingInstaller : public ServerInstaller {
 public:
  explicit CountingInstaller(RenameCounter& counter) : m_counter(counter) {}
  int BackupIfPresent(const char* name) override {
    struct stat st;
    if (name != nullptr && lstat(name, &st) == 0 && !m_counter.Next()) {
      errno = EIO;
      return -1;
    }
    return ServerInstaller::BackupIfPresent(name);
  }

 private:
  RenameCounter& m_counter;
};

class CountingStage : public StagedInstallation {
 public:
  CountingStage(ServerInstaller& installer, const std::string& dir, bool backup,
                RenameCounter& counter)
      : StagedInstallation(installer, dir, backup), m_counter(counter) {}

 protected:
  int Rename(const char* from, const char* to) override {
    if (!m_counter.Next()) {
      errno = EIO;
      return -1;
    }
    return StagedInstallation::Rename(from, to);
  }

 private:
  RenameCounter& m_counter;
};

class StagedInstallationTest : public ScratchTest {
 protected:
  // An earlier installation with an older backup, a private content
  // directory holding the users' files, and names of and outside the
  // backup list.
  std::string MakeEarlier(const std::string& name) {
    std::string dir = MakeDirs(Path(name));
    MakeDirs(dir + "/Bin/sub");
    WriteFile(dir + "/Bin/qmserver", "old server", 0755);
    WriteFile(dir + "/Bin/sub/helper", "old helper", 0700);
    MakeDirs(dir + "/Lib");
    WriteFile(dir + "/Lib/libqm.so", "old library");
    WriteFile(dir + "/qmserver.cfg", "old configuration", 0600);
    MakeDirs(dir + "/Bin.old");
    WriteFile(dir + "/Bin.old/qmserver", "older server", 0755);
    MakeDirs(dir + "/Content");
    chmod((dir + "/Content").c_str(), 0700);
    WriteFile(dir + "/Content/movie", "the users' own");
    MakeDirs(dir + "/Docs");
    WriteFile(dir + "/Docs/readme", "old readme");
    return dir;
  }

  // The new installation: files that replace, merge with and add to the
  // earlier ones.
  void FillNew(const std::string& root) {
    MakeDirs(root + "/Bin");
    WriteFile(root + "/Bin/qmserver", "new server", 0755);
    WriteFile(root + "/Bin/tool", "new tool", 0755);
    WriteFile(root + "/qmserver.cfg", "new configuration", 0600);
    MakeDirs(root + "/Content");
    WriteFile(root + "/Content/welcome.txt", "welcome");
    MakeDirs(root + "/Docs");
    WriteFile(root + "/Docs/readme", "new readme");
    MakeDirs(root + "/Plugins");
    WriteFile(root + "/Plugins/plugin", "new plug-in");
  }
};

}  // namespace

// For every k, the k-th rename of the switch fails: the installation
// directory is then exactly as it was (names, modes, contents), until k is
// past the last rename and the new installation is in place.
TEST_F(StagedInstallationTest, AFailedRenameAtAnyStepLeavesTheEarlierInstallationAsItWas) {
  for (bool backup : {true, false}) {
    int renames = 0;
    for (int k = 1;; ++k) {
      ASSERT_LT(k, 200) << "the switch never completed";
      std::string dir = MakeEarlier((backup ? "backup-" : "replace-") + std::to_string(k));
      const std::map<std::string, std::string> before = TreeOf(dir);
      RenameCounter counter;
      counter.failAt = k;
      CountingInstaller installer(counter);
      CountingStage stage(installer, dir, backup, counter);
      std::string error;
      ASSERT_TRUE(stage.Prepare(&error)) << error;
      FillNew(stage.NewRoot());
      if (stage.Switch(&error)) {
        renames = k - 1;
        ASSERT_TRUE(stage.Finish(&error)) << error;
        EXPECT_EQ("new server", ReadFile(dir + "/Bin/qmserver"));
        EXPECT_EQ("new tool", ReadFile(dir + "/Bin/tool"));
        EXPECT_EQ("the users' own", ReadFile(dir + "/Content/movie"));
        EXPECT_EQ(0755, ModeOf(dir + "/Content"));
        EXPECT_EQ("new readme", ReadFile(dir + "/Docs/readme"));
        EXPECT_EQ("new configuration", ReadFile(dir + "/qmserver.cfg"));
        if (backup) {
          EXPECT_EQ((std::vector<std::string>{"Bin", "qmserver.cfg", "Lib"}), stage.MovedToOld());
          EXPECT_EQ("old server", ReadFile(dir + "/Bin.old/qmserver"));
          EXPECT_FALSE(Exists(dir + "/Bin.old/tool"));
          EXPECT_EQ("old library", ReadFile(dir + "/Lib.old/libqm.so"));
          EXPECT_FALSE(Exists(dir + "/Lib"));
        } else {
          EXPECT_TRUE(stage.MovedToOld().empty());
          // Merged: what the product does not bring stays.
          EXPECT_EQ("old helper", ReadFile(dir + "/Bin/sub/helper"));
          EXPECT_EQ("older server", ReadFile(dir + "/Bin.old/qmserver"));
        }
        // Nothing of the staging directory stays.
        for (const std::string& name : ListDirectory(dir))
          EXPECT_NE('.', name[0]) << name;
        break;
      }
      EXPECT_TRUE(stage.Restored()) << "rename " << k << ": " << error;
      stage.Discard();
      EXPECT_EQ(before, TreeOf(dir)) << "after rename " << k << " failed: " << error;
    }
    // Both ways replace, merge and add by several renames each.
    EXPECT_GT(renames, 5) << (backup ? "with backups" : "without backups");
  }
}
