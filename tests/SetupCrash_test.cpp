// Installations that something stops which setup cannot answer: SIGKILL at
// every rename, removal and sync of an upgrade, of a restored backup and of
// a removal; SIGQUIT during the switch; two runs at once into one
// installation. Each time the next run must find exactly the earlier or
// exactly the new installation, with the administrator's files and the
// passwords kept and nothing of the stopped run left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/ShellQuote.h"
#include "tests/Ext4Image.h"
#include "tests/SetupPackageTest.h"
#include "tests/Subprocess.h"

namespace {

// A tree by path: mode and content digest. Printed as the paths only.
struct Tree {
  std::map<std::string, std::string> entries;
  bool operator==(const Tree& other) const { return entries == other.entries; }
  bool operator!=(const Tree& other) const { return entries != other.entries; }
};

void PrintTo(const Tree& tree, std::ostream* out) {
  for (const auto& entry : tree.entries)
    *out << "\n  " << entry.first << " " << entry.second;
}

class SetupCrash : public SetupPackage {
 protected:
  // The demo product with one file changed, as a second package.
  std::string BuildUpgradePackage() {
    std::string stage = build_ / "stage2";
    std::string setup = ShellQuote(stage + "/Bin/setup");
    std::string copy = "rm -rf " + ShellQuote(stage) + " && cp -R '" DEMO_PRODUCT "' " +
                       ShellQuote(stage) + " && (strip -o " + setup +
                       " '" SETUP_PROGRAM "' || cp '" SETUP_PROGRAM "' " + setup +
                       ") && echo '# second build' >> " + ShellQuote(stage + "/Bin/loopcast");
    EXPECT_EQ(0, RunShell(copy));
    ProgramRun build;
    build.program = MKPACKAGE;
    build.argv = {MKPACKAGE, stage, build_ / "second.bin"};
    EXPECT_EQ(0, RunProgram(build).code);
    return build_ / "second.bin";
  }

  ProcessResult Run(const std::string& package, std::vector<std::string> args, int killAt = 0) {
    ProgramRun run;
    run.program = package;
    args.insert(args.begin(), package);
    run.argv = args;
    run.cwd = start_;
    run.umask = 022;
    if (killAt > 0)
      run.env = {{"STRATA_TEST_KILL_AT", std::to_string(killAt)}};
    return RunProgram(run);
  }

  ProcessResult Uninstall(std::vector<std::string> args, int killAt = 0) {
    return Run(server_ + "/Bin/uninstall", args, killAt);
  }

  // The installation as a later run sees it: without the journal and the
  // staging directories of a stopped run, and the record without its date;
  // contents by size and hash, so that a difference never prints a binary.
  Tree Installed() {
    Tree tree;
    if (!Exists(server_))
      return tree;
    for (auto& entry : TreeOf(server_)) {
      if (entry.first.compare(0, 14, ".strata-setup.") == 0 || entry.first == ".strata-journal")
        continue;
      std::string& text = entry.second;
      // The log grows with each run, a recovery's among them: what it says
      // is not the installation.
      if (entry.first == "Logs/install.log") {
        tree.entries.insert({entry.first, text.substr(0, text.find(' '))});
        continue;
      }
      if (entry.first == "install-manifest.txt") {
        size_t at = text.find("\ninstalled_at=");
        if (at != std::string::npos)
          text.erase(at, text.find('\n', at + 1) - at);
      }
      size_t blank = text.find(' ');
      if (blank != std::string::npos && text.compare(0, 3, "-> ") != 0)
        text = text.substr(0, blank) + " " + std::to_string(text.size() - blank - 1) + " bytes #" +
               std::to_string(std::hash<std::string>()(text.substr(blank + 1)));
      tree.entries.insert(entry);
    }
    return tree;
  }

  // Nothing of a stopped run: no journal, no staging directory, no installer.
  void ExpectNothingLeft() {
    for (const std::string& name : ListDirectory(server_)) {
      EXPECT_NE(0u, name.compare(0, 14, ".strata-setup.")) << name;
      EXPECT_NE(".strata-journal", name);
    }
    EXPECT_FALSE(Exists(server_ + "/Bin/setup"));
    EXPECT_FALSE(Exists(server_ + "/Content/.strata-journal"));
  }

