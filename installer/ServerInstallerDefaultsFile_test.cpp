#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "installer/ServerInstaller.h"
#include "tests/InstallerTestHelpers.h"
#include "tests/Subprocess.h"

using installer_test::RecordingUI;

namespace {

// An installer with its defaults, reading files from a scratch directory.
class DefaultsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { m_installer.SetDefaults(); }

  // Writes content to a file and reads it as the installer's defaults file.
  int Read(const std::string& content) {
    std::string path = m_scratch / "inst.cfg";
    WriteFile(path, content);
    return m_installer.ReadInstallerDefaults(path.c_str());
  }
  int AdminPort() { return m_installer.GetInstPort(5); }

  TempDir m_scratch;
  ServerInstaller m_installer;
};

// Records what the reader is asked to do instead of reading.
class TableRecorder : public ServerInstaller {
 public:
  int ReadInstallerConfigItems(const char* path, const InstCfgItem* items, ConsoleUI* ui) override {
    m_path = path;
    m_ui = ui;
    for (const InstCfgItem* item = items; item->szName != nullptr; ++item)
      m_items.push_back(*item);
    return 0;
  }

  std::string m_path;
  ConsoleUI* m_ui = reinterpret_cast<ConsoleUI*>(1);
  std::vector<InstCfgItem> m_items;
};

}  // namespace

TEST_F(DefaultsFileTest, NameAndValueSeparators) {
  const char* lines[] = {
      "adminport = 8000\n", "AdminPort 8000\n",     "AdminPort==8000\n",
      "ADMINPORT=8000\n",   "AdminPort\t=\t8000\n", "   AdminPort=8000\n",
      "AdminPort= =8000\n", "AdminPort=8000",  // no line feed at the end
  };
  for (const char* line : lines) {
    m_installer.m_pPorts[5].nPort = 1;
    EXPECT_EQ(0, Read(line)) << line;
    EXPECT_EQ(8000, AdminPort()) << line;
  }
}

TEST_F(DefaultsFileTest, NumbersReadAsStrtolWould) {
  struct Case {
    const char* value;
    int port;
  };
  const Case cases[] = {
      {"8000abc", 8000},
      {"abc", 0},
      {"", 0},
      {"70000", 70000},
      {"-5", -5},
      {"+7", 7},
      {"8000 9000", 8000},
      // Beyond an int: the nearest int, never a wrapped value.
      {"99999999999999999999", INT_MAX},
      {"-99999999999999999999", INT_MIN},
  };
  for (const Case& c : cases) {
    m_installer.m_pPorts[5].nPort = 1;
    EXPECT_EQ(0, Read(std::string("AdminPort=") + c.value + "\n")) << c.value;
    EXPECT_EQ(c.port, AdminPort()) << c.value;
  }
}

TEST_F(DefaultsFileTest, TextValues) {
  {
    char* before = m_installer.m_szAdminUserID;
    Read("AdminUserID=\n");
    EXPECT_EQ(before, m_installer.m_szAdminUserID);
    Read("AdminUserID=   \t\n");
    EXPECT_EQ(before, m_installer.m_szAdminUserID);
  }
  Read("AdminUserID=admin\n");
  EXPECT_STREQ("admin", m_installer.m_szAdminUserID);
  Read("AdminUserID:admin\n");
  EXPECT_STREQ(":admin", m_installer.m_szAdminUserID);
  Read("AdminRealm=Main Realm  \t \n");
  EXPECT_STREQ("Main Realm", m_installer.m_szAdminRealm);
  Read("DefInstallPath=/opt/media\r\n");
  EXPECT_STREQ("/opt/media", m_installer.m_szDefInstallPath);
  // Quotes, '#', '=' and blanks inside a value are the value's.
  Read("AdminPassword=\"pa=ss # word\"\n");
  EXPECT_STREQ("\"pa=ss # word\"", m_installer.m_szAdminPassword);
  // A line ends at a NUL as well.
  Read(std::string("EncoderUserID=enc\0oder\n", 23));
  EXPECT_STREQ("enc", m_installer.m_szEncoderUserID);
  // The constant default is replaced, not written into.
  Read("LoggingStyle=7\n");
  EXPECT_STREQ("7", m_installer.m_szLoggingStyle);
}

