#include "driver/SetupDriver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/InstallPath.h"
#include "installer/ServerInstaller.h"
#include "tests/LocalPorts.h"
#include "tests/Subprocess.h"

TEST(UserNameProblem, NamesThatCannotBeAFileOrALogin) {
  EXPECT_EQ("", UserNameProblem("admin"));
  EXPECT_EQ("", UserNameProblem("media admin"));
  EXPECT_EQ("", UserNameProblem(".admin"));
  EXPECT_EQ("it is empty", UserNameProblem(""));
  EXPECT_EQ("it is empty", UserNameProblem(nullptr));
  EXPECT_EQ("it names a directory", UserNameProblem("."));
  EXPECT_EQ("it names a directory", UserNameProblem(".."));
  EXPECT_EQ("it contains \"/\"", UserNameProblem("../admin"));
  EXPECT_EQ("it contains \":\"", UserNameProblem("ad:min"));
  EXPECT_EQ("it contains a control character", UserNameProblem("ad\tmin"));
  EXPECT_EQ("it begins or ends with white space", UserNameProblem(" admin"));
  EXPECT_EQ("it begins or ends with white space", UserNameProblem("admin "));
}

TEST(SetupDriver, RefusesToRunOutsideAnExtractionDirectory) {
  TempDir tmp;
  ProcessResult run = RunForked([&tmp] {
    if (chdir(tmp.path().c_str()) != 0)
      _exit(99);
    SetupDriver driver;
    printf("%s", driver.CheckWorkingDirectory().c_str());
  });
  EXPECT_EQ(
      "ERROR: setup installs from the extraction directory \"qzsetup\" of an installation "
      "package; run the package instead.\n",
      run.out);
}

// A package's start directory with a small product extracted into
// "qzsetup", which is the working directory while a test runs.
class SetupSteps : public ScratchTest {
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
  }

  // Configures the driver with the arguments after the program name.
  void Configure(SetupDriver& driver, std::vector<const char*> args) {
    ASSERT_EQ("", driver.CheckWorkingDirectory());
    args.insert(args.begin(), "./Bin/setup");
    driver.Configure(static_cast<int>(args.size()), args.data());
  }

  // Settings of an unattended installation that pass every check.
  void SetGoodSettings(ServerInstaller& installer) {
    installer.m_szAdminUserID = const_cast<char*>("admin");
    installer.m_szEncoderUserID = const_cast<char*>("encoder");
    std::vector<int> ports = FreePorts(6);
    for (int i = 0; i < 6; ++i)
      installer.m_pPorts[i].nPort = ports[i];
  }

  std::string extract_;
};

TEST_F(SetupSteps, InstallationDirectoryIsTakenFromTheStartDirectory) {
  {
    SetupDriver driver;
    Configure(driver, {"-s"});
    EXPECT_EQ(CanonicalPath(root_), driver.StartDirectory());
    EXPECT_EQ(driver.StartDirectory(), driver.Installer().m_szDefInstallPath);
  }
  {
    SetupDriver driver;
    Configure(driver, {"-s", "-d", "media//server/"});
    EXPECT_EQ(driver.StartDirectory() + "/media/server", driver.Installer().m_szDefInstallPath);
  }
  {
    SetupDriver driver;
    Configure(driver, {"-s", "-d", "/opt/./media/"});
    EXPECT_STREQ("/opt/media", driver.Installer().m_szDefInstallPath);
  }
  {
    WriteFile(Path("inst.cfg"), "DefInstallPath=from-file\nSilentInstall=1\n");
    SetupDriver driver;
    Configure(driver, {"-cfg", "inst.cfg"});
    EXPECT_TRUE(driver.IsUnattended());
    EXPECT_EQ(driver.StartDirectory() + "/from-file", driver.Installer().m_szDefInstallPath);
  }
}

