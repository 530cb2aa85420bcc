#include "driver/SetupDriver.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/settings/InstallPath.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/ServerInstaller.h"
#include "tests/LocalPorts.h"
#include "tests/Subprocess.h"

TEST(SetupDriver, RefusesToRunOutsideAnExtractionDirectory) {
  TempDir tmp;
  ProcessResult run = RunForked([&tmp] {
    if (chdir(tmp.path().c_str()) != 0)
      _exit(99);
    SetupDriver driver;
    std::string error;
    driver.CheckWorkingDirectory(&error);
    printf("%s", error.c_str());
  });
  EXPECT_EQ(
      "ERROR: setup installs from the extraction directory \"qzsetup\" of an installation "
      "package; run the package instead.\n",
      run.out);
}

// A package's start directory with its extraction directory "qzsetup",
// which is the working directory while a test runs.
class SetupSteps : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    extract_ = Path("qzsetup");
    mkdir(extract_.c_str(), 0700);
    ASSERT_EQ(0, chdir(extract_.c_str()));
  }

  // Configures the driver with the arguments after the program name.
  void Configure(SetupDriver& driver, std::vector<const char*> args) {
    std::string error;
    ASSERT_TRUE(driver.CheckWorkingDirectory(&error)) << error;
    args.insert(args.begin(), "./Bin/setup");
    driver.Configure(static_cast<int>(args.size()), args.data());
  }

  // What the unattended checks refuse, "" when they pass.
  std::string Unattended(SetupDriver& driver) {
    std::string error;
    bool passed = driver.CheckUnattendedSettings(&error);
    EXPECT_EQ(passed, error.empty()) << error;
    return error;
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

TEST_F(SetupSteps, EmptyPasswordsInTheDefaultsFileLeaveThemToBeGenerated) {
  WriteFile(Path("inst.cfg"), "AdminPassword=\nEncoderPassword=  \t\nMonitorPassword=\n");
  SetupDriver driver;
  Configure(driver, {"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(nullptr, driver.Installer().m_szAdminPassword);
  EXPECT_EQ(nullptr, driver.Installer().m_szEncoderPassword);
  EXPECT_EQ(nullptr, driver.Installer().m_szMonitorPassword);
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
            Unattended(driver));

  installer.m_szAdminUserID = const_cast<char*>("admin");
  installer.m_szEncoderUserID = const_cast<char*>("enc/oder");
  EXPECT_EQ("ERROR: EncoderUserID \"enc/oder\" is not a valid user name: it contains \"/\"\n",
            Unattended(driver));

  // A name from the defaults file is shown without its control characters.
  installer.m_szEncoderUserID = const_cast<char*>("enc\x1b]0;owned\x07oder");
  EXPECT_EQ(
      "ERROR: EncoderUserID \"enc?]0;owned?oder\" is not a valid user name: it contains a "
      "control character\n",
      Unattended(driver));

  installer.m_szEncoderUserID = const_cast<char*>("encoder");
  installer.m_szEncoderPassword = const_cast<char*>("enc;oder");
  EXPECT_EQ("ERROR: EncoderPassword cannot go into the server's files: it contains \";\"\n",
            Unattended(driver));

  installer.m_szEncoderPassword = nullptr;
  EXPECT_EQ("ERROR: RTSPPort 70000 is not a valid port (1 to 65535)\n", Unattended(driver));
  installer.m_pPorts[1].nPort = -1;
  EXPECT_EQ("ERROR: RTSPPort -1 is not a valid port (1 to 65535)\n", Unattended(driver));
  // A good port is confirmed for its service before the next is checked.
  installer.m_pPorts[1].nPort = rtsp;
  installer.m_pPorts[4].nPort = rtsp;
  EXPECT_EQ("ERROR: MMSPort " + std::to_string(rtsp) + " is already the RTSP port\n",
            Unattended(driver));
  EXPECT_EQ(1, installer.m_pPorts[1].bSelected);
  EXPECT_EQ(0, installer.m_pPorts[4].bSelected);
  // Nothing is created while the settings are checked.
  EXPECT_FALSE(Exists(Path("inst")));
}

TEST_F(SetupSteps, SystemDirectoriesAreNoInstallationDirectory) {
  for (const char* dir : {"/", "/usr", "/etc/", "/var", "/lib64", "/usr/local", "/root"}) {
    SetupDriver driver;
    Configure(driver, {"-s", "-d", dir});
    SetGoodSettings(driver.Installer());
    std::string shown = ResolvePath(dir, "/");
    EXPECT_EQ("ERROR: Cannot install into " + shown +
                  ": it is a system directory; choose a directory of its own for the server\n",
              Unattended(driver));
  }
  SetupDriver driver;
  Configure(driver, {"-s", "-d", "/usr/local/strata"});
  SetGoodSettings(driver.Installer());
  EXPECT_EQ("", Unattended(driver));
}

TEST_F(SetupSteps, UnattendedValuesTheServersFilesCannotHoldAreRefused) {
  const std::string rule = "; only letters, digits and \"/._+,:@%=-\" may be used\n";
  {
    SetupDriver driver;
    Configure(driver, {"-s", "-d", "my media"});
    SetGoodSettings(driver.Installer());
    EXPECT_EQ("ERROR: Cannot install into " + driver.StartDirectory() +
                  "/my media: its name contains a blank" + rule,
              Unattended(driver));
  }
  {
    // A control character is not shown as it is.
    SetupDriver driver;
    Configure(driver, {"-s", "-d",
                       "a\x1b"
                       "b"});
    SetGoodSettings(driver.Installer());
    EXPECT_EQ("ERROR: Cannot install into " + driver.StartDirectory() +
                  "/a?b: its name contains a control character" + rule,
              Unattended(driver));
  }
  {
    // "~" is no home directory once the shell has passed it on.
    SetupDriver driver;
    Configure(driver, {"-s", "-d", "~/media"});
    SetGoodSettings(driver.Installer());
    EXPECT_EQ("ERROR: Cannot install into " + driver.StartDirectory() +
                  "/~/media: its name contains \"~\"" + rule,
              Unattended(driver));
  }

  SetupDriver driver;
  Configure(driver, {"-s", "-d", "inst"});
  ServerInstaller& installer = driver.Installer();
  SetGoodSettings(installer);
  // A realm of 4097 characters would fill the configuration 21 times over.
  const std::string longText(4097, 'r');
  struct Case {
    char** setting;
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {&installer.m_szAdminPassword, "pass\"word",
       "ERROR: AdminPassword cannot go into the server's files: it contains a double quote\n"},
      {&installer.m_szEncoderPassword, "R&D",
       "ERROR: EncoderPassword cannot go into the server's files: it contains \"&\"\n"},
      {&installer.m_szAdminPassword, "pw;*;0",
       "ERROR: AdminPassword cannot go into the server's files: it contains \";\"\n"},
      {&installer.m_szAdminRealm, "<Realm>",
       "ERROR: AdminRealm cannot go into the server's files: it contains \"<\"\n"},
      {&installer.m_szCDistRealm, "cdist>",
       "ERROR: CDistRealm cannot go into the server's files: it contains \">\"\n"},
      {&installer.m_szContentRealm, "a\tb",
       "ERROR: ContentRealm cannot go into the server's files: it contains a control "
       "character\n"},
      {&installer.m_szLoggingStyle, "5\r",
       "ERROR: LoggingStyle cannot go into the server's files: it contains a control "
       "character\n"},
      {&installer.m_szWMEncoderRealm, longText.c_str(),
       "ERROR: WMEncoderRealm cannot go into the server's files: it is longer than 4096 "
       "characters\n"},
  };
  for (const Case& c : cases) {
    char* good = *c.setting;
    *c.setting = const_cast<char*>(c.value);
    EXPECT_EQ(c.message, Unattended(driver));
    *c.setting = good;
  }
  // The ports come after these texts: none was confirmed yet.
  for (int i = 1; i < 6; ++i)
    EXPECT_EQ(0, installer.m_pPorts[i].bSelected) << i;
  EXPECT_EQ("", Unattended(driver));
  EXPECT_FALSE(Exists(Path("inst")));
}