TEST_F(DefaultsFileTest, LinesWithoutAKnownNameAreIgnored) {
  int admin = AdminPort();
  char* user = m_installer.m_szAdminUserID;
  char* realm = m_installer.m_szCDistRealm;
  EXPECT_EQ(0, Read("\tAdminPort=1\n"
                    "#AdminPort=2\n"
                    " # AdminUserID=x\n"
                    "\n"
                    "\r\n"
                    "Admin_Port=9\n"
                    "Admin\xe9Port=3\n"
                    "UnknownName=4\n"
                    "CDistRealm=cdist\n"
                    "LocalHostName=h\n"
                    "=AdminPort=5\n"));
  EXPECT_EQ(admin, AdminPort());
  EXPECT_EQ(user, m_installer.m_szAdminUserID);
  EXPECT_EQ(realm, m_installer.m_szCDistRealm);
}

TEST_F(DefaultsFileTest, FlagsAndPortsChangeOnlyTheirOwnField) {
  Read("SilentInstall=1\n");
  EXPECT_EQ(1, m_installer.m_bSilentInstall);
  EXPECT_EQ(0, m_installer.m_bNonInteractiveInstall);
  Read("NonInteractiveInstall=yes\n");
  EXPECT_EQ(0, m_installer.m_bNonInteractiveInstall);
  Read("NonInteractiveInstall=1\n");
  EXPECT_EQ(1, m_installer.m_bNonInteractiveInstall);

  Read("RTSPPort=5554\nMonitorPort=9999\n");
  EXPECT_EQ(5554, m_installer.GetInstPort(1));
  EXPECT_EQ(0, m_installer.m_pPorts[1].bSelected);
  EXPECT_EQ(9999, m_installer.GetInstPort(0));
  EXPECT_EQ(1, m_installer.m_pPorts[0].bSelected);
}

TEST_F(DefaultsFileTest, LaterLinesWin) {
  Read("AdminPort=8000\nAdminUserID=first\nadminport=8001\nADMINUSERID=second\n");
  EXPECT_EQ(8001, AdminPort());
  EXPECT_STREQ("second", m_installer.m_szAdminUserID);
}

TEST_F(DefaultsFileTest, LongLinesAreReadWhole) {
  {
    // The tail of a long comment must not be taken for a line of its own.
    char* password = m_installer.m_szAdminPassword;
    EXPECT_EQ(0, Read("#" + std::string(1022, 'x') + "AdminPassword=evil\n" + "#" +
                      std::string(5000, 'y') + "AdminPassword=evil\n"));
    EXPECT_EQ(password, m_installer.m_szAdminPassword);
  }
  {
    std::string realm(3000, 'r');
    Read("AdminRealm=" + realm + "\nAdminPort=8000\n");
    EXPECT_EQ(realm, m_installer.m_szAdminRealm);
    EXPECT_EQ(8000, AdminPort());
  }
}

TEST_F(DefaultsFileTest, EmptyAndMissingFilesChangeNothing) {
  int admin = AdminPort();
  char* path = m_installer.m_szDefInstallPath;
  EXPECT_EQ(0, Read(""));
  EXPECT_EQ(admin, AdminPort());

  errno = 0;
  EXPECT_EQ(-1, m_installer.ReadInstallerDefaults((m_scratch / "missing.cfg").c_str()));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(admin, AdminPort());
  EXPECT_EQ(path, m_installer.m_szDefInstallPath);
}

