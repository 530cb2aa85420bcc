#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "console/ConsoleUI.h"
#include "installer/ServerInstaller.h"
#include "tests/InstallerTestHelpers.h"
#include "tests/Subprocess.h"

using installer_test::TranscribeCallsAtExit;
using installer_test::TranscribedCalls;

namespace {

// A driver that records the names it is asked to back up.
class BackupRecorder : public ServerInstaller {
 public:
  int BackupIfPresent(const char* name) override {
    names.push_back(name);
    return ServerInstaller::BackupIfPresent(name);
  }
  std::vector<std::string> names;
};

// A driver that records its shell commands and runs them from the skip-th on
// (skip 1 leaves the extraction directory for the delayed removal).
class CommandRecorder : public ServerInstaller {
 public:
  int System(const char* command) override {
    commands.push_back(command);
    if (commands.size() <= skip)
      return 0;
    return ServerInstaller::System(command);
  }
  std::vector<std::string> commands;
  size_t skip = 0;
};

// A console that marks where the dots would start and stop.
class MarkingUI : public ConsoleUI {
 public:
  void StartPrintingDots() override { printf("<start>"); }
  void StopPrintingDots() override { printf("<stop>"); }
};

const char* const kSix[] = {"Bin", "Plugins", "Lib", "qmserver.cfg", "qmproxy.cfg", "default.cfg"};

class BackupOldFiles : public installer_test::InstallationTest {
 protected:
  // An installation whose files all carry tag.
  void MakeInstallation(const std::string& tag) {
    for (const char* dir : {"Bin", "Plugins", "Lib"}) {
      ASSERT_EQ(0, mkdir((install_ + "/" + dir).c_str(), 0755));
      ASSERT_TRUE(WriteFile(install_ + "/" + dir + "/file", tag));
    }
    for (const char* file : {"qmserver.cfg", "qmproxy.cfg", "default.cfg"})
      ASSERT_TRUE(WriteFile(install_ + "/" + file, tag));
  }

