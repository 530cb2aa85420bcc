#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "installer/ServerInstaller.h"
#include "product/InstallerBanner.h"
#include "tests/Subprocess.h"

namespace {

// A child that cannot enter the isolation a test needs ends with this.
const int kNoPrivilege = 3;

std::string DefaultDirIn(const std::string& dir) {
  ScopedChdir here(dir);
  ServerInstaller installer;
  char* parent = nullptr;
  installer.SetDefaultDir(parent);
  std::string result = parent != nullptr ? parent : "<null>";
  delete[] parent;
  return result;
}

std::string Realms(const ServerInstaller& installer) {
  return std::string(installer.m_szAdminRealm) + "\n" + installer.m_szEncoderRealm + "\n" +
         installer.m_szRBSEncoderRealm + "\n" + installer.m_szWMEncoderRealm + "\n" +
         installer.m_szCDistRealm + "\n" + installer.m_szContentRealm + "\n";
}

std::string ExpectedRealms(const std::string& prefix) {
  return prefix + ".AdminRealm\n" + prefix + ".EncoderRealm\n" + prefix + ".RBSEncoderRealm\n" +
         prefix + ".WMEncoderRealm\n" + prefix + ".CDistRealm\n" + prefix + ".ContentRealm\n";
}

// SetDefaults in a child with its own host name (a UTS namespace of its own);
// the child prints the host name it saw and the six realms.
ProcessResult DefaultsWithHostName(const std::string& hostName) {
  return RunForked(ForkOptions::MarkReturn(), [&hostName] {
    if (unshare(CLONE_NEWUTS) != 0 || sethostname(hostName.c_str(), hostName.size()) != 0)
      _exit(kNoPrivilege);
    ServerInstaller installer;
    installer.SetDefaults();
    printf("[%s]\n%s", installer.m_szLocalHostName, Realms(installer).c_str());
  });
}

// Records what SetDefaults asks through the virtual table. Its
// SetDefaultDir stores a text that is not the installer's to release.
class DefaultsRecorder : public ServerInstaller {
 public:
  void SetDefaultDir(char*& dir) override {
    calls.push_back("SetDefaultDir");
    dir = const_cast<char*>("/srv/constant");
  }
  int RandomPort(int low, int high) override {
    calls.push_back("RandomPort(" + std::to_string(low) + ", " + std::to_string(high) + ")");
    return ServerInstaller::RandomPort(low, high);
  }
  int GenerateRandomPort(int low, int high, int* avoid) override {
    std::string call = "GenerateRandomPort(" + std::to_string(low) + ", " + std::to_string(high);
    for (int* port = avoid; *port != 0; ++port)
      call += (port == avoid ? ": " : " ") + std::to_string(*port);
    calls.push_back(call + ")");
    return 12345;
  }

  std::vector<std::string> calls;
};

// A SetDefaultDir that hands out a text of its own keeping.
class OwnDirInstaller : public ServerInstaller {
 public:
  void SetDefaultDir(char*& dir) override { dir = &m_dir[0]; }
  std::string m_dir = "/srv/own";
};

}  // namespace

TEST(ServerInstallerDefaults, SetDefaultsCallsThroughTheVirtualTable) {
  DefaultsRecorder installer;
  installer.SetDefaults();
  // The Admin draw avoids the five ports just set; the list ends at the
  // Admin entry, which is still unset.
  std::vector<std::string> expected = {"SetDefaultDir", "RandomPort(10000, 30000)",
                                       "GenerateRandomPort(10000, 30000: 9090 554 7070 80 1755)"};
  EXPECT_EQ(expected, installer.calls);
  EXPECT_EQ(12345, installer.GetInstPort(5));
  EXPECT_STREQ("/srv/constant", installer.m_szDefInstallPath);

  // A second call avoids the earlier Admin port as well.
  installer.calls.clear();
  installer.SetDefaults();
  expected[2] = "GenerateRandomPort(10000, 30000: 9090 554 7070 80 1755 12345)";
  EXPECT_EQ(expected, installer.calls);
}

