#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "installer/ServerInstaller.h"
#include "tests/InstallerTestHelpers.h"
#include "tests/Subprocess.h"

namespace {

// A driver that supplies a configuration text of its own.
class OwnTextInstaller : public ServerInstaller {
 public:
  char* FormatConfigFile() override { return m_szConfigFileText = OwnedCopy("<own/>\n"); }
};

class GeneratedFiles : public installer_test::InstallationTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(InstallationTest::SetUp());
    Configure(installer_);
  }

  void Configure(ServerInstaller& installer) {
    installer.m_szDefInstallPath = install_.data();
    const int ports[6] = {19090, 1554, 17070, 8080, 11755, 23456};
    for (int i = 0; i < 6; ++i)
      installer.SetInstPort(i, ports[i]);
    installer.m_szAdminPassword = adminPassword_;
    installer.m_szMonitorPassword = monitorPassword_;
    installer.m_szLoggingStyle = style_;
  }

  // Runs CreateConfigFile with name and returns what it printed.
  std::string CreateConfig(ServerInstaller& installer, const char* name) {
    testing::internal::CaptureStdout();
    installer.CreateConfigFile(name);
    return testing::internal::GetCapturedStdout();
  }

  std::string CreateScript(ServerInstaller& installer) {
    testing::internal::CaptureStdout();
    installer.CreateLoopcastScript();
    return testing::internal::GetCapturedStdout();
  }

  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  ServerInstaller installer_;
  char adminPassword_[8] = "adminpw";
  char monitorPassword_[6] = "monpw";
  char style_[2] = "5";
};

using FormatConfigFile = GeneratedFiles;

TEST_F(FormatConfigFile, TakesItsValuesFromTheSettings) {
  std::string text = installer_.FormatConfigFile();
  EXPECT_EQ(0u, text.find("<?XML Version=\"1.0\" ?>\n\n"));
  EXPECT_TRUE(Contains(text, "\n<Var LogPath=\"" + install_ + "/Logs/qmaccess.log\"/>\n"));
  // Ports in the file's order, which is not the order of the port table.
  EXPECT_TRUE(Contains(text,
                       "\n<Var RTSPPort=\"1554\"/>\n<Var VQXPort=\"17070\"/>\n"
                       "<Var HTTPPort=\"8080\"/>\n<Var MMSPort=\"11755\"/>\n"
                       "<Var MonitorPort=\"19090\"/>\n<Var AdminPort=\"23456\"/>\n"));
  // The monitor's password in the file is the administrator's.
  EXPECT_TRUE(Contains(text, "\n<Var MonitorPassword=\"adminpw\"/>\n"));
  EXPECT_FALSE(Contains(text, "monpw"));
  EXPECT_TRUE(Contains(text, "\n<Var LoggingStyle=\"5\"/>\n"));
}

TEST_F(FormatConfigFile, EachCopyStaysValidAndTheLastIsKept) {
  char* first = installer_.FormatConfigFile();
  EXPECT_EQ(first, installer_.m_szConfigFileText);
  std::string firstText = first;
  char other[] = "otherpw";
  installer_.m_szAdminPassword = other;
  char* second = installer_.FormatConfigFile();
  EXPECT_NE(first, second);
  EXPECT_EQ(second, installer_.m_szConfigFileText);
  EXPECT_EQ(firstText, first);
  EXPECT_TRUE(Contains(second, "\n<Var MonitorPassword=\"otherpw\"/>\n"));
}

TEST_F(FormatConfigFile, UnsetSettingsAreEmpty) {
  ServerInstaller installer;
  std::string text = installer.FormatConfigFile();
  EXPECT_FALSE(Contains(text, "(null)"));
  EXPECT_TRUE(Contains(text, "\n<Var MonitorPassword=\"\"/>\n"));
  EXPECT_TRUE(Contains(text, "\n<Var PluginDirectory=\"Plugins\"/>\n"));
}

using CreateConfigFile = GeneratedFiles;

