// Installations that something stops which setup cannot answer: SIGKILL at
// every rename, removal and sync of an upgrade, of a restored backup and of
// a removal; SIGQUIT during the switch; two runs at once into one
// installation. Each time the next run must find exactly the earlier or
// exactly the new installation, with the administrator's files and the
// passwords kept and nothing of the stopped run left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "common/ShellQuote.h"
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
    std::string copy = "cp -R '" DEMO_PRODUCT "' " + ShellQuote(stage) + " && (strip -o " + setup +
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
  WriteDefaults();
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

    ProcessResult rerun = Run(second, {"-cfg", "inst.cfg"});
    ASSERT_EQ(0, rerun.code) << rerun.out;
    if (journalled) {
      EXPECT_NE(std::string::npos, rerun.out.find("Recovery: ")) << rerun.out;
      // Finished by the recovery: the rerun finds its own installation.
      EXPECT_NE(std::string::npos, rerun.out.find("already installed, nothing to do")) << rerun.out;
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
  printf("[ kill sweep ] upgrade: %d kill points, each followed by a rerun and a removal\n",
         points);
  EXPECT_GT(points, 20);
}

TEST_F(SetupCrash, RestoreBackupAndRemovalKilledAtEveryStepAreCompletedByTheNextRun) {
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
        if (Installed() != expected)
          EXPECT_EQ(0, Uninstall(args).code);
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

}  // namespace
