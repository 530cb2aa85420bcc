// The journal read back as written, and recovery from every point of a
// switch: finished or undone, and itself stopped halfway and run again.
#include "driver/journal/Recovery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "driver/journal/InstallJournal.h"
#include "tests/TestFiles.h"

namespace {

using RecoveryTest = ScratchTest;

// An earlier installation (Bin, a user file, an older backup) and its
// staged successor, with the steps that a switch with backups takes.
struct Switch {
  std::vector<JournalStep> steps;
};

JournalStep Rename(const std::string& from, const std::string& to) {
  JournalStep step;
  step.kind = JournalStep::Kind::kRename;
  step.path = from;
  step.target = to;
  return step;
}

Switch MakeSwitch(const std::string& dir) {
  MakeDirs(dir + "/Bin");
  WriteFile(dir + "/Bin/server", "earlier server", 0755);
  MakeDirs(dir + "/Bin.old");
  WriteFile(dir + "/Bin.old/server", "older server", 0755);
  MakeDirs(dir + "/db/users");
  WriteFile(dir + "/db/users/admin", "earlier;*;1\n", 0600);
  WriteFile(dir + "/db/users/operator", "the administrator's", 0600);
  std::string stage = dir + "/.strata-setup.abc123";
  MakeDirs(stage + "/old");
  MakeDirs(stage + "/new/Bin");
  WriteFile(stage + "/new/Bin/server", "new server", 0755);
  MakeDirs(stage + "/new/db/users");
  WriteFile(stage + "/new/db/users/admin", "new;*;1\n", 0600);
  Switch s;
  JournalStep chmodStep;
  chmodStep.kind = JournalStep::Kind::kChmod;
  chmodStep.path = "db";
  chmodStep.mode = 0700;
  chmodStep.earlierMode = 0755;
  s.steps = {Rename("Bin.old", ".strata-setup.abc123/old/1"),
             Rename("Bin", "Bin.old"),
             Rename(".strata-setup.abc123/new/Bin", "Bin"),
             chmodStep,
             Rename("db/users/admin", ".strata-setup.abc123/old/2"),
             Rename(".strata-setup.abc123/new/db/users/admin", "db/users/admin")};
  return s;
}

// The tree without the staging directory.
std::map<std::string, std::string> Installed(const std::string& dir) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : TreeOf(dir)) {
    if (entry.first.compare(0, 14, ".strata-setup.") != 0 &&
        entry.first != InstallJournal::kFileName)
      tree.insert(entry);
  }
  return tree;
}

bool TakeSteps(const std::string& dir, const std::vector<JournalStep>& steps, size_t count) {
  std::vector<JournalStep> first(steps.begin(), steps.begin() + count);
  std::string error;
  return Recovery::RollForward(dir, first, &error);
}

TEST(InstallJournal, ReadsBackWhatItWroteAndRefusesWhatIsCutShort) {
  InstallJournal journal;
  journal.action = InstallJournal::Action::kUninstall;
  journal.state = InstallJournal::State::kDone;
  journal.pid = 4242;
  journal.generation = "xxh3-128:00ff 2026-12-09T08:00:00Z";
  journal.stages = {".strata-setup.abc", "Content/.strata-setup.def"};
  JournalStep odd = Rename("a\tb\\c\nd", "x");
  JournalStep unlinkStep;
  unlinkStep.kind = JournalStep::Kind::kUnlink;
  unlinkStep.path = "Bin/uninstall";
  journal.steps = {odd, unlinkStep};
  InstallJournal read;
  std::string error;
  ASSERT_TRUE(read.Parse(journal.Format(), &error)) << error;
  EXPECT_EQ(journal.Format(), read.Format());
  EXPECT_EQ("a\tb\\c\nd", read.steps[0].path);

  std::string text = journal.Format();
  EXPECT_FALSE(read.Parse(text.substr(0, text.size() - 4), &error));
  EXPECT_EQ("the journal is cut short", error);
  EXPECT_FALSE(read.Parse(text + "rename\tx\ty\n", &error));
  EXPECT_FALSE(read.Parse("strata-journal 2\nstate=done\nend\n", &error));
  EXPECT_FALSE(read.Parse("strata-journal 1\nstate=done\nrename\t../etc/passwd\tx\nend\n", &error));
  EXPECT_EQ("line 3: a path outside the installation directory", error);
  // Nor a ".." at the end, nor a staging directory that the recovery would
  // remove outside.
  for (const char* line : {"unlink\tBin/..", "rename\tx\tContent/../..", "stage=../elsewhere"}) {
    EXPECT_FALSE(
        read.Parse(std::string("strata-journal 1\nstate=done\n") + line + "\nend\n", &error))
        << line;
    EXPECT_EQ("line 3: a path outside the installation directory", error) << line;
  }
}