TEST_F(DefaultsFileTest, OnlyRegularFilesAreRead) {
  {
    errno = 0;
    EXPECT_EQ(-1, m_installer.ReadInstallerDefaults(m_scratch.path().c_str()));
    EXPECT_EQ(EISDIR, errno);
  }
  {
    // Nobody writes to this FIFO: reading it would wait for ever.
    std::string fifo = m_scratch / "fifo.cfg";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    errno = 0;
    EXPECT_EQ(-1, m_installer.ReadInstallerDefaults(fifo.c_str()));
    EXPECT_EQ(EINVAL, errno);
  }
  {
    errno = 0;
    EXPECT_EQ(-1, m_installer.ReadInstallerDefaults("/dev/null"));
    EXPECT_EQ(EINVAL, errno);
  }
  {
    // A link to a regular file is read through.
    std::string target = m_scratch / "real.cfg";
    std::string link = m_scratch / "link.cfg";
    WriteFile(target, "AdminPort=8123\n");
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
    EXPECT_EQ(0, m_installer.ReadInstallerDefaults(link.c_str()));
    EXPECT_EQ(8123, AdminPort());
  }
}

TEST_F(DefaultsFileTest, InstallerTableHasTheTwentyTwoItemsInOrder) {
  TableRecorder recorder;
  recorder.SetDefaults();
  EXPECT_EQ(0, recorder.ReadInstallerDefaults("some.cfg"));
  EXPECT_EQ("some.cfg", recorder.m_path);
  EXPECT_EQ(nullptr, recorder.m_ui);

  struct Expected {
    const char* name;
    void* target;
    int type;
  };
  ServerInstaller& r = recorder;
  const Expected expected[] = {
      {"DefInstallPath", &r.m_szDefInstallPath, 0},
      {"AdminUserID", &r.m_szAdminUserID, 0},
      {"AdminPassword", &r.m_szAdminPassword, 0},
      {"AdminRealm", &r.m_szAdminRealm, 0},
      {"AdminPort", &r.m_pPorts[5].nPort, 2},
      {"EncoderUserID", &r.m_szEncoderUserID, 0},
      {"EncoderPassword", &r.m_szEncoderPassword, 0},
      {"EncoderRealm", &r.m_szEncoderRealm, 0},
      {"RBSEncoderRealm", &r.m_szRBSEncoderRealm, 0},
      {"WMEncoderRealm", &r.m_szWMEncoderRealm, 0},
      {"ContentRealm", &r.m_szContentRealm, 0},
      {"MonitorPassword", &r.m_szMonitorPassword, 0},
      {"MonitorPort", &r.m_pPorts[0].nPort, 2},
      {"HTTPPort", &r.m_pPorts[3].nPort, 2},
      {"RTSPPort", &r.m_pPorts[1].nPort, 2},
      {"VQXPort", &r.m_pPorts[2].nPort, 2},
      {"MMSPort", &r.m_pPorts[4].nPort, 2},
      {"LoggingStyle", &r.m_szLoggingStyle, 0},
      {"BackupOldFiles", &r.m_bBackupOldFiles, 1},
      {"SilentInstall", &r.m_bSilentInstall, 1},
      {"NonInteractiveInstall", &r.m_bNonInteractiveInstall, 1},
      {"DebugInstall", &r.m_bDebugInstall, 1},
  };
  ASSERT_EQ(sizeof expected / sizeof expected[0], recorder.m_items.size());
  for (size_t i = 0; i < recorder.m_items.size(); ++i) {
    EXPECT_STREQ(expected[i].name, recorder.m_items[i].szName);
    EXPECT_EQ(expected[i].target, recorder.m_items[i].pTarget) << expected[i].name;
    EXPECT_EQ(expected[i].type, recorder.m_items[i].nType) << expected[i].name;
  }
}