TEST(ServerInstallerDefaults, DirectoryOfAnOverrideIsNotReleased) {
  // Released by the installer, these texts would be an invalid free.
  {
    DefaultsRecorder installer;
    installer.SetDefaults();
    EXPECT_STREQ("/srv/constant", installer.m_szDefInstallPath);
  }
  {
    OwnDirInstaller installer;
    installer.SetDefaults();
    EXPECT_EQ(&installer.m_dir[0], installer.m_szDefInstallPath);
  }
}

TEST(ServerInstallerDefaults, FreshObjectBacksUpAndIsNeitherSilentNorInteractive) {
  ServerInstaller installer;
  EXPECT_EQ(1, installer.m_bBackupOldFiles);
  EXPECT_EQ(0, installer.m_bSilentInstall);
  EXPECT_EQ(0, installer.m_bNonInteractiveInstall);
  EXPECT_EQ(0, installer.m_bDebugInstall);
  EXPECT_EQ(nullptr, installer.m_szDefInstallPath);
  EXPECT_EQ(nullptr, installer.m_szAdminRealm);
}

TEST(ServerInstallerDefaults, InstallPathIsTheParentOfTheWorkingDirectory) {
  TempDir scratch;
  {
    std::string dir = MakeDirs(scratch / "home/ann/qzsetup");
    EXPECT_EQ(scratch / "home/ann", DefaultDirIn(dir));
  }
  {
    // The root has no parent to name: the empty text, not a null.
    EXPECT_EQ("", DefaultDirIn("/"));
  }
  {
    ServerInstaller installer;
    ScopedChdir here(MakeDirs(scratch / "opt/qzsetup"));
    installer.SetDefaults();
    ASSERT_NE(nullptr, installer.m_szDefInstallPath);
    EXPECT_EQ(scratch / "opt", installer.m_szDefInstallPath);
  }
}

TEST(ServerInstallerDefaults, InstallPathBelowTheRootIsEmpty) {
  TempDir scratch;
  MakeDirs(scratch / "qzsetup");
  // A directory right below "/" needs a root of our own.
  ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&scratch] {
    if (chroot(scratch.path().c_str()) != 0 || chdir("/qzsetup") != 0)
      _exit(kNoPrivilege);
    ServerInstaller installer;
    char* parent = nullptr;
    installer.SetDefaultDir(parent);
    printf("[%s]", parent != nullptr ? parent : "<null>");
    delete[] parent;
  });
  if (child.exited && child.code == kNoPrivilege)
    GTEST_SKIP() << "chroot is not permitted here";
  EXPECT_TRUE(child.exited);
  EXPECT_EQ(kBodyReturned, child.code);
  EXPECT_EQ("[]", child.out);
}

TEST(ServerInstallerDefaults, InstallPathIsEmptyWhenTheWorkingDirectoryIsGone) {
  TempDir scratch;
  std::string doomed = MakeDirs(scratch / "inst/qzsetup");
  ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&doomed] {
    if (chdir(doomed.c_str()) != 0 || rmdir(doomed.c_str()) != 0)
      _exit(kNoPrivilege);
    ServerInstaller installer;
    installer.SetDefaults();
    printf("[%s]",
           installer.m_szDefInstallPath != nullptr ? installer.m_szDefInstallPath : "<null>");
  });
  EXPECT_EQ(kBodyReturned, child.code);
  EXPECT_EQ("[]", child.out);
}

TEST(ServerInstallerDefaults, InstallPathMayBeLongerThanAPathBuffer) {
  TempDir scratch;
  const std::string component(200, 'd');
  const int depth = 25;  // 5000 characters and more below the scratch dir
  std::string expected = scratch.path();
  for (int i = 0; i < depth - 1; ++i)
    expected += "/" + component;
  ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&] {
    if (chdir(scratch.path().c_str()) != 0)
      _exit(kNoPrivilege);
    for (int i = 0; i < depth; ++i) {
      if (mkdir(component.c_str(), 0755) != 0 || chdir(component.c_str()) != 0)
        _exit(kNoPrivilege);
    }
    ServerInstaller installer;
    char* parent = nullptr;
    installer.SetDefaultDir(parent);
    printf("%s", parent);
    delete[] parent;
  });
  EXPECT_EQ(kBodyReturned, child.code);
  EXPECT_GT(expected.size(), 4096u);
  EXPECT_EQ(expected, child.out);
}

