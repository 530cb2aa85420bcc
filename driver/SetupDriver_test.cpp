#include "driver/SetupDriver.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/InstallPath.h"
#include "driver/SetupInstaller.h"
#include "installer/ServerInstaller.h"
#include "tests/LocalPorts.h"
#include "tests/Subprocess.h"

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
            driver.CheckUnattendedSettings());

  installer.m_szAdminUserID = const_cast<char*>("admin");
  installer.m_szEncoderUserID = const_cast<char*>("enc/oder");
  EXPECT_EQ("ERROR: EncoderUserID \"enc/oder\" is not a valid user name: it contains \"/\"\n",
            driver.CheckUnattendedSettings());

  // A name from the defaults file is shown without its control characters.
  installer.m_szEncoderUserID = const_cast<char*>("enc\x1b]0;owned\x07oder");
  EXPECT_EQ(
      "ERROR: EncoderUserID \"enc?]0;owned?oder\" is not a valid user name: it contains a "
      "control character\n",
      driver.CheckUnattendedSettings());

  installer.m_szEncoderUserID = const_cast<char*>("encoder");
  installer.m_szEncoderPassword = const_cast<char*>("enc;oder");
  EXPECT_EQ("ERROR: EncoderPassword cannot go into the server's files: it contains \";\"\n",
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

TEST_F(SetupSteps, UnattendedValuesTheServersFilesCannotHoldAreRefused) {
  const std::string rule = "; only letters, digits and \"/._+,:@%=-\" may be used\n";
  {
    SetupDriver driver;
    Configure(driver, {"-s", "-d", "my media"});
    SetGoodSettings(driver.Installer());
    EXPECT_EQ("ERROR: Cannot install into " + driver.StartDirectory() +
                  "/my media: its name contains a blank" + rule,
              driver.CheckUnattendedSettings());
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
              driver.CheckUnattendedSettings());
  }
  {
    // "~" is no home directory once the shell has passed it on.
    SetupDriver driver;
    Configure(driver, {"-s", "-d", "~/media"});
    SetGoodSettings(driver.Installer());
    EXPECT_EQ("ERROR: Cannot install into " + driver.StartDirectory() +
                  "/~/media: its name contains \"~\"" + rule,
              driver.CheckUnattendedSettings());
  }

  SetupDriver driver;
  Configure(driver, {"-s", "-d", "inst"});
  ServerInstaller& installer = driver.Installer();
  SetGoodSettings(installer);
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
  };
  for (const Case& c : cases) {
    char* good = *c.setting;
    *c.setting = const_cast<char*>(c.value);
    EXPECT_EQ(c.message, driver.CheckUnattendedSettings());
    *c.setting = good;
  }
  // The ports come after these texts: none was confirmed yet.
  for (int i = 1; i < 6; ++i)
    EXPECT_EQ(0, installer.m_pPorts[i].bSelected) << i;
  EXPECT_EQ("", driver.CheckUnattendedSettings());
  EXPECT_FALSE(Exists(Path("inst")));
}

