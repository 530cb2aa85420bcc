#include "driver/installation/InstallSteps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "common/Path.h"
#include "driver/installation/InstallationPlan.h"
#include "driver/settings/SettingRules.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/ServerInstaller.h"
#include "tests/Subprocess.h"

namespace {

// A package's start directory with a small product extracted into
// "qzsetup", which is the working directory while a test runs.
class InstallStepsTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    extract_ = Path("qzsetup");
    mkdir(extract_.c_str(), 0700);
    for (const char* dir :
         {"Bin", "Lib", "Plugins", "adm_b_db", "enc_r_db", "enc_w_db", "enc_b_db", "cdi_b_db"}) {
      mkdir((extract_ + "/" + dir).c_str(), 0755);
    }
    WriteFile(extract_ + "/Bin/setup", "the installer", 0755);
    WriteFile(extract_ + "/Bin/loopcast", "the tool", 0755);
    WriteFile(extract_ + "/License.txt", "terms");
    ASSERT_EQ(0, chdir(extract_.c_str()));
    start_ = DirectoryOf(CurrentDir());
  }

  // The settings of a silent installation into dir (relative to the start
  // directory), with two good accounts; backup: whether earlier files are
  // kept under .old names.
  void Configure(SetupInstaller& installer, const std::string& dir, bool backup) {
    installer.SetDefaults();
    installer.m_bSilentInstall = 1;
    installer.m_bBackupOldFiles = backup ? 1 : 0;
    installer.m_szDefInstallPath = installer.OwnedText(start_ + "/" + dir);
    installer.m_szAdminUserID = const_cast<char*>("admin");
    installer.m_szEncoderUserID = const_cast<char*>("encoder");
  }

  // Installs, without an answers file: "" on success, else the message to
  // end with.
  std::string Failure(SetupInstaller& installer) {
    InstallationPlan plan(installer, "unknown", false);
    InstallSteps steps(installer, extract_);
    std::string error;
    bool installed = steps.Check(false, &error) && plan.Assess(&error) &&
                     steps.Install(plan, false, &error).installed;
    EXPECT_EQ(installed, error.empty()) << error;
    return error;
  }

  std::string extract_;
  std::string start_;
};

}  // namespace

TEST_F(InstallStepsTest, InstallWritesCredentialsForTheInstallingUserOnly) {
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  // An earlier configuration that is replaced without a backup keeps its
  // name, but not its readable mode.
  WriteFile(inst + "/qmserver.cfg", "earlier", 0644);
  SetupInstaller installer;
  Configure(installer, "inst", false);
  std::string error;
  // Settings that an unattended installation accepts before it installs.
  ASSERT_TRUE(CheckAccountSettings(installer, &error) && CheckConfigTexts(installer, &error))
      << error;
  ASSERT_EQ("", Failure(installer));

  EXPECT_EQ(0600, ModeOf(inst + "/qmserver.cfg"));
  EXPECT_EQ(0600, ModeOf(inst + "/default.cfg"));
  EXPECT_EQ(ReadFile(inst + "/qmserver.cfg"), ReadFile(inst + "/default.cfg"));
  EXPECT_EQ(0600, ModeOf(inst + "/adm_b_db/users/admin"));
  EXPECT_EQ(0600, ModeOf(inst + "/enc_r_db/users/encoder"));
  EXPECT_EQ(0755, ModeOf(inst + "/Bin/loopcast.sh"));
  EXPECT_FALSE(Exists(inst + "/qmserver.cfg.old"));
  // The umask of the process is its own again.
  mode_t now = umask(022);
  EXPECT_EQ(022u, now);
  // Unattended: no answers file.
  EXPECT_FALSE(Exists(inst + "/installer.cfg"));
  // The product moved; the extraction directory is empty for the clean-up.
  // The installer itself never becomes part of the installation.
  EXPECT_FALSE(Exists(inst + "/Bin/setup"));
  EXPECT_FALSE(Exists(extract_ + "/Bin"));
}