TEST_F(SetupSteps, UnattendedSettingsAreCheckedInOrder) {
  SetupDriver driver;
  Configure(driver, {"-s", "-d", "inst"});
  ServerInstaller& installer = driver.Installer();
  SetGoodSettings(installer);
  int rtsp = installer.m_pPorts[1].nPort;
  installer.m_szAdminUserID = nullptr;
  installer.m_pPorts[1].nPort = 70000;
  EXPECT_EQ("ERROR: AdminUserID is not set; an unattended installation needs it\n",
            driver.CheckUnattendedSettings());

  installer.m_szAdminUserID = const_cast<char*>("admin");
  installer.m_szEncoderUserID = const_cast<char*>("enc/oder");
  EXPECT_EQ("ERROR: EncoderUserID \"enc/oder\" is not a valid user name: it contains \"/\"\n",
            driver.CheckUnattendedSettings());

  installer.m_szEncoderUserID = const_cast<char*>("encoder");
  installer.m_szEncoderPassword = const_cast<char*>("");
  EXPECT_EQ("ERROR: EncoderPassword is empty; give a password or leave the setting out\n",
            driver.CheckUnattendedSettings());

  installer.m_szEncoderPassword = nullptr;
  EXPECT_EQ("ERROR: RTSPPort 70000 is not a valid port (1 to 65535)\n",
            driver.CheckUnattendedSettings());
  installer.m_pPorts[1].nPort = -1;
  EXPECT_EQ("ERROR: RTSPPort -1 is not a valid port (1 to 65535)\n",
            driver.CheckUnattendedSettings());
  // A good port is confirmed for its service before the next is checked.
  installer.m_pPorts[1].nPort = rtsp;
  installer.m_pPorts[4].nPort = rtsp;
  EXPECT_EQ("ERROR: MMSPort " + std::to_string(rtsp) + " is already the RTSP port\n",
            driver.CheckUnattendedSettings());
  EXPECT_EQ(1, installer.m_pPorts[1].bSelected);
  EXPECT_EQ(0, installer.m_pPorts[4].bSelected);
  // Nothing is created while the settings are checked.
  EXPECT_FALSE(Exists(Path("inst")));
}

TEST_F(SetupSteps, InstallWritesCredentialsForTheInstallingUserOnly) {
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  // An earlier configuration that is replaced without a backup keeps its
  // name, but not its readable mode.
  WriteFile(inst + "/qmserver.cfg", "earlier", 0644);
  SetupDriver driver;
  Configure(driver, {"-s", "-nb", "-d", "inst"});
  SetGoodSettings(driver.Installer());
  ASSERT_EQ("", driver.CheckUnattendedSettings());
  ASSERT_EQ("", driver.Install());

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
  EXPECT_EQ("the installer", ReadFile(inst + "/Bin/setup"));
  EXPECT_FALSE(Exists(extract_ + "/Bin"));
}

TEST_F(SetupSteps, InstallRefusesTheExtractionDirectoryItself) {
  SetupDriver driver;
  Configure(driver, {"-s", "-d", "qzsetup/inst"});
  SetGoodSettings(driver.Installer());
  EXPECT_EQ("ERROR: Cannot install into " + driver.StartDirectory() +
                "/qzsetup/inst: it lies inside the package's extraction directory\n",
            driver.Install());
  EXPECT_FALSE(Exists(extract_ + "/inst"));
  EXPECT_TRUE(Exists(extract_ + "/Bin/setup"));
}

TEST_F(SetupSteps, FailedPlacementLeavesNoConfiguration) {
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  mkdir((inst + "/License.txt").c_str(), 0755);
  WriteFile(inst + "/License.txt/notes", "the administrator's");
  SetupDriver driver;
  Configure(driver, {"-s", "-d", "inst"});
  SetGoodSettings(driver.Installer());
  EXPECT_EQ("ERROR: Unable to install the product's files (" + driver.StartDirectory() +
                "/inst/License.txt: Is a directory)\n",
            driver.Install());
  EXPECT_FALSE(Exists(inst + "/qmserver.cfg"));
  EXPECT_FALSE(Exists(inst + "/adm_b_db/users"));
}

TEST_F(SetupSteps, MissingDatabaseIsAFailure) {
  rmdir((extract_ + "/enc_w_db").c_str());
  SetupDriver driver;
  Configure(driver, {"-s", "-d", "inst"});
  SetGoodSettings(driver.Installer());
  EXPECT_EQ("ERROR: Unable to write the user file " + driver.StartDirectory() +
                "/inst/enc_w_db/users/encoder\n",
            driver.Install());
  EXPECT_FALSE(Exists(Path("inst/qmserver.cfg")));
}
