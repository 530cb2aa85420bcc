#include "installer/WorkingDirectory.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "installer/InstallerTesting.h"
#include "installer/ServerInstaller.h"

namespace {

class SavedWorkingDirectoryTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    here_ = Path("here");
    there_ = Path("there");
    ASSERT_EQ(0, mkdir(here_.c_str(), 0755));
    ASSERT_EQ(0, mkdir(there_.c_str(), 0755));
    ASSERT_EQ(0, chdir(here_.c_str()));
  }

  // Uses up every descriptor of the calling process.
  static void ExhaustDescriptors() {
    struct rlimit limit = {64, 64};
    setrlimit(RLIMIT_NOFILE, &limit);
    while (open("/dev/null", O_RDONLY) >= 0) {
    }
  }

  std::string here_;
  std::string there_;
};

TEST_F(SavedWorkingDirectoryTest, ChangesAndReturns) {
  SavedWorkingDirectory saved;
  ASSERT_TRUE(saved.IsRecorded());
  EXPECT_EQ(-1, saved.ChangeTo(Path("missing").c_str()));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(here_, CurrentDir());
  EXPECT_EQ(-1, saved.ChangeTo(nullptr));
  EXPECT_EQ(0, saved.ChangeTo(there_.c_str()));
  EXPECT_EQ(there_, CurrentDir());
  EXPECT_EQ(0, saved.Restore());
  EXPECT_EQ(here_, CurrentDir());
}

TEST_F(SavedWorkingDirectoryTest, WithoutDescriptorsTheNameServes) {
  ChildResult child = RunInChild([&] {
    ExhaustDescriptors();
    SavedWorkingDirectory saved;
    bool ok = saved.IsRecorded() && saved.ChangeTo(there_.c_str()) == 0 && CurrentDir() == there_ &&
              saved.Restore() == 0 && CurrentDir() == here_;
    _exit(ok ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(child.status));
  EXPECT_EQ(0, WEXITSTATUS(child.status));
}

TEST_F(SavedWorkingDirectoryTest, WithNeitherDescriptorNorNameNothingMoves) {
  ASSERT_EQ(0, mkdir((there_ + "/Bin").c_str(), 0755));
  ChildResult child = RunInChild([&] {
    if (rmdir(here_.c_str()) != 0)
      _exit(2);
    ExhaustDescriptors();
    {
      SavedWorkingDirectory saved;
      if (saved.IsRecorded() || saved.Error() != ENOENT || saved.ChangeTo(there_.c_str()) == 0)
        _exit(1);
    }
    // An operation that could not come back does not leave.
    ServerInstaller installer;
    installer.m_szDefInstallPath = there_.data();
    installer.BackupOldFiles();
    fflush(stdout);
    struct stat st;
    _exit(stat("Bin", &st) != 0 ? 0 : 3);
  });
  ASSERT_TRUE(WIFEXITED(child.status));
  EXPECT_EQ(0, WEXITSTATUS(child.status));
  EXPECT_EQ("Error accessing directory " + there_ + " (No such file or directory)\n", child.out);
  EXPECT_TRUE(Exists(there_ + "/Bin"));
  EXPECT_FALSE(Exists(there_ + "/Bin.old"));
}

}  // namespace