TEST_F(RecoveryTest, EveryPointOfASwitchIsFinishedOrUndoneEvenWhenRecoveryStops) {
  std::string earlierTree;
  for (size_t taken = 0; taken <= 6; ++taken) {
    for (bool forward : {true, false}) {
      for (size_t stoppedAfter = 0; stoppedAfter <= 6; ++stoppedAfter) {
        SCOPED_TRACE("taken " + std::to_string(taken) + (forward ? " forward" : " back") +
                     ", recovery stopped after " + std::to_string(stoppedAfter));
        std::string dir = Path("inst-" + std::to_string(taken) + (forward ? "f" : "b") +
                               std::to_string(stoppedAfter));
        Switch s = MakeSwitch(dir);
        auto earlier = Installed(dir);
        ASSERT_TRUE(TakeSteps(dir, s.steps, taken));
        // Recovery itself stopped partway: the first steps of its own way.
        if (forward) {
          ASSERT_TRUE(TakeSteps(dir, s.steps, std::max(taken, stoppedAfter)));
        } else {
          std::vector<JournalStep> undone(s.steps.begin(),
                                          s.steps.begin() + std::min(taken, 6 - stoppedAfter));
          std::string error;
          std::vector<JournalStep> all(s.steps.begin(), s.steps.begin() + taken);
          // Undoing the last steps only, as a recovery stopped early would.
          std::vector<JournalStep> tail(all.begin() + undone.size(), all.end());
          ASSERT_TRUE(Recovery::RollBack(dir, tail, &error)) << error;
        }
        std::string error;
        if (forward) {
          ASSERT_TRUE(Recovery::RollForward(dir, s.steps, &error)) << error;
          EXPECT_EQ("new server", ReadFile(dir + "/Bin/server"));
          EXPECT_EQ("earlier server", ReadFile(dir + "/Bin.old/server"));
          EXPECT_EQ("new;*;1\n", ReadFile(dir + "/db/users/admin"));
          EXPECT_EQ(0700, ModeOf(dir + "/db"));
        } else {
          ASSERT_TRUE(Recovery::RollBack(dir, s.steps, &error)) << error;
          EXPECT_EQ(earlier, Installed(dir));
        }
        EXPECT_EQ("the administrator's", ReadFile(dir + "/db/users/operator"));
      }
    }
  }
}

TEST_F(RecoveryTest, RunFinishesAJournalledSwitchAndRemovesDeadStagingDirectories) {
  std::string dir = Path("inst");
  Switch s = MakeSwitch(dir);
  MakeDirs(dir + "/.strata-setup.dead01/new");
  WriteFile(dir + "/.strata-setup.dead01/new/qmserver.cfg", "secret", 0600);
  ASSERT_TRUE(TakeSteps(dir, s.steps, 2));
  InstallJournal journal;
  journal.pid = 777;
  journal.stages = {".strata-setup.abc123"};
  journal.steps = s.steps;
  std::string error;
  ASSERT_TRUE(journal.Write(dir, &error)) << error;

  Recovery check(dir);
  ASSERT_TRUE(check.Inspect(&error)) << error;
  ASSERT_TRUE(check.Needed());
  EXPECT_EQ((std::vector<std::string>{
                "Recovery needed: would complete the interrupted installation by process 777 in " +
                    dir + " (every new file had been written to disk before it stopped)",
                "Recovery needed: would remove " + dir +
                    "/.strata-setup.dead01, left by an interrupted run"}),
            check.Describe(true));
  std::vector<std::string> lines;
  ASSERT_TRUE(check.Run(&lines, &error)) << error;
  EXPECT_EQ(2u, lines.size());
  EXPECT_EQ((std::vector<std::string>{"Bin", "Bin.old", "db"}), ListDirectory(dir));
  EXPECT_EQ("new server", ReadFile(dir + "/Bin/server"));

  Recovery again(dir);
  ASSERT_TRUE(again.Inspect(&error));
  EXPECT_FALSE(again.Needed());
}

TEST_F(RecoveryTest, ASwitchWhoseNewFilesAreGoneIsUndone) {
  std::string dir = Path("inst");
  Switch s = MakeSwitch(dir);
  auto earlier = Installed(dir);
  ASSERT_TRUE(TakeSteps(dir, s.steps, 4));
  unlink((dir + "/.strata-setup.abc123/new/db/users/admin").c_str());
  InstallJournal journal;
  journal.stages = {".strata-setup.abc123"};
  journal.steps = s.steps;
  std::string error;
  ASSERT_TRUE(journal.Write(dir, &error)) << error;
  Recovery recovery(dir);
  ASSERT_TRUE(recovery.Inspect(&error));
  std::vector<std::string> lines;
  ASSERT_TRUE(recovery.Run(&lines, &error)) << error;
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("Recovery: undid the interrupted installation in " + dir + " (" + dir +
                "/.strata-setup.abc123/new/db/users/admin and " + dir +
                "/db/users/admin are both gone); the earlier installation stands",
            lines[0]);
  EXPECT_EQ(earlier, TreeOf(dir));
}

TEST_F(RecoveryTest, ARollbackCompletedByRecoveryIsLoggedAsSuch) {
  std::string dir = Path("inst");
  Switch s = MakeSwitch(dir);
  MakeDirs(dir + "/Logs");
  ASSERT_TRUE(TakeSteps(dir, s.steps, 3));
  InstallJournal journal;
  journal.action = InstallJournal::Action::kRestoreBackup;
  journal.pid = 778;
  journal.generation = "sha256:abc 2026-12-09T08:50:07Z";
  journal.stages = {".strata-setup.abc123"};
  journal.steps = s.steps;
  std::string error;
  ASSERT_TRUE(journal.Write(dir, &error)) << error;
  Recovery recovery(dir);
  ASSERT_TRUE(recovery.Inspect(&error)) << error;
  std::vector<std::string> lines;
  ASSERT_TRUE(recovery.Run(&lines, &error)) << error;
  std::string log = ReadFile(dir + "/Logs/install.log");
  EXPECT_NE(std::string::npos,
            log.find("Z rollback completed by recovery " + dir +
                     ": version unknown, package sha256:abc\n  Recovery: completed the "
                     "interrupted restoring of the backup by process 778 in " +
                     dir + "\n"))
      << log;
}

}  // namespace