// The dialogue with its answers typed ahead on standard input: a
// directory, then passwords, that the server's files cannot hold are
// refused and asked for again.
TEST_F(SetupSteps, DialogueAsksAgainForWhatTheServersFilesCannotHold) {
  std::vector<int> ports = FreePorts(6);
  std::string input =
      "yes\n"   // the license
      "\n"      // the directory from -d, which has a blank
      "a$b\n"   // then one with shell syntax
      "inst\n"  // then a good one
      "admin\npa<ss\npa<ss\n"
      "\ngood\ngood\n"  // the user name stays the default
      "encoder\nR&D\nR&D\n"
      "\nse;cret\nse;cret\n"
      "\nenc\nenc\n";
  for (int port : ports)
    input += std::to_string(port) + "\n";
  input += "no\n";
  ProcessResult child = RunForked([&] {
    int fds[2];
    if (pipe(fds) != 0 ||
        write(fds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
      _exit(98);
    close(fds[1]);
    dup2(fds[0], 0);
    close(fds[0]);
    setenv("PAGER", "cat", 1);
    SetupDriver driver;
    Configure(driver, {"-d", "my media"});
    std::string result = driver.AskInteractively();
    ServerInstaller& installer = driver.Installer();
    printf("\n[%s][%s][%s][%s]", result.c_str(), installer.m_szDefInstallPath,
           installer.m_szAdminPassword, installer.m_szEncoderPassword);
  });
  ASSERT_TRUE(child.exited);
  const std::string rule = "; only letters, digits and \"/._+,:@%=-\" may be used\n";
  const std::string start = CanonicalPath(root_);
  const std::string expected[] = {
      "Installation directory [" + start + "/my media]: ",
      "ERROR: Cannot install into " + start + "/my media: its name contains a blank" + rule,
      "Installation directory [" + start + "/my media]: ",
      "ERROR: Cannot install into " + start + "/a$b: its name contains \"$\"" + rule,
      "Installation directory [" + start + "/my media]: ",
      "ERROR: The password cannot go into the server's files: it contains \"<\"\n",
      "Username [admin]: ",
      "ERROR: The password cannot go into the server's files: it contains \"&\"\n",
      "Username [encoder]: ",
      "ERROR: The password cannot go into the server's files: it contains \";\"\n",
      "Username [encoder]: ",
      "Install now? (yes or no) [yes]: ",
      "\n[Installation cancelled; nothing has been installed.\n][" + start + "/inst][good][enc]",
  };
  size_t at = 0;
  for (const std::string& text : expected) {
    size_t found = child.out.find(text, at);
    ASSERT_NE(std::string::npos, found) << "missing after " << at << ": " << text << "\n"
                                        << child.out;
    at = found + text.size();
  }
  EXPECT_FALSE(Exists(Path("inst")));
}

TEST_F(SetupSteps, DialogueDoesNotBeginWithARealmTheConfigurationCannotHold) {
  WriteFile(Path("inst.cfg"), "EncoderRealm=R&D\n");
  ProcessResult child = RunForked([&] {
    SetupDriver driver;
    Configure(driver, {"-cfg", "inst.cfg"});
    printf("[%s]", driver.AskInteractively().c_str());
  });
  EXPECT_EQ(std::string("Option: read installer configuration from inst.cfg\n") +
                "\nStrata Server 9.08 (9.0.8.1427) Installer\n\n" +
                "[ERROR: EncoderRealm cannot go into the server's files: it contains \"&\"\n]",
            child.out);
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

TEST_F(SetupSteps, ConfigurationFilesAreMadeAfreshWhereLinksStood) {
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  WriteFile(Path("elsewhere.cfg"), "not the server's", 0644);
  symlink("../elsewhere.cfg", (inst + "/qmserver.cfg").c_str());
  symlink("../planted.cfg", (inst + "/default.cfg").c_str());
  {
    SetupDriver driver;
    Configure(driver, {"-s", "-nb", "-d", "inst"});
    SetGoodSettings(driver.Installer());
    ASSERT_EQ("", driver.Install());
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
  SetupDriver again;
  ASSERT_EQ(0, chdir(extract_.c_str()));
  WriteFile(extract_ + "/License.txt", "terms");
  Configure(again, {"-s", "-nb", "-d", "inst"});
  SetGoodSettings(again.Installer());
  ASSERT_EQ("", again.Install());
  EXPECT_EQ("shared", ReadFile(Path("shared.cfg")));
  EXPECT_EQ(0644, ModeOf(Path("shared.cfg")));
  EXPECT_EQ(0600, ModeOf(inst + "/default.cfg"));
}

TEST_F(SetupSteps, ConfigurationThatCannotBeReplacedIsAFailure) {
  std::string inst = Path("inst");
  mkdir(inst.c_str(), 0755);
  MakeDirs(inst + "/default.cfg");
  WriteFile(inst + "/default.cfg/notes", "the administrator's");
  SetupDriver driver;
  Configure(driver, {"-s", "-nb", "-d", "inst"});
  SetGoodSettings(driver.Installer());
  EXPECT_EQ("ERROR: Unable to replace the configuration file " + driver.StartDirectory() +
                "/inst/default.cfg (Directory not empty)\n",
            driver.Install());
  EXPECT_EQ("the administrator's", ReadFile(inst + "/default.cfg/notes"));
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
  SetupDriver driver;
  Configure(driver, {"-s", "-d", "inst"});
  SetGoodSettings(driver.Installer());
  EXPECT_EQ("ERROR: Unable to install the product's files: " + driver.StartDirectory() +
                "/inst/License.txt is a directory that is not empty, where the product has a "
                "file; nothing has been changed\n",
            driver.Install());
  EXPECT_EQ(earlier, TreeOf(inst));
  EXPECT_EQ(product, TreeOf(extract_));
  EXPECT_FALSE(Exists(inst + "/adm_b_db/users"));
}

TEST_F(SetupSteps, BackupThatCannotBeMadeStopsBeforePlacing) {
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
  auto product = TreeOf(extract_);

  SetupDriver driver(std::unique_ptr<SetupInstaller>(new LibStays));
  Configure(driver, {"-s", "-d", "inst"});
  SetGoodSettings(driver.Installer());
  EXPECT_EQ("ERROR: Unable to back up the earlier installation (" + driver.StartDirectory() +
                "/inst/Lib could not be moved to Lib.old); nothing has been installed\n",
            driver.Install());
  // Bin and the configuration moved aside and back again; nothing placed.
  EXPECT_EQ(earlier, TreeOf(inst));
  EXPECT_EQ(product, TreeOf(extract_));
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