TEST_F(InstallStepsTest, ConfigurationFilesAreMadeAfreshWhereLinksStood) {
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  WriteFile(Path("elsewhere.cfg"), "not the server's", 0644);
  symlink("../elsewhere.cfg", (inst + "/qmserver.cfg").c_str());
  symlink("../planted.cfg", (inst + "/default.cfg").c_str());
  {
    SetupInstaller installer;
    Configure(installer, "inst", false);
    ASSERT_EQ("", Failure(installer));
  }
  // Neither the passwords nor the mode went where the links led.
  EXPECT_EQ("not the server's", ReadFile(Path("elsewhere.cfg")));
  EXPECT_EQ(0644, ModeOf(Path("elsewhere.cfg")));
  EXPECT_FALSE(Exists(Path("planted.cfg")));
  for (const char* name : {"qmserver.cfg", "default.cfg"}) {
    struct stat st;
    ASSERT_EQ(0, lstat((inst + "/" + name).c_str(), &st)) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(0600u, st.st_mode & 07777) << name;
  }
  std::string config = ReadFile(inst + "/qmserver.cfg");
  EXPECT_EQ(0, config.compare(0, 23, "<?XML Version=\"1.0\" ?>\n"));
  EXPECT_EQ(config, ReadFile(inst + "/default.cfg"));

  // A file with a second name elsewhere keeps that name's content.
  WriteFile(Path("shared.cfg"), "shared", 0644);
  ASSERT_EQ(0, unlink((inst + "/default.cfg").c_str()));
  ASSERT_EQ(0, link(Path("shared.cfg").c_str(), (inst + "/default.cfg").c_str()));
  SetupInstaller again;
  ASSERT_EQ(0, chdir(extract_.c_str()));
  WriteFile(extract_ + "/License.txt", "terms");
  Configure(again, "inst", false);
  ASSERT_EQ("", Failure(again));
  EXPECT_EQ("shared", ReadFile(Path("shared.cfg")));
  EXPECT_EQ(0644, ModeOf(Path("shared.cfg")));
  // The administrator changed it: theirs stays in effect, as a file of its
  // own, and the new one is written beside it.
  EXPECT_EQ("shared", ReadFile(inst + "/default.cfg"));
  EXPECT_EQ(0600, ModeOf(inst + "/default.cfg.new"));
  EXPECT_EQ(0, ReadFile(inst + "/default.cfg.new").compare(0, 23, "<?XML Version=\"1.0\" ?>\n"));
  ASSERT_EQ(0, chmod(Path("shared.cfg").c_str(), 0600));
  EXPECT_EQ(0644, ModeOf(inst + "/default.cfg"));
}

TEST_F(InstallStepsTest, ConfigurationThatCannotBeReplacedIsAFailure) {
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  MakeDirs(inst + "/default.cfg");
  WriteFile(inst + "/default.cfg/notes", "the administrator's");
  SetupInstaller installer;
  Configure(installer, "inst", false);
  EXPECT_EQ("ERROR: Unable to replace the configuration file " + start_ +
                "/inst/default.cfg (Directory not empty)\n",
            Failure(installer));
  EXPECT_EQ("the administrator's", ReadFile(inst + "/default.cfg/notes"));
}

TEST_F(InstallStepsTest, InstallRefusesTheExtractionDirectoryItself) {
  SetupInstaller installer;
  Configure(installer, "qzsetup/inst", true);
  EXPECT_EQ("ERROR: Cannot install into " + start_ +
                "/qzsetup/inst: it lies inside the package's extraction directory\n",
            Failure(installer));
  EXPECT_FALSE(Exists(extract_ + "/inst"));
  EXPECT_TRUE(Exists(extract_ + "/Bin/setup"));
}

TEST_F(InstallStepsTest, FailedPlacementLeavesNoConfiguration) {
  // An earlier installation, and a directory of the administrator's where
  // the product has its license: found before anything is moved aside.
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  mkdir((inst + "/Bin").c_str(), 0755);
  WriteFile(inst + "/Bin/qmserver", "earlier server", 0755);
  WriteFile(inst + "/qmserver.cfg", "earlier configuration", 0600);
  mkdir((inst + "/License.txt").c_str(), 0755);
  WriteFile(inst + "/License.txt/notes", "the administrator's");
  auto earlier = TreeOf(inst);
  auto product = TreeOf(extract_);
  SetupInstaller installer;
  Configure(installer, "inst", true);
  EXPECT_EQ("ERROR: Unable to install the product's files: " + start_ +
                "/inst/License.txt is a directory that is not empty, where the product has a "
                "file; nothing has been changed\n",
            Failure(installer));
  EXPECT_EQ(earlier, TreeOf(inst));
  EXPECT_EQ(product, TreeOf(extract_));
  EXPECT_FALSE(Exists(inst + "/adm_b_db/users"));
}

TEST_F(InstallStepsTest, BackupThatCannotBeMadeStopsBeforePlacing) {
  // As when Lib cannot be renamed: the framework passes over it silently.
  class LibStays : public SetupInstaller {
   public:
    int BackupIfPresent(const char* name) override {
      return std::string(name) == "Lib" ? -1 : ServerInstaller::BackupIfPresent(name);
    }
  };
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  mkdir((inst + "/Bin").c_str(), 0755);
  WriteFile(inst + "/Bin/qmserver", "earlier server", 0755);
  mkdir((inst + "/Lib").c_str(), 0755);
  WriteFile(inst + "/Lib/lib.so", "earlier library");
  WriteFile(inst + "/qmserver.cfg", "earlier configuration", 0600);
  auto earlier = TreeOf(inst);

  LibStays installer;
  Configure(installer, "inst", true);
  EXPECT_EQ("ERROR: Unable to back up the earlier installation (" + start_ +
                "/inst/Lib could not be moved to Lib.old); the earlier installation is "
                "unchanged\n",
            Failure(installer));
  // Bin and the configuration moved aside and back again; nothing placed,
  // nothing of the staging left.
  EXPECT_EQ(earlier, TreeOf(inst));
}

TEST_F(InstallStepsTest, MissingDatabaseIsAFailure) {
  rmdir((extract_ + "/enc_w_db").c_str());
  SetupInstaller installer;
  Configure(installer, "inst", true);
  EXPECT_EQ("ERROR: Unable to write the user file " + start_ +
                "/inst/enc_w_db/users/encoder; nothing has been installed\n",
            Failure(installer));
  EXPECT_FALSE(Exists(Path("inst/qmserver.cfg")));
}