TEST_F(CreateConfigFile, WritesIntoTheInstallationDirectory) {
  EXPECT_EQ("", CreateConfig(installer_, "qmserver.cfg"));
  EXPECT_EQ(work_, CurrentDir());
  EXPECT_EQ(installer_.m_szConfigFileText, ReadFile(install_ + "/qmserver.cfg"));
  EXPECT_TRUE(Contains(ReadFile(install_ + "/qmserver.cfg"), "\"adminpw\""));
  EXPECT_EQ(std::set<std::string>(), ListTree(work_));

  // Formatted anew for every file.
  char other[] = "otherpw";
  installer_.m_szAdminPassword = other;
  EXPECT_EQ("", CreateConfig(installer_, "default.cfg"));
  EXPECT_TRUE(Contains(ReadFile(install_ + "/default.cfg"), "\"otherpw\""));
}

TEST_F(CreateConfigFile, WritesTheDriversOwnText) {
  OwnTextInstaller installer;
  Configure(installer);
  EXPECT_EQ("", CreateConfig(installer, "qmserver.cfg"));
  EXPECT_EQ("<own/>\n", ReadFile(install_ + "/qmserver.cfg"));
}

TEST_F(CreateConfigFile, SpellingsOfTheInstallationDirectory) {
  {
    // The trailing slash does not double in the paths of the file.
    std::string slashed = install_ + "/";
    installer_.m_szDefInstallPath = slashed.data();
    EXPECT_EQ("", CreateConfig(installer_, "qmserver.cfg"));
    std::string text = ReadFile(install_ + "/qmserver.cfg");
    EXPECT_TRUE(Contains(text, "\n<Var LogPath=\"" + install_ + "/Logs/qmaccess.log\"/>\n"));
    EXPECT_FALSE(Contains(text, install_ + "//"));
  }
  {
    // A relative directory is taken from the working directory.
    ASSERT_EQ(0, chdir(root_.c_str()));
    char relative[] = "inst";
    installer_.m_szDefInstallPath = relative;
    EXPECT_EQ("", CreateConfig(installer_, "rel.cfg"));
    EXPECT_EQ(root_, CurrentDir());
    EXPECT_TRUE(
        Contains(ReadFile(install_ + "/rel.cfg"), "\n<Var LogPath=\"inst/Logs/qmaccess.log\"/>\n"));
  }
  for (char* dir : {static_cast<char*>(nullptr), const_cast<char*>("")}) {
    // Neither empty nor null names a directory to enter.
    installer_.m_szDefInstallPath = dir;
    std::set<std::string> before = ListTree(root_);
    EXPECT_EQ("Error accessing directory  (No such file or directory)\n",
              CreateConfig(installer_, "qmserver.cfg"));
    EXPECT_EQ(before, ListTree(root_));
  }
}

TEST_F(CreateConfigFile, UnreachableDirectoryIsReportedUnlessSilent) {
  std::string missing = Path("missing");
  installer_.m_szDefInstallPath = missing.data();
  EXPECT_EQ("Error accessing directory " + missing + " (No such file or directory)\n",
            CreateConfig(installer_, "qmserver.cfg"));
  EXPECT_EQ(work_, CurrentDir());
  installer_.m_bSilentInstall = 1;
  EXPECT_EQ("", CreateConfig(installer_, "qmserver.cfg"));
  EXPECT_EQ(std::set<std::string>({"inst/", "work/"}), ListTree(root_));
}

TEST_F(CreateConfigFile, UnwritableFileIsReportedEvenWhenSilent) {
  ASSERT_EQ(0, mkdir((install_ + "/qmserver.cfg").c_str(), 0755));
  for (int silent : {0, 1}) {
    installer_.m_bSilentInstall = silent;
    EXPECT_EQ("Error creating qmserver.cfg (Is a directory)\n",
              CreateConfig(installer_, "qmserver.cfg"));
    EXPECT_EQ(work_, CurrentDir());
  }
  // A text that cannot be written whole is no written file either.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ("Error creating /dev/full (No space left on device)\n",
              CreateConfig(installer_, "/dev/full"));
  }
}