  // Runs BackupOldFiles and returns what it printed.
  std::string Backup(ServerInstaller& installer) {
    installer.m_szDefInstallPath = install_.data();
    testing::internal::CaptureStdout();
    installer.BackupOldFiles();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(BackupOldFiles, FreshDirectoryIsLeftAlone) {
  ASSERT_TRUE(WriteFile(install_ + "/README", "x"));
  ASSERT_EQ(0, mkdir((install_ + "/Docs").c_str(), 0755));
  std::set<std::string> before = ListTree(root_);
  ServerInstaller installer;
  EXPECT_EQ("", Backup(installer));
  EXPECT_EQ(before, ListTree(root_));
  EXPECT_EQ(work_, CurrentDir());
}

TEST_F(BackupOldFiles, EarlierInstallationMovesAside) {
  MakeInstallation("one");
  ASSERT_TRUE(WriteFile(install_ + "/README", "x"));
  ServerInstaller installer;
  EXPECT_EQ("", Backup(installer));
  std::set<std::string> expected = {
      "Bin.old/",     "Bin.old/file",     "Plugins.old/",    "Plugins.old/file", "Lib.old/",
      "Lib.old/file", "qmserver.cfg.old", "qmproxy.cfg.old", "default.cfg.old",  "README"};
  EXPECT_EQ(expected, ListTree(install_));
  EXPECT_EQ("one", ReadFile(install_ + "/qmserver.cfg.old"));
  EXPECT_EQ("one", ReadFile(install_ + "/Bin.old/file"));
  EXPECT_EQ(work_, CurrentDir());
}

TEST_F(BackupOldFiles, SecondBackupReplacesFilesButNotFullDirectories) {
  MakeInstallation("one");
  ServerInstaller installer;
  Backup(installer);
  // An empty earlier backup directory gives way, a full one does not.
  ASSERT_EQ(0, unlink((install_ + "/Lib.old/file").c_str()));
  MakeInstallation("two");

  EXPECT_EQ("", Backup(installer));
  for (const char* file : {"qmserver.cfg", "qmproxy.cfg", "default.cfg"}) {
    EXPECT_FALSE(Exists(install_ + "/" + file)) << file;
    EXPECT_EQ("two", ReadFile(install_ + "/" + file + ".old")) << file;
  }
  for (const char* dir : {"Bin", "Plugins"}) {
    EXPECT_EQ("two", ReadFile(install_ + "/" + dir + "/file")) << dir;
    EXPECT_EQ("one", ReadFile(install_ + "/" + dir + ".old/file")) << dir;
  }
  EXPECT_FALSE(Exists(install_ + "/Lib"));
  EXPECT_EQ("two", ReadFile(install_ + "/Lib.old/file"));
}

TEST_F(BackupOldFiles, FixedNamesInListOrderWhateverTheSettingsSay) {
  ASSERT_TRUE(WriteFile(install_ + "/my.cfg", "mine"));
  ASSERT_TRUE(WriteFile(install_ + "/qmserver.cfg", "server"));
  BackupRecorder installer;
  installer.m_szConfigFileName = const_cast<char*>("my.cfg");
  installer.m_szDefaultConfigFileName = const_cast<char*>("mine.cfg");
  Backup(installer);
  EXPECT_EQ(std::vector<std::string>(std::begin(kSix), std::end(kSix)), installer.names);
  EXPECT_EQ("mine", ReadFile(install_ + "/my.cfg"));
  EXPECT_EQ("server", ReadFile(install_ + "/qmserver.cfg.old"));
}

TEST_F(BackupOldFiles, UnreachableDirectoryIsReportedUnlessSilent) {
  install_ = Path("missing");
  {
    ServerInstaller installer;
    EXPECT_EQ("Error accessing directory " + install_ + " (No such file or directory)\n",
              Backup(installer));
    EXPECT_EQ(work_, CurrentDir());
  }
  {
    ServerInstaller installer;
    installer.m_bSilentInstall = 1;
    EXPECT_EQ("", Backup(installer));
    EXPECT_EQ(work_, CurrentDir());
  }
  {
    ServerInstaller installer;
    testing::internal::CaptureStdout();
    installer.BackupOldFiles();  // no installation directory at all
    EXPECT_EQ("Error accessing directory  (No such file or directory)\n",
              testing::internal::GetCapturedStdout());
  }
}

TEST_F(BackupOldFiles, BacksUpAndReturnsWhenTheWorkingDirectoryIsGone) {
  MakeInstallation("one");
  ProcessResult child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
    struct stat before, after;
    stat(".", &before);
    // getcwd cannot name a removed directory.
    if (rmdir(work_.c_str()) != 0)
      _exit(2);
    ServerInstaller installer;
    installer.m_szDefInstallPath = install_.data();
    installer.BackupOldFiles();
    stat(".", &after);
    bool back = before.st_dev == after.st_dev && before.st_ino == after.st_ino;
    _exit(back ? 0 : 1);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
  EXPECT_EQ("", child.out);
  for (const char* name : kSix)
    EXPECT_TRUE(Exists(install_ + "/" + name + ".old")) << name;
}

using BackupIfPresent = BackupOldFiles;

TEST_F(BackupIfPresent, AbsentNameKeepsTheEarlierBackup) {
  ASSERT_EQ(0, chdir(install_.c_str()));
  ASSERT_TRUE(WriteFile("qmserver.cfg.old", "earlier"));
  ASSERT_EQ(0, mkdir("Lib.old", 0755));
  ServerInstaller installer;
  EXPECT_EQ(-1, installer.BackupIfPresent("qmserver.cfg"));
  EXPECT_EQ("earlier", ReadFile("qmserver.cfg.old"));
  EXPECT_EQ(-1, installer.BackupIfPresent("Lib"));
  EXPECT_EQ(0755, ModeOf("Lib.old"));
}

TEST_F(BackupIfPresent, ResultSaysWhetherTheNameMoved) {
  ASSERT_EQ(0, chdir(install_.c_str()));
  ServerInstaller installer;
  {
    ASSERT_TRUE(WriteFile("default.cfg", "new"));
    ASSERT_TRUE(WriteFile("default.cfg.old", "old"));
    EXPECT_EQ(0, installer.BackupIfPresent("default.cfg"));
    EXPECT_FALSE(Exists("default.cfg"));
    EXPECT_EQ("new", ReadFile("default.cfg.old"));
  }
  {
    ASSERT_EQ(0, mkdir("Bin", 0755));
    ASSERT_EQ(0, mkdir("Bin.old", 0755));
    ASSERT_TRUE(WriteFile("Bin.old/setup", "old"));
    EXPECT_EQ(-1, installer.BackupIfPresent("Bin"));
    EXPECT_TRUE(Exists("Bin"));
    EXPECT_EQ("old", ReadFile("Bin.old/setup"));
  }
}

class CleanUp : public ScratchTest {
 protected:
  // In dir: base/qzsetup (the working directory, with a Bin/setup of its
  // own), the installation base/inst, and decoys that a word split, a glob
  // or an option would reach. Stores the tree as it is then in before.
  void MakeTree(const std::string& dir, std::set<std::string>* before) {
    base_ = dir + "/base";
    for (const char* name : {"", "/base", "/base/qzsetup", "/base/qzsetup/Bin", "/base/inst",
                             "/base/inst/Bin", "/base/Bin", "/base/a", "/base/a/Bin", "/base/b",
                             "/base/b/Bin", "/base/x", "/base/x/Bin"}) {
      ASSERT_EQ(0, mkdir((dir + name).c_str(), 0755)) << name;
    }
    for (const char* name :
         {"/base/qzsetup/Bin/setup", "/base/inst/Bin/setup", "/base/inst/Bin/loopcast",
          "/base/inst/qmserver.cfg", "/base/Bin/setup", "/base/a/Bin/setup", "/base/b/Bin/setup",
          "/base/x/Bin/setup", "/base/qzsetup.old"}) {
      ASSERT_TRUE(WriteFile(dir + name, "x")) << name;
    }
    // The commands change to "..": they must start nowhere else.
    ASSERT_EQ(0, chdir((base_ + "/qzsetup").c_str()));
    *before = ListTree(dir);
  }

  // What should be left of a tree of MakeTree after the removal, when the
  // installation directory is base/install.
  static std::set<std::string> WithoutRemoved(std::set<std::string> names,
                                              const std::string& install) {
    for (auto it = names.begin(); it != names.end();) {
      if (it->compare(0, 13, "base/qzsetup/") == 0)
        it = names.erase(it);
      else
        ++it;
    }
    names.erase("base/" + install + "/Bin/setup");
    return names;
  }

  std::string base_;
};

TEST_F(CleanUp, RemovesTheExtractionDirectoryAndTheInstalledSetup) {
  std::set<std::string> before;
  ASSERT_NO_FATAL_FAILURE(MakeTree(Path("t"), &before));
  std::string install = base_ + "/inst";
  CommandRecorder installer;
  installer.CleanUp(install.c_str());
  EXPECT_EQ(WithoutRemoved(before, "inst"), ListTree(Path("t")));
  // The immediate removal did it all, so no background job was started.
  ASSERT_EQ(1u, installer.commands.size());
  EXPECT_EQ("(cd ..; rm -rf qzsetup '" + install + "'/Bin/setup 2> /dev/null); ",
            installer.commands[0]);
}

TEST_F(CleanUp, HostileDirectoryNamesReachTheShellAsOneWord) {
  const char* const names[] = {"plain",         "a b",   "x;touch pwned", "$(touch pwned)",
                               "`touch pwned`", "it's",  "-rf",           "*",
                               "a\nb",          "q\"u\\"};
  int n = 0;
  for (const char* name : names) {
    for (bool absolute : {true, false}) {
      SCOPED_TRACE(std::string(absolute ? "absolute " : "relative ") + name);
      std::string dir = Path("case" + std::to_string(n++));
      std::set<std::string> before;
      ASSERT_NO_FATAL_FAILURE(MakeTree(dir, &before));
      ASSERT_EQ(0, mkdir((base_ + "/" + name).c_str(), 0755));
      ASSERT_EQ(0, mkdir((base_ + "/" + name + "/Bin").c_str(), 0755));
      ASSERT_TRUE(WriteFile(base_ + "/" + name + "/Bin/setup", "x"));
      ASSERT_TRUE(WriteFile(base_ + "/" + name + "/Bin/keep", "x"));
      before = ListTree(dir);

      // A relative installation directory is taken from the parent of the
      // extraction directory, where the commands run.
      std::string install = absolute ? base_ + "/" + name : name;
      CommandRecorder installer;
      installer.CleanUp(install.c_str());
      EXPECT_EQ(WithoutRemoved(before, name), ListTree(dir));
      EXPECT_EQ(1u, installer.commands.size());
    }
  }
  EXPECT_FALSE(Exists(Path("pwned")));
}

TEST_F(CleanUp, QuotesInTheCommandText) {
  CommandRecorder installer;
  installer.skip = 3;  // record only
  installer.CleanUp("/srv/it's $(x)");
  installer.CleanUp("-x");
  installer.CleanUp(nullptr);
  ASSERT_EQ(3u, installer.commands.size());
  EXPECT_EQ("(cd ..; rm -rf qzsetup '/srv/it'\\''s $(x)'/Bin/setup 2> /dev/null); ",
            installer.commands[0]);
  EXPECT_EQ("(cd ..; rm -rf qzsetup './-x'/Bin/setup 2> /dev/null); ", installer.commands[1]);
  // Without an installation directory only the extraction directory goes.
  EXPECT_EQ("(cd ..; rm -rf qzsetup 2> /dev/null); ", installer.commands[2]);
}

TEST_F(CleanUp, DelayedRemovalWhenTheExtractionDirectorySurvives) {
  std::set<std::string> before;
  ASSERT_NO_FATAL_FAILURE(MakeTree(Path("t"), &before));
  std::string install = base_ + "/inst";
  CommandRecorder installer;
  installer.skip = 1;
  installer.CleanUp(install.c_str());
  ASSERT_EQ(2u, installer.commands.size());
  EXPECT_EQ("(cd ..; sleep 2; rm -rf qzsetup '" + install + "'/Bin/setup >/dev/null 2>&1) &",
            installer.commands[1]);

  // The background job must have finished before the tree goes away.
  std::string qzsetup = base_ + "/qzsetup";
  for (int i = 0; i < 600 && (Exists(qzsetup) || Exists(install + "/Bin/setup")); ++i)
    usleep(100 * 1000);
  EXPECT_EQ(WithoutRemoved(before, "inst"), ListTree(Path("t")));
}

class CleanUpAndExit : public CleanUp {
 protected:
  // Runs CleanUpAndExit in a child, in a tree of its own.
  void Run(int status, bool silent, ConsoleUI* ui, ProcessResult* child) {
    ASSERT_NO_FATAL_FAILURE(MakeTree(Path("t" + std::to_string(runs_++)), &before_));
    std::string install = base_ + "/inst";
    *child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
      ServerInstaller installer;
      installer.m_szDefInstallPath = install.data();
      installer.m_bSilentInstall = silent;
      installer.CleanUpAndExit(status, ui != nullptr ? ui : installer.m_pUI);
    });
  }

