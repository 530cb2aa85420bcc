#include "installer/WorkingDirectory.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/SystemError.h"
#include "installer/ServerInstaller.h"
#include "tests/InstallerTestHelpers.h"
#include "tests/Subprocess.h"

using InstallDirectoryReports = installer_test::InstallationTest;
using installer_test::RecordingUI;

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
  std::string error;
  EXPECT_FALSE(saved.ChangeTo(Path("missing").c_str(), &error));
  EXPECT_EQ(ErrnoText(ENOENT), error);
  EXPECT_EQ(here_, CurrentDir());
  EXPECT_FALSE(saved.ChangeTo(nullptr, &error));
  EXPECT_TRUE(saved.ChangeTo(there_.c_str(), &error));
  EXPECT_EQ(there_, CurrentDir());
  EXPECT_TRUE(saved.Restore(&error));
  EXPECT_EQ(here_, CurrentDir());
}

// The children below touch nothing polymorphic once the descriptors are gone:
// the sanitizer's type checks would need descriptors of their own.

TEST_F(SavedWorkingDirectoryTest, WithoutDescriptorsTheNameServes) {
  const std::string here = here_, there = there_;
  ProcessResult child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
    ExhaustDescriptors();
    SavedWorkingDirectory saved;
    std::string error;
    bool ok = saved.IsRecorded() && saved.ChangeTo(there.c_str(), &error) &&
              CurrentDir() == there && saved.Restore(&error) && CurrentDir() == here;
    _exit(ok ? 0 : 1);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
}

TEST_F(SavedWorkingDirectoryTest, WithNeitherDescriptorNorNameNothingMoves) {
  const std::string here = here_, there = there_;
  ProcessResult child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
    struct stat before, after;
    stat(".", &before);
    if (rmdir(here.c_str()) != 0)
      _exit(2);
    ExhaustDescriptors();
    SavedWorkingDirectory saved;
    std::string error;
    bool refused = !saved.IsRecorded() && !saved.ChangeTo(there.c_str(), &error) &&
                   error == ErrnoText(ENOENT) && !saved.Restore(&error);
    stat(".", &after);
    bool stayed = before.st_dev == after.st_dev && before.st_ino == after.st_ino;
    _exit(refused && stayed ? 0 : 1);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
}

// Every operation that works inside the installation directory reports one
// it cannot enter as an error, through the installer's own console.
TEST_F(InstallDirectoryReports, UnreachableInstallationDirectoryIsAnError) {
  typedef void (ServerInstaller::*Operation)();
  const std::pair<const char*, Operation> operations[] = {
      {"BackupOldFiles", &ServerInstaller::BackupOldFiles},
      {"UpdatePasswordDatabases", &ServerInstaller::UpdatePasswordDatabases},
      {"CreateConfigFile", nullptr},
      {"CreateLoopcastScript", &ServerInstaller::CreateLoopcastScript},
  };
  std::string missing = Path("missing");
  for (const auto& operation : operations) {
    SCOPED_TRACE(operation.first);
    ServerInstaller installer;
    auto* ui = new RecordingUI;
    delete installer.m_pUI;
    installer.m_pUI = ui;
    installer.m_szDefInstallPath = missing.data();
    if (operation.second != nullptr)
      (installer.*operation.second)();
    else
      installer.CreateConfigFile("qmserver.cfg");
    std::vector<std::pair<RecordingUI::Channel, std::string>> expected = {
        {RecordingUI::kError,
         "Error accessing directory " + missing + " (No such file or directory)\n"}};
    EXPECT_EQ(expected, ui->m_shown);
  }
}

TEST_F(InstallDirectoryReports, UnwritableConfigurationFileIsAnError) {
  ASSERT_EQ(0, mkdir((install_ + "/qmserver.cfg").c_str(), 0755));
  ServerInstaller installer;
  auto* ui = new RecordingUI;
  delete installer.m_pUI;
  installer.m_pUI = ui;
  installer.m_szDefInstallPath = install_.data();
  installer.CreateConfigFile("qmserver.cfg");
  std::vector<std::pair<RecordingUI::Channel, std::string>> expected = {
      {RecordingUI::kError, "Error creating qmserver.cfg (Is a directory)\n"}};
  EXPECT_EQ(expected, ui->m_shown);
}

}  // namespace