TEST_F(CreateConfigFile, WriteCutShortKeepsTheEarlierFile) {
  std::string path = install_ + "/qmserver.cfg";
  WriteFile(path, "earlier configuration", 0600);
  // A file-size limit stops the write well inside the text, after the file
  // was opened: only the final writes fail.
  ProcessResult child = RunForked([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    installer_.m_bSilentInstall = 1;
    installer_.CreateConfigFile("qmserver.cfg");
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ("Error creating qmserver.cfg (File too large)\n", child.out);
  EXPECT_EQ("earlier configuration", ReadFile(path));
  EXPECT_EQ(0600, ModeOf(path));
  EXPECT_EQ(std::vector<std::string>({"qmserver.cfg"}), ListDirectory(install_));
}

TEST_F(CreateConfigFile, WritesAndReturnsWhenTheWorkingDirectoryIsGone) {
  ProcessResult child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
    struct stat before, after;
    stat(".", &before);
    if (rmdir(work_.c_str()) != 0)
      _exit(2);
    installer_.CreateConfigFile("qmserver.cfg");
    installer_.CreateLoopcastScript();
    stat(".", &after);
    _exit(before.st_dev == after.st_dev && before.st_ino == after.st_ino ? 0 : 1);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
  EXPECT_EQ("", child.out);
  EXPECT_TRUE(Contains(ReadFile(install_ + "/qmserver.cfg"), "\"adminpw\""));
}

using CreateLoopcastScript = GeneratedFiles;

TEST_F(CreateLoopcastScript, WritesAnExecutableScriptWhateverTheUmask) {
  ASSERT_EQ(0, mkdir((install_ + "/Bin").c_str(), 0755));
  umask(077);
  EXPECT_EQ("", CreateScript(installer_));
  EXPECT_EQ(work_, CurrentDir());
  std::string script = ReadFile(install_ + "/Bin/loopcast.sh");
  EXPECT_EQ(0755, ModeOf(install_ + "/Bin/loopcast.sh"));
  EXPECT_EQ(0u, script.find("#!/bin/sh\n"));
  ASSERT_GE(script.size(), 6u);
  EXPECT_EQ("\nexit\n", script.substr(script.size() - 6));
  EXPECT_EQ(118, std::count(script.begin(), script.end(), '\n'));
  EXPECT_TRUE(Contains(script, "\nLOOPCAST_PLUGIN_PATH=" + install_ + "/Plugins\n"));
  EXPECT_TRUE(Contains(script, "\n    \"" + install_ + "/Bin/loopcast\"  $* \n"));

  // A later call rewrites the script and its mode.
  ASSERT_TRUE(WriteFile(install_ + "/Bin/loopcast.sh", "old"));
  ASSERT_EQ(0, chmod((install_ + "/Bin/loopcast.sh").c_str(), 0600));
  std::string slashed = install_ + "/";
  installer_.m_szDefInstallPath = slashed.data();
  EXPECT_EQ("", CreateScript(installer_));
  EXPECT_EQ(0755, ModeOf(install_ + "/Bin/loopcast.sh"));
  EXPECT_TRUE(Contains(ReadFile(install_ + "/Bin/loopcast.sh"),
                       "\nLOOPCAST_PLUGIN_PATH=" + install_ + "//Plugins\n"));
}

TEST_F(CreateLoopcastScript, WithoutBinNothingIsWrittenOrReported) {
  std::set<std::string> before = ListTree(root_);
  EXPECT_EQ("", CreateScript(installer_));
  EXPECT_EQ(before, ListTree(root_));
  EXPECT_EQ(work_, CurrentDir());
}

TEST_F(CreateLoopcastScript, UnreachableDirectoryIsReportedUnlessSilent) {
  std::string missing = Path("missing");
  installer_.m_szDefInstallPath = missing.data();
  EXPECT_EQ("Error accessing directory " + missing + " (No such file or directory)\n",
            CreateScript(installer_));
  EXPECT_EQ(work_, CurrentDir());
  installer_.m_bSilentInstall = 1;
  EXPECT_EQ("", CreateScript(installer_));
  installer_.m_szDefInstallPath = nullptr;
  installer_.m_bSilentInstall = 0;
  EXPECT_EQ("Error accessing directory  (No such file or directory)\n", CreateScript(installer_));
  EXPECT_EQ(std::set<std::string>({"inst/", "work/"}), ListTree(root_));
}

}  // namespace