  // The administrator's own files beside the installation's.
  void AddAdministratorsFiles() {
    WriteFile(server_ + "/Bin/notes", "the administrator's notes", 0640);
    WriteFile(server_ + "/adm_b_db/users/operator", "op;*;1\n", 0600);
    WriteFile(server_ + "/Content/added.txt", "the administrator's content", 0644);
  }

  void Snapshot(const std::string& name) {
    ASSERT_EQ(0, RunShell("rm -rf " + ShellQuote(start_ + "/" + name) + " && cp -a " +
                          ShellQuote(server_) + " " + ShellQuote(start_ + "/" + name)));
  }
  void Restore(const std::string& name) {
    ASSERT_EQ(0, RunShell("rm -rf " + ShellQuote(server_) + " && cp -a " +
                          ShellQuote(start_ + "/" + name) + " " + ShellQuote(server_)));
  }

  // Whether the sweep goes on past the first points of each kind.
  static bool LongSweep() { return getenv("STRATA_LONG_CRASH_SWEEP") != nullptr; }

  TempDir build_;
};

TEST_F(SetupCrash, UpgradeKilledAtEveryStepIsEarlierOrNewAfterTheNextRun) {
  // A kill loses nothing that was written, synced or not: a tmpfs, where a
  // sync costs nothing, sweeps the same points faster.
  TmpfsMount fast(start_, "256m");
  // With backups (the default) and, in the long sweep, without: each name
  // then replaced in place rather than moved to ".old".
  for (std::string extra : {"", "BackupOldFiles=0\n"}) {
    if (!extra.empty() && !LongSweep())
      break;
    SCOPED_TRACE(extra.empty() ? "with backups" : "without backups");
    ASSERT_EQ(0, RunShell("rm -rf " + ShellQuote(server_)));
    WriteDefaults(extra);
    ProcessResult first = Run(s_package, {"-cfg", "inst.cfg"});
    ASSERT_EQ(0, first.code) << first.out;
    AddAdministratorsFiles();
    Snapshot("earlier");
    auto earlier = Installed();
    std::string second = BuildUpgradePackage();

    // What an upgrade that nothing stops leaves, and its removal.
    ProcessResult upgrade = Run(second, {"-s", "-cfg", "inst.cfg"});
    ASSERT_EQ(0, upgrade.code) << upgrade.out;
    auto upgraded = Installed();
    ASSERT_NE(earlier, upgraded);
    ASSERT_EQ(0, Uninstall({"-s"}).code);
    auto removed = Installed();

    int points = 0;
    int journalledPoints = 0;
    int recoveryPoints = 0;
    for (int k = 1;; ++k) {
      SCOPED_TRACE("killed at point " + std::to_string(k));
      Restore("earlier");
      ProcessResult killed = Run(second, {"-s", "-cfg", "inst.cfg"}, k);
      if (killed.exited) {
        // Fewer points than k: the sweep is complete.
        ASSERT_EQ(0, killed.code) << killed.out;
        EXPECT_EQ(upgraded, Installed());
        break;
      }
      ++points;
      ASSERT_EQ(SIGKILL, killed.code);
      bool journalled = Exists(server_ + "/.strata-journal");
      // Without a journal it is one of the two: before the journal nothing
      // of the earlier installation has moved, and the journal goes last.
      if (!journalled) {
        Tree now = Installed();
        EXPECT_TRUE(now == earlier || now == upgraded) << ::testing::PrintToString(now);
      }

      // The recovery itself killed at each of its own steps, for the first
      // point with a journal and one in the middle of the switch (every
      // point with STRATA_LONG_CRASH_SWEEP): the run after it still finds
      // one of the two.
      if (journalled && (LongSweep() || ++journalledPoints == 1 || journalledPoints == 12)) {
        Snapshot("stopped");
        for (int j = 1;; ++j) {
          SCOPED_TRACE("recovery killed at point " + std::to_string(j));
          Restore("stopped");
          ProcessResult recovering = Run(second, {"-s", "-cfg", "inst.cfg"}, j);
          if (recovering.exited)
            break;
          ++recoveryPoints;
          ProcessResult after = Run(second, {"-s", "-cfg", "inst.cfg"});
          ASSERT_EQ(0, after.code) << after.out;
          EXPECT_EQ(upgraded, Installed());
          ExpectNothingLeft();
          if (HasFailure())
            break;
        }
        Restore("stopped");
      }
      ProcessResult rerun = Run(second, {"-cfg", "inst.cfg"});
      ASSERT_EQ(0, rerun.code) << rerun.out;
      if (journalled) {
        EXPECT_NE(std::string::npos, rerun.out.find("Recovery: ")) << rerun.out;
        EXPECT_NE(std::string::npos, ReadFile(server_ + "/Logs/install.log").find(" recovery "));
        // Finished by the recovery: the rerun finds its own installation.
        EXPECT_NE(std::string::npos, rerun.out.find("already installed, nothing to do"))
            << rerun.out;
      }
      EXPECT_EQ(upgraded, Installed());
      ExpectNothingLeft();
      ExpectWorkingFilesGone();

      ProcessResult uninstall = Uninstall({"-s"});
      EXPECT_EQ(0, uninstall.code) << uninstall.out;
      EXPECT_EQ(removed, Installed());
      if (HasFailure())
        break;
    }
    RecordProperty("kill_points", points);
    printf(
        "[ kill sweep ] upgrade %s: %d kill points, each followed by a rerun and a removal; "
        "the recovery killed at %d points of its own\n",
        extra.empty() ? "with backups" : "without backups", points, recoveryPoints);
    EXPECT_GT(points, 20);
  }
}

TEST_F(SetupCrash, RestoreBackupAndRemovalKilledAtEveryStepAreCompletedByTheNextRun) {
  TmpfsMount fast(start_, "256m");
  WriteDefaults();
  ASSERT_EQ(0, Run(s_package, {"-s", "-cfg", "inst.cfg"}).code);
  AddAdministratorsFiles();
  ASSERT_EQ(0, Run(BuildUpgradePackage(), {"-s", "-cfg", "inst.cfg"}).code);
  Snapshot("upgraded");

  for (bool restore : {false, true}) {
    std::vector<std::string> args = {"-s"};
    if (restore)
      args.push_back("--restore-backup");
    Restore("upgraded");
    ASSERT_EQ(0, Uninstall(args).code);
    auto expected = Installed();
    int points = 0;
    for (int k = 1;; ++k) {
      SCOPED_TRACE(std::string(restore ? "--restore-backup" : "removal") + " killed at point " +
                   std::to_string(k));
      Restore("upgraded");
      ProcessResult killed = Uninstall(args, k);
      if (killed.exited) {
        ASSERT_EQ(0, killed.code) << killed.out;
        break;
      }
      ++points;
      ASSERT_EQ(SIGKILL, killed.code);
      if (!Exists(server_ + "/.strata-journal")) {
        // Stopped before the journal (nothing removed yet) or after it
        // went (everything done).
        if (Installed() != expected) {
          EXPECT_EQ(0, Uninstall(args).code);
        }
      } else if (Exists(server_ + "/Bin/uninstall")) {
        ProcessResult rerun = Uninstall(args);
        EXPECT_EQ(0, rerun.code) << rerun.out;
      } else {
        // Its own program went last but one: the package's setup finds
        // the journal and completes the removal before it installs.
        ProcessResult check = Run(s_package, {"--check", "-cfg", "inst.cfg"});
        EXPECT_NE(std::string::npos, check.out.find("Recovery needed: would complete the "
                                                    "interrupted "))
            << check.out;
        EXPECT_TRUE(Exists(server_ + "/.strata-journal"));
        ProcessResult setup = Run(s_package, {"-cfg", "inst.cfg"});
        EXPECT_EQ(0, setup.code) << setup.out;
        EXPECT_NE(std::string::npos, setup.out.find("Recovery: completed the interrupted "))
            << setup.out;
        ExpectNothingLeft();
        ASSERT_EQ(0, Uninstall({"-s"}).code);
        // After the fresh installation's removal: the administrator's
        // files, and nothing of either run.
        EXPECT_EQ("the administrator's content", ReadFile(server_ + "/Content/added.txt"));
        EXPECT_EQ("op;*;1\n", ReadFile(server_ + "/adm_b_db/users/operator"));
        EXPECT_FALSE(Exists(server_ + "/install-manifest.txt"));
        ExpectNothingLeft();
        if (HasFailure())
          break;
        continue;
      }
      EXPECT_EQ(expected, Installed());
      if (HasFailure())
        break;
    }
    printf("[ kill sweep ] %s: %d kill points\n", restore ? "--restore-backup" : "uninstall",
           points);
    EXPECT_GT(points, 10);
  }
}

// Ctrl-\ and Ctrl-C in the middle of the switch: the switch completes, the
// summary with the generated passwords is shown, and only then does the
// signal end setup; no core file holds them.
TEST_F(SetupCrash, SignalsDuringTheSwitchWaitForTheSummary) {
  WriteDefaults();
  ASSERT_EQ(0, Run(s_package, {"-s", "-cfg", "inst.cfg"}).code);
  std::string second = BuildUpgradePackage();
  Snapshot("earlier");
  for (int signal : {SIGQUIT, SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    Restore("earlier");
    // The encoder gets a new password, shown once.
    WriteDefaults("EncoderUserID=encoder2\n");
    ProgramRun interrupted;
    interrupted.program = second;
    interrupted.argv = {second, "-cfg", "inst.cfg"};
    interrupted.cwd = start_;
    // The tenth step is a rename of the switch.
    interrupted.env = {{"STRATA_TEST_KILL_AT", "10:" + std::to_string(signal)}};
    ProcessResult result = RunProgram(interrupted);
    EXPECT_FALSE(result.exited);
    EXPECT_EQ(signal, result.code);
    EXPECT_NE(std::string::npos, result.out.find("has been upgraded.")) << result.out;
    std::string password = ShownValue(result.out, "Encoder password");
    EXPECT_EQ(16u, password.size()) << result.out;
    EXPECT_EQ(password + ";*;1\n", ReadFile(server_ + "/enc_b_db/users/encoder2"));
    ExpectNothingLeft();
    EXPECT_FALSE(Exists(start_ + "/qzsetup"));
    for (const std::string& name : ListDirectory(start_))
      EXPECT_EQ(std::string::npos, name.find("core")) << name;
    for (const std::string& name : ListDirectory(server_))
      EXPECT_EQ(std::string::npos, name.find("core")) << name;
    WriteDefaults();
  }
}

// The lock is the installation's, whatever the working directory: a second
// run waits a few seconds and names the process that holds it.
TEST_F(SetupCrash, ASecondRunWaitsForTheInstallationsLockAndNamesItsHolder) {
  WriteDefaults();
  ASSERT_EQ(0, Run(s_package, {"-s", "-cfg", "inst.cfg"}).code);
  Tree before = Installed();
  int fd = open(server_.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, flock(fd, LOCK_EX));
  std::string busy = "another installation or removal of " + server_ + " is running (process " +
                     std::to_string(getpid()) + ")";
  ProcessResult install = Run(s_package, {"--reinstall", "-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, install.code);
  EXPECT_EQ("ERROR: " + busy + "\n", install.out);
  ProcessResult check = Run(s_package, {"--check", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, check.code);
  EXPECT_NE(std::string::npos, check.out.find("ERROR: " + busy + "\n")) << check.out;
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"-s"}, {"-s", "--restore-backup"}}) {
    ProcessResult uninstall = Uninstall(args);
    EXPECT_EQ(255, uninstall.code);
    EXPECT_EQ("Error: " + busy + "\n", uninstall.out);
  }
  close(fd);
  EXPECT_EQ(before, Installed());
  ExpectWorkingFilesGone();
}

// Two upgrades of one installation from two working directories at once,
// and a removal during an upgrade: one waits for the other or gives up
// with the lock's message, and the installation is always whole.
TEST_F(SetupCrash, ConcurrentRunsOnOneInstallationNeverMixIt) {
  std::string second = BuildUpgradePackage();
  std::string other = MakeDirs(start_ + "/other");
  WriteDefaults("DefInstallPath=" + server_ + "\n");
  ASSERT_EQ(0, RunShell("cp " + ShellQuote(start_ + "/inst.cfg") + " " + ShellQuote(other)));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(0, Run(s_package, {"-s", "-cfg", "inst.cfg"}).code);
    ProcessResult results[2];
    std::thread a([&] { results[0] = Run(second, {"-s", "-cfg", "inst.cfg"}); });
    std::thread b([&] {
      ProgramRun run;
      run.program = second;
      run.argv = {second, "-s", "-cfg", "inst.cfg"};
      run.cwd = other;
      results[1] = RunProgram(run);
    });
    a.join();
    b.join();
    for (const ProcessResult& result : results) {
      EXPECT_TRUE(result.code == 0 ||
                  result.out.find("another installation or removal of") != std::string::npos)
          << result.out;
    }
    // Whole: the same package finds nothing to do, and the backups are the
    // first package's.
    ProcessResult check = Run(second, {"--check", "-s", "-cfg", "inst.cfg"});
    EXPECT_NE(std::string::npos, check.out.find("Check: nothing to do")) << check.out;
    EXPECT_EQ(std::string::npos, ReadFile(server_ + "/Bin.old/loopcast").find("second build"));
    ExpectNothingLeft();

    // An upgrade back to the first package and a removal at once.
    ProcessResult upgrade;
    ProcessResult removal;
    std::thread c([&] { upgrade = Run(s_package, {"-s", "-cfg", "inst.cfg"}); });
    std::thread d([&] { removal = Uninstall({"-s"}); });
    c.join();
    d.join();
    EXPECT_TRUE(upgrade.code == 0 ||
                upgrade.out.find("another installation or removal of") != std::string::npos)
        << upgrade.out;
    ExpectNothingLeft();
    if (Exists(server_ + "/install-manifest.txt")) {
      ProcessResult again = Run(s_package, {"--check", "-s", "-cfg", "inst.cfg"});
      EXPECT_NE(std::string::npos, again.out.find("Check: nothing to do")) << again.out;
      ASSERT_EQ(0, Uninstall({"-s"}).code);
    }
    EXPECT_FALSE(Exists(server_ + "/Bin"));
    ASSERT_EQ(0, RunShell("rm -rf " + ShellQuote(server_)));
  }
}

// A link given as the installation directory is resolved once: the record
// names the real directory, and a rerun through the link finds it.
TEST_F(SetupCrash, AnInstallationDirectoryGivenAsALinkIsFoundAgain) {
  MakeDirs(start_ + "/real");
  ASSERT_EQ(0, symlink("real", (start_ + "/server").c_str()));
  WriteDefaults();
  ProcessResult first = Run(s_package, {"-cfg", "inst.cfg"});
  ASSERT_EQ(0, first.code) << first.out;
  EXPECT_NE(
      std::string::npos,
      ReadFile(start_ + "/real/install-manifest.txt").find("\ninstall_dir=" + start_ + "/real\n"));
  ProcessResult rerun = Run(s_package, {"-cfg", "inst.cfg"});
  EXPECT_EQ(0, rerun.code) << rerun.out;
  EXPECT_NE(std::string::npos, rerun.out.find("already installed, nothing to do")) << rerun.out;
  EXPECT_FALSE(Exists(start_ + "/real/Bin.old"));
}

// Content on another file system behind a link, as administrators keep
// media: the link stays, the product's files land inside it, and --check
// agrees with the installation; a link setup cannot write through is
// refused by both, naming it.
TEST_F(SetupCrash, ContentLinkedToAnotherFileSystemIsKeptAndFilled) {
  TmpfsMount media(start_ + "/media", "16m");
  if (!media.ok())
    GTEST_SKIP() << "no file system can be mounted here";
  WriteDefaults();
  ASSERT_EQ(0, Run(s_package, {"-s", "-cfg", "inst.cfg"}).code);
  ASSERT_EQ(0, RunShell("cp -a " + ShellQuote(server_ + "/Content") + " " +
                        ShellQuote(start_ + "/media/Content") + " && rm -rf " +
                        ShellQuote(server_ + "/Content")));
  ASSERT_EQ(0, symlink((start_ + "/media/Content").c_str(), (server_ + "/Content").c_str()));
  WriteFile(start_ + "/media/Content/movie.mp4", "the administrator's media");
  std::string second = BuildUpgradePackage();
  WriteFile(build_ / "stage2/Content/welcome.txt", "welcome to the second build\n");
  ProgramRun rebuild;
  rebuild.program = MKPACKAGE;
  rebuild.argv = {MKPACKAGE, build_ / "stage2", second};
  ASSERT_EQ(0, RunProgram(rebuild).code);

  ASSERT_TRUE(media.SetReadOnly(true));
  Tree before = Installed();
  std::string refused = "ERROR: Unable to install the product's files: " + server_ +
                        "/Content is a symbolic link to a directory on another file system that "
                        "setup cannot write into (Read-only file system); nothing has been "
                        "changed\n";
  ProcessResult check = Run(second, {"--check", "-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, check.code);
  EXPECT_EQ(refused, check.out);
  ProcessResult install = Run(second, {"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, install.code);
  EXPECT_EQ(refused, install.out);
  EXPECT_EQ(before, Installed());
  ASSERT_TRUE(media.SetReadOnly(false));

  check = Run(second, {"--check", "-s", "-cfg", "inst.cfg"});
  EXPECT_EQ("Check: upgrade\n", check.out);
  ProcessResult upgrade = Run(second, {"-s", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, upgrade.code) << upgrade.out;
  struct stat st;
  ASSERT_EQ(0, lstat((server_ + "/Content").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ("welcome to the second build\n", ReadFile(start_ + "/media/Content/welcome.txt"));
  EXPECT_EQ("the administrator's media", ReadFile(start_ + "/media/Content/movie.mp4"));
  EXPECT_EQ((std::vector<std::string>{"movie.mp4", "welcome.txt"}),
            ListDirectory(start_ + "/media/Content"));
  ExpectNothingLeft();
  ProcessResult rerun = Run(second, {"--check", "-s", "-cfg", "inst.cfg"});
  EXPECT_EQ("Check: nothing to do\n", rerun.out);

  // Killed at every step of a further upgrade: the linked directory is
  // switched with the rest, never half.
  if (!LongSweep())
    return;
  WriteFile(build_ / "stage2/Content/welcome.txt", "welcome to the third build\n");
  ASSERT_EQ(0, RunProgram(rebuild).code);
  Snapshot("linked");
  ASSERT_EQ(0, RunShell("cp -a " + ShellQuote(start_ + "/media/Content") + " " +
                        ShellQuote(start_ + "/linked-content")));
  for (int k = 1;; ++k) {
    SCOPED_TRACE("killed at point " + std::to_string(k));
    Restore("linked");
    ASSERT_EQ(0, RunShell("rm -rf " + ShellQuote(start_ + "/media/Content") + " && cp -a " +
                          ShellQuote(start_ + "/linked-content") + " " +
                          ShellQuote(start_ + "/media/Content")));
    ProcessResult killed = Run(second, {"-s", "-cfg", "inst.cfg"}, k);
    if (killed.exited) {
      printf("[ kill sweep ] Content on another file system: %d kill points\n", k - 1);
      break;
    }
    ASSERT_EQ(0, Run(second, {"-s", "-cfg", "inst.cfg"}).code);
    EXPECT_EQ("welcome to the third build\n", ReadFile(start_ + "/media/Content/welcome.txt"));
    EXPECT_EQ((std::vector<std::string>{"movie.mp4", "welcome.txt"}),
              ListDirectory(start_ + "/media/Content"));
    ExpectNothingLeft();
    if (HasFailure())
      break;
  }
}

// The power goes at several moments after an upgrade has ended with 0: once
// the machine is up again, the installation is the new one, whole, and the
// package run again finds nothing to do.
TEST_F(SetupCrash, PowerLossAfterAnUpgradeLeavesTheNewInstallationWhole) {
  Ext4Image disk(build_ / "disk.img", start_ + "/disk", 96);
  if (!disk.ok())
    GTEST_SKIP() << "no ext4 loop image here: " << disk.why();
  server_ = start_ + "/disk/server";
  WriteDefaults("DefInstallPath=disk/server\n");
  ASSERT_EQ(0, Run(s_package, {"-s", "-cfg", "inst.cfg"}).code);
  AddAdministratorsFiles();
  std::string second = BuildUpgradePackage();
  ASSERT_EQ(0, RunShell("sync"));
  Snapshot("earlier");
  ASSERT_EQ(0, Run(second, {"-s", "-cfg", "inst.cfg"}).code);
  Tree upgraded = Installed();
  int moments = 0;
  for (int delayMs : {0, 5, 50, 500}) {
    SCOPED_TRACE("power lost " + std::to_string(delayMs) + " ms after the upgrade");
    Restore("earlier");
    ASSERT_EQ(0, RunShell("sync"));
    ASSERT_EQ(0, Run(second, {"-s", "-cfg", "inst.cfg"}).code);
    usleep(delayMs * 1000);
    ASSERT_TRUE(disk.PowerLoss());
    ASSERT_TRUE(disk.Remount()) << disk.why();
    ++moments;
    EXPECT_EQ(upgraded, Installed());
    ProcessResult rerun = Run(second, {"-cfg", "inst.cfg"});
    EXPECT_EQ(0, rerun.code) << rerun.out;
    EXPECT_NE(std::string::npos, rerun.out.find("already installed, nothing to do")) << rerun.out;
    EXPECT_EQ(upgraded, Installed());
    ExpectNothingLeft();
    if (HasFailure())
      break;
  }
  printf("[ power loss ] %d moments after a successful upgrade\n", moments);
}

}  // namespace