TEST_F(DefaultsFileTest, ConfigItemsAreEchoedAsTheTableNamesThem) {
  int first = 0;
  int second = 0;
  int odd = 42;
  char* text = nullptr;
  const ServerInstaller::InstCfgItem items[] = {
      {"AdminPort", &first, 2}, {"adminPORT", &second, 1}, {"Nothing", nullptr, 0},
      {"Odd", &odd, 7},         {"Text", &text, 0},        {nullptr, nullptr, 0},
  };
  std::string path = m_scratch / "items.cfg";
  WriteFile(path, "adminport=8000\nnothing = x \nODD=5\nText=\nunknown=1\n");
  RecordingUI ui;
  EXPECT_EQ(0, m_installer.ReadInstallerConfigItems(path.c_str(), items, &ui));

  // Every matching item is echoed and filled, not only the first; items that
  // store nothing are echoed too.
  std::vector<std::pair<RecordingUI::Channel, std::string>> echoed = {
      {RecordingUI::kMessage, "      :Config: AdminPort = 8000\n"},
      {RecordingUI::kMessage, "      :Config: adminPORT = 8000\n"},
      {RecordingUI::kMessage, "      :Config: Nothing = x\n"},
      {RecordingUI::kMessage, "      :Config: Odd = 5\n"},
      {RecordingUI::kMessage, "      :Config: Text = \n"},
  };
  EXPECT_EQ(echoed, ui.m_shown);
  EXPECT_EQ(8000, first);
  EXPECT_EQ(8000, second);
  EXPECT_EQ(42, odd);
  EXPECT_EQ(nullptr, text);

  // A null table is an empty one.
  RecordingUI quiet;
  EXPECT_EQ(0, m_installer.ReadInstallerConfigItems(path.c_str(), nullptr, &quiet));
  EXPECT_TRUE(quiet.m_shown.empty());
}

TEST(ConfigItemTexts, CallersTargetsKeepTheirTextsAfterTheInstallerGoes) {
  TempDir scratch;
  std::string path = scratch / "items.cfg";
  WriteFile(path, "Name=value\nRealm=Main Realm\nAdminUserID=ann\n");
  char* name = nullptr;
  char* realm = const_cast<char*>("constant");
  {
    ServerInstaller installer;
    const ServerInstaller::InstCfgItem items[] = {
        {"Name", &name, 0},
        {"Realm", &realm, 0},
        {"AdminUserID", &installer.m_szAdminUserID, 0},
        {nullptr, nullptr, 0},
    };
    EXPECT_EQ(0, installer.ReadInstallerConfigItems(path.c_str(), items, nullptr));
    EXPECT_STREQ("ann", installer.m_szAdminUserID);
    // Read by a caller, even into a setting, the text is the caller's; it
    // hands it to the installer, which then releases it.
    EXPECT_EQ(installer.m_szAdminUserID, installer.AdoptText(installer.m_szAdminUserID));
  }
  // The caller's variables hold texts of their own, still valid and the
  // caller's to release.
  EXPECT_STREQ("value", name);
  EXPECT_STREQ("Main Realm", realm);
  delete[] name;
  delete[] realm;
}

// A driver that reads a setting of its own along with the installer's table.
class ExtendedDefaults : public ServerInstaller {
 public:
  int ReadInstallerConfigItems(const char* path, const InstCfgItem* items, ConsoleUI* ui) override {
    std::vector<InstCfgItem> extended;
    for (const InstCfgItem* item = items; item->szName != nullptr; ++item)
      extended.push_back(*item);
    extended.push_back({"SiteName", &m_szSiteName, 0});
    extended.push_back({nullptr, nullptr, 0});
    return ServerInstaller::ReadInstallerConfigItems(path, extended.data(), ui);
  }

  char* m_szSiteName = nullptr;
};

TEST(ConfigItemTexts, ADerivedInstallersOwnSettingsAreTheInstallersToRelease) {
  TempDir scratch;
  std::string path = scratch / "inst.cfg";
  // Given twice, so that the first copy is replaced: both are released with
  // the installer (the leak checker of the sanitized build would see either).
  WriteFile(path, "SiteName=north\nSiteName=south\nAdminUserID=ann\n");
  ExtendedDefaults installer;
  EXPECT_EQ(0, installer.ReadInstallerDefaults(path.c_str()));
  EXPECT_STREQ("south", installer.m_szSiteName);
  EXPECT_STREQ("ann", installer.m_szAdminUserID);
}