  std::set<std::string> before_;
  int runs_ = 0;
};

TEST_F(CleanUpAndExit, ReportsAroundTheRemovalAndEndsWithTheStatus) {
  for (int status : {0, 3, -1}) {
    SCOPED_TRACE(status);
    MarkingUI ui;
    ProcessResult child;
    ASSERT_NO_FATAL_FAILURE(Run(status, false, &ui, &child));
    ASSERT_TRUE(child.exited);
    EXPECT_EQ(status & 0xff, child.code);
    EXPECT_EQ("Cleaning up installation files...<start><stop>\nDone.\n\n", child.out);
    EXPECT_EQ(WithoutRemoved(before_, "inst"), ListTree(Path("t" + std::to_string(runs_ - 1))));
  }
}

TEST_F(CleanUpAndExit, OnlyDotsBetweenTheMessages) {
  ProcessResult child;
  ASSERT_NO_FATAL_FAILURE(Run(0, false, nullptr, &child));
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
  const std::string head = "Cleaning up installation files...";
  const std::string tail = "\nDone.\n\n";
  ASSERT_GE(child.out.size(), head.size() + tail.size()) << child.out;
  EXPECT_EQ(head, child.out.substr(0, head.size()));
  EXPECT_EQ(tail, child.out.substr(child.out.size() - tail.size()));
  std::string between = child.out.substr(head.size(), child.out.size() - head.size() - tail.size());
  EXPECT_EQ(std::string::npos, between.find_first_not_of('.')) << child.out;
}

TEST_F(CleanUpAndExit, SilentSaysNothingAndStartsNoDots) {
  MarkingUI ui;
  ProcessResult child;
  ASSERT_NO_FATAL_FAILURE(Run(7, true, &ui, &child));
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(7, child.code);
  EXPECT_EQ("", child.out);
  EXPECT_EQ(WithoutRemoved(before_, "inst"), ListTree(Path("t0")));
}

TEST_F(CleanUpAndExit, WithoutAConsoleReportsThroughTheInstallersOwn) {
  ASSERT_NO_FATAL_FAILURE(MakeTree(Path("t"), &before_));
  std::string install = base_ + "/inst";
  ProcessResult child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
    ServerInstaller installer;
    installer.m_szDefInstallPath = install.data();
    installer.CleanUpAndExit(0, nullptr);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
  EXPECT_EQ(0u, child.out.find("Cleaning up installation files...")) << child.out;
}

// Notes on its console where the clean-up runs, and with which directory.
class CleanUpNoter : public ServerInstaller {
 public:
  void CleanUp(const char* dir) override {
    if (noteTo != nullptr)
      noteTo->m_calls.push_back(std::string("CleanUp(") + (dir != nullptr ? dir : "<null>") + ")");
  }
  installer_test::RecordingUI* noteTo = nullptr;
};

TEST_F(CleanUpAndExit, CallsOnTheConsoleItIsGivenAroundTheCleanUp) {
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "not silent");
    ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&] {
      CleanUpNoter installer;
      // The installer's own console must stay out of it.
      auto* own = new installer_test::RecordingUI;
      delete installer.m_pUI;
      installer.m_pUI = own;
      installer_test::RecordingUI given;
      installer.noteTo = &given;
      installer.m_szDefInstallPath = const_cast<char*>("/srv/media");
      installer.m_bSilentInstall = silent;
      own->m_calls.push_back("own console");
      TranscribeCallsAtExit(&given);
      installer.CleanUpAndExit(4, &given);
    });
    ASSERT_TRUE(child.exited);
    EXPECT_EQ(4, child.code);
    std::vector<std::string> expected = {"CleanUp(/srv/media)"};
    if (!silent) {
      expected = {"ShowMessage(Cleaning up installation files...)",
                  "FlushOutput",
                  "StartPrintingDots",
                  "CleanUp(/srv/media)",
                  "StopPrintingDots",
                  "ShowMessage(\nDone.\n\n)"};
    }
    EXPECT_EQ(expected, TranscribedCalls(child.out));
  }
}

TEST_F(CleanUpAndExit, WithNoConsoleAtAllCleansUpWithoutAWord) {
  ASSERT_NO_FATAL_FAILURE(MakeTree(Path("t"), &before_));
  std::string install = base_ + "/inst";
  ProcessResult child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
    ServerInstaller installer;
    delete installer.m_pUI;
    installer.m_pUI = nullptr;
    installer.m_szDefInstallPath = install.data();
    installer.CleanUpAndExit(6, nullptr);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(6, child.code);
  EXPECT_EQ("", child.out);
  EXPECT_EQ("", child.err);
  EXPECT_EQ(WithoutRemoved(before_, "inst"), ListTree(Path("t")));
}

TEST(System, ReturnsWhatTheShellReturned) {
  ServerInstaller installer;
  int status = installer.System("exit 3");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(3, WEXITSTATUS(status));
  EXPECT_EQ(0, installer.System("test \"$(echo a b)\" = 'a b'"));
}

}  // namespace