TEST(ServerInstallerDefaults, RealmsAndHostNameComeFromTheMachine) {
  char host[1024] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  ServerInstaller installer;
  installer.SetDefaults();
  ASSERT_NE(nullptr, installer.m_szLocalHostName);
  EXPECT_STREQ(host, installer.m_szLocalHostName);
  EXPECT_EQ(ExpectedRealms(host[0] != '\0' ? host : "StrataServer"), Realms(installer));
}

TEST(ServerInstallerDefaults, RealmsFollowTheHostNameOrFallBack) {
  {
    ProcessResult child = DefaultsWithHostName("media1");
    if (child.exited && child.code == kNoPrivilege)
      GTEST_SKIP() << "no UTS namespace of our own here";
    EXPECT_EQ(kBodyReturned, child.code);
    EXPECT_EQ("[media1]\n" + ExpectedRealms("media1"), child.out);
  }
  {
    // The longest host name Linux allows still makes whole realms.
    std::string longName(64, 'h');
    ProcessResult child = DefaultsWithHostName(longName);
    EXPECT_EQ("[" + longName + "]\n" + ExpectedRealms(longName), child.out);
  }
  {
    ProcessResult child = DefaultsWithHostName("");
    EXPECT_EQ(kBodyReturned, child.code);
    EXPECT_EQ("[]\n" + ExpectedRealms("StrataServer"), child.out);
  }
}

TEST(ServerInstallerDefaults, PortsFileNamesAndLoggingStyle) {
  ServerInstaller installer;
  installer.SetDefaults();
  const int fixed[] = {9090, 554, 7070, 80, 1755};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(fixed[i], installer.GetInstPort(i)) << ServerInstaller::g_pPortNames[i];
  int admin = installer.GetInstPort(5);
  EXPECT_GE(admin, 10000);
  EXPECT_LT(admin, 30000);

  // Only Monitor counts as selected from the start.
  EXPECT_EQ(1, installer.m_pPorts[0].bSelected);
  for (int i = 1; i < 6; ++i)
    EXPECT_EQ(0, installer.m_pPorts[i].bSelected) << ServerInstaller::g_pPortNames[i];

  EXPECT_STREQ("qmserver.cfg", installer.m_szConfigFileName);
  EXPECT_STREQ("default.cfg", installer.m_szDefaultConfigFileName);
  EXPECT_STREQ("5", installer.m_szLoggingStyle);
}

TEST(ServerInstallerDefaults, SecondCallRedrawsAndResetsOnlyItsOwnSettings) {
  ServerInstaller installer;
  installer.SetDefaults();
  int firstAdmin = installer.GetInstPort(5);
  char* firstRealm = installer.m_szAdminRealm;

  char user[] = "ann";
  installer.m_szAdminUserID = user;
  installer.m_bSilentInstall = 1;
  installer.m_bBackupOldFiles = 0;
  installer.SetInstPort(3, 8080);
  EXPECT_EQ(8080, installer.GetInstPort(3));
  installer.SetDefaults();

  // The earlier Admin port is in the table while the new one is drawn.
  EXPECT_NE(firstAdmin, installer.GetInstPort(5));
  EXPECT_EQ(80, installer.GetInstPort(3));
  EXPECT_EQ(1, installer.m_pPorts[3].bSelected);
  // A new realm text; the old one stays valid for whoever still holds it.
  EXPECT_NE(firstRealm, installer.m_szAdminRealm);
  EXPECT_STREQ(firstRealm, installer.m_szAdminRealm);
  EXPECT_EQ(user, installer.m_szAdminUserID);
  EXPECT_EQ(1, installer.m_bSilentInstall);
  EXPECT_EQ(0, installer.m_bBackupOldFiles);
}

TEST(ServerInstaller, VersionBannerIsTheProductsBanner) {
  const char* banner = ServerInstaller::VersionBanner();
  EXPECT_STREQ("\nStrata Server 9.08 (9.0.8.1427) Installer", banner);
  EXPECT_EQ(banner, ServerInstaller::VersionBanner());
  EXPECT_EQ(InstallerBanner(), banner);
}
