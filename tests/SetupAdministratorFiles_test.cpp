// The administrator's changes to installed files outlive upgrades and
// reruns of real packages: configuration files and Content stay in effect
// with the new ones beside them as NAME.new (or, with --take-new-config,
// give way and are kept as NAME.saved), other product files are replaced
// with the administrator's version kept as NAME.saved, and the plan, the
// summary, Bin/verify and the log name each one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "common/ShellQuote.h"
#include "tests/PtySession.h"
#include "tests/SetupPackageTest.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

using SetupAdministratorFiles = SetupPackage;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The demo product with Bin/loopcast and Content/welcome.txt marked as
// build name, packed as its own package.
std::string BuildVariant(const TempDir& dir, const std::string& name) {
  std::string stage = dir / ("stage-" + name);
  std::string copy = "cp -R '" DEMO_PRODUCT "' " + ShellQuote(stage) + " && (strip -o " +
                     ShellQuote(stage + "/Bin/setup") +
                     " '" SETUP_PROGRAM "' || cp '" SETUP_PROGRAM "' " +
                     ShellQuote(stage + "/Bin/setup") + ") && echo '# " + name + "' >> " +
                     ShellQuote(stage + "/Bin/loopcast") + " && echo '" + name + "' >> " +
                     ShellQuote(stage + "/Content/welcome.txt");
  EXPECT_EQ(0, RunShell(copy));
  ProgramRun build;
  build.program = MKPACKAGE;
  build.argv = {MKPACKAGE, stage, dir / (name + ".bin")};
  EXPECT_EQ(0, RunProgram(build).code);
  return dir / (name + ".bin");
}

class AdministratorEdits : public SetupAdministratorFiles {
 protected:
  ProcessResult Run(const std::string& package, std::vector<std::string> args) {
    ProgramRun run;
    run.program = package;
    args.insert(args.begin(), package);
    run.argv = args;
    run.cwd = start_;
    run.umask = 022;
    return RunProgram(run);
  }
  // The administrator's edits: the server's configuration, the loopcast
  // script, the content and a program of the product (Bin/loopcast, mode
  // changed as well).
  void Edit() {
    AppendFile("qmserver.cfg", "# tuned by the administrator\n");
    AppendFile("Bin/loopcast.sh", "# local stream\n");
    AppendFile("Content/welcome.txt", "Welcome to our site\n");
    AppendFile("Bin/loopcast", "# patched here\n");
    ASSERT_EQ(0, chmod((server_ + "/Bin/loopcast").c_str(), 0750));
    edited_ = {ReadFile(server_ + "/qmserver.cfg"), ReadFile(server_ + "/Bin/loopcast.sh"),
               ReadFile(server_ + "/Content/welcome.txt"), ReadFile(server_ + "/Bin/loopcast")};
  }
  void AppendFile(const std::string& relative, const std::string& line) {
    std::string path = server_ + "/" + relative;
    ASSERT_TRUE(Exists(path)) << path;
    ASSERT_EQ(0, RunShell("echo " + ShellQuote(line.substr(0, line.size() - 1)) + " >> " +
                          ShellQuote(path)));
  }
  std::vector<std::string> edited_;
};

TEST_F(AdministratorEdits, KeptConfigurationAndSavedProgramsOutliveTwoUpgradesAndARerun) {
  TempDir builds;
  std::string v2 = BuildVariant(builds, "v2");
  std::string v3 = BuildVariant(builds, "v3");
  WriteDefaults();
  ASSERT_EQ(0, RunPackage({"-cfg", "inst.cfg"}).code);
  Edit();
  // Files of the administrator's own in directories that go to ".old".
  WriteFile(server_ + "/Bin/notes", "the administrator's notes", 0640);
  MakeDirs(server_ + "/Lib/mine");
  WriteFile(server_ + "/Lib/mine/settings", "the administrator's library", 0600);

  ProcessResult check = Run(v2, {"--check", "-cfg", "inst.cfg"});
  EXPECT_EQ(0, check.code) << check.out;
  for (const char* kept : {"qmserver.cfg", "Bin/loopcast.sh", "Content/welcome.txt"}) {
    EXPECT_TRUE(
        Contains(check.out,
                 std::string(kept) + ": changed, kept as yours (the new one is " + kept + ".new)"))
        << check.out;
  }
  EXPECT_TRUE(Contains(check.out,
                       "Bin/loopcast: changed, the new one installed (yours is kept as "
                       "Bin/loopcast.saved)"))
      << check.out;

  ProcessResult upgrade = Run(v2, {"-cfg", "inst.cfg"});
  ASSERT_EQ(0, upgrade.code) << upgrade.out << upgrade.err;
  EXPECT_TRUE(Contains(upgrade.out, "    Kept as yours:           " + server_ +
                                        "/qmserver.cfg (the new one is " + server_ +
                                        "/qmserver.cfg.new)\n"))
      << upgrade.out;
  EXPECT_TRUE(Contains(upgrade.out, "    Saved as yours:          " + server_ +
                                        "/Bin/loopcast.saved (the new one is installed)\n"))
      << upgrade.out;

  auto expectEditsStand = [&](const std::string& build) {
    EXPECT_EQ(edited_[0], ReadFile(server_ + "/qmserver.cfg"));
    EXPECT_EQ(edited_[1], ReadFile(server_ + "/Bin/loopcast.sh"));
    EXPECT_EQ(edited_[2], ReadFile(server_ + "/Content/welcome.txt"));
    EXPECT_EQ(edited_[3], ReadFile(server_ + "/Bin/loopcast.saved"));
    EXPECT_EQ(0750, ModeOf(server_ + "/Bin/loopcast.saved"));
    // The new ones beside them, the new program in place.
    EXPECT_FALSE(Contains(ReadFile(server_ + "/qmserver.cfg.new"), "# tuned"));
    EXPECT_TRUE(Contains(ReadFile(server_ + "/qmserver.cfg.new"), "Port"));
    EXPECT_EQ(0600, ModeOf(server_ + "/qmserver.cfg.new"));
    EXPECT_FALSE(Contains(ReadFile(server_ + "/Bin/loopcast.sh.new"), "# local stream"));
    EXPECT_TRUE(Contains(ReadFile(server_ + "/Content/welcome.txt.new"), build + "\n"));
    EXPECT_FALSE(Contains(ReadFile(server_ + "/Content/welcome.txt.new"), "our site"));
    EXPECT_TRUE(Contains(ReadFile(server_ + "/Bin/loopcast"), "# " + build + "\n"));
    EXPECT_FALSE(Contains(ReadFile(server_ + "/Bin/loopcast"), "# patched here"));
    EXPECT_EQ("the administrator's notes", ReadFile(server_ + "/Bin/notes"));
    EXPECT_EQ(0640, ModeOf(server_ + "/Bin/notes"));
    EXPECT_EQ("the administrator's library", ReadFile(server_ + "/Lib/mine/settings"));
    EXPECT_EQ(0600, ModeOf(server_ + "/Lib/mine/settings"));
  };
  expectEditsStand("v2");
  std::string log = ReadFile(server_ + "/Logs/install.log");
  EXPECT_TRUE(Contains(log, "  kept as the administrator's: qmserver.cfg\n")) << log;
  EXPECT_TRUE(Contains(log, "  kept as the administrator's: Content/welcome.txt\n")) << log;
  EXPECT_TRUE(Contains(log, "  saved the administrator's as: Bin/loopcast.saved\n")) << log;

  ASSERT_EQ(0, Run(v3, {"-s", "-cfg", "inst.cfg"}).code);
  expectEditsStand("v3");
  EXPECT_FALSE(Exists(server_ + "/Bin/loopcast.saved.saved"));
  EXPECT_FALSE(Exists(server_ + "/qmserver.cfg.new.new"));

  // Settled: a rerun has nothing to do and changes nothing.
  auto settled = Files(server_);
  EXPECT_EQ("Check: nothing to do\n", Run(v3, {"-s", "--check", "-cfg", "inst.cfg"}).out);
  ASSERT_EQ(0, Run(v3, {"-s", "-cfg", "inst.cfg"}).code);
  auto rerun = Files(server_);
  settled.erase("install-manifest.txt");
  rerun.erase("install-manifest.txt");
  EXPECT_EQ(settled, rerun);

  // Bin/verify still shows what the administrator changed, and only that.
  ProgramRun verify;
  verify.program = server_ + "/Bin/verify";
  verify.argv = {verify.program};
  ProcessResult verified = RunProgram(verify);
  EXPECT_EQ(1, verified.code) << verified.out << verified.err;
  EXPECT_TRUE(Contains(verified.out, "changed " + server_ + "/qmserver.cfg\n") ||
              Contains(verified.out, "changed qmserver.cfg\n"))
      << verified.out;
  EXPECT_FALSE(Contains(verified.out, "loopcast.saved")) << verified.out;
  EXPECT_FALSE(Contains(verified.out, "notes")) << verified.out;
  EXPECT_FALSE(Contains(verified.out, ".new")) << verified.out;

  // A missing recorded file is named and is something to do.
  ASSERT_EQ(0, unlink((server_ + "/Docs/ReadMe.txt").c_str()));
  ProcessResult missing = Run(v3, {"--check", "-cfg", "inst.cfg"});
  EXPECT_TRUE(Contains(missing.out, "Docs/ReadMe.txt: missing, installed anew")) << missing.out;
  EXPECT_EQ("Check: upgrade\n", missing.out.substr(missing.out.rfind("Check:")));
}

TEST_F(AdministratorEdits, TakeNewConfigInstallsTheNewOnesAndSavesYours) {
  TempDir builds;
  std::string v2 = BuildVariant(builds, "v2");
  std::string v3 = BuildVariant(builds, "v3");
  // Without backups too: what is saved does not depend on them.
  WriteDefaults("BackupOldFiles=0\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  Edit();
  ProcessResult upgrade = Run(v2, {"--take-new-config", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, upgrade.code) << upgrade.out << upgrade.err;
  EXPECT_TRUE(Contains(upgrade.out, "    Saved as yours:          " + server_ +
                                        "/qmserver.cfg.saved (the new one is installed)\n"))
      << upgrade.out;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(edited_[0], ReadFile(server_ + "/qmserver.cfg.saved"));
    EXPECT_EQ(edited_[1], ReadFile(server_ + "/Bin/loopcast.sh.saved"));
    EXPECT_EQ(edited_[2], ReadFile(server_ + "/Content/welcome.txt.saved"));
    EXPECT_EQ(edited_[3], ReadFile(server_ + "/Bin/loopcast.saved"));
    EXPECT_FALSE(Contains(ReadFile(server_ + "/qmserver.cfg"), "# tuned"));
    EXPECT_EQ(0600, ModeOf(server_ + "/qmserver.cfg"));
    EXPECT_FALSE(Contains(ReadFile(server_ + "/Content/welcome.txt"), "our site"));
    EXPECT_FALSE(Exists(server_ + "/qmserver.cfg.new"));
    EXPECT_FALSE(Exists(server_ + "/Content/welcome.txt.new"));
    if (i == 0) {
      ASSERT_EQ(0, Run(v3, {"-s", "--take-new-config", "-cfg", "inst.cfg"}).code);
    }
  }
  EXPECT_TRUE(Contains(ReadFile(server_ + "/Content/welcome.txt"), "v3\n"));
  EXPECT_EQ("Check: nothing to do\n", Run(v3, {"-s", "--check", "-cfg", "inst.cfg"}).out);
  ProgramRun verify;
  verify.program = server_ + "/Bin/verify";
  verify.argv = {verify.program};
  EXPECT_EQ(0, RunProgram(verify).code);
}

}  // namespace

namespace {

TEST_F(AdministratorEdits, RollbackLeavesTheEarlierInstallationWorking) {
  TempDir builds;
  std::string v2 = BuildVariant(builds, "v2");
  WriteDefaults("AdminPassword=Adm1n-secret\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  ProgramRun uninstall;
  uninstall.program = server_ + "/Bin/uninstall";
  uninstall.argv = {uninstall.program, "-s", "--restore-backup"};
  ProgramRun verify;
  verify.program = server_ + "/Bin/verify";
  verify.argv = {verify.program};

  // Nothing earlier to go back to: refused, nothing changed.
  auto first = Files(server_);
  ProcessResult refused = RunProgram(uninstall);
  EXPECT_EQ(255, refused.code);
  EXPECT_TRUE(Contains(refused.out + refused.err,
                       "Error: no earlier installation to put back in " + server_ + ": "))
      << refused.out << refused.err;
  EXPECT_EQ(first, Files(server_));

  // Added before the upgrade: back unchanged with the earlier Bin, no copy.
  WriteFile(server_ + "/Bin/notes", "the administrator's notes", 0640);
  auto v1Bin = Files(server_ + "/Bin");
  std::string v1Record = ReadFile(server_ + "/install-manifest.txt");
  ASSERT_EQ(0, Run(v2, {"-s", "-cfg", "inst.cfg"}).code);
  WriteFile(server_ + "/Content/mine.txt", "the administrator's");
  // Added and changed under the names that go back.
  WriteFile(server_ + "/Bin/mine.sh", "#!/bin/sh\n", 0750);
  ASSERT_EQ(0, RunShell("echo '# tuned' >> " + ShellQuote(server_ + "/qmserver.cfg")));
  std::string tuned = ReadFile(server_ + "/qmserver.cfg");
  std::string users = ReadFile(server_ + "/adm_b_db/users/admin");

  ProcessResult rollback = RunProgram(uninstall);
  ASSERT_EQ(0, rollback.code) << rollback.out << rollback.err;
  EXPECT_TRUE(Contains(rollback.out, "Restored: Bin (from Bin.old)\n")) << rollback.out;
  EXPECT_TRUE(Contains(rollback.out, "Kept yours: qmserver.cfg.saved\n")) << rollback.out;
  EXPECT_FALSE(Contains(rollback.out, "notes")) << rollback.out;
  EXPECT_EQ(tuned, ReadFile(server_ + "/qmserver.cfg.saved"));
  EXPECT_EQ("#!/bin/sh\n", ReadFile(server_ + "/Bin/mine.sh"));
  EXPECT_EQ(0750, ModeOf(server_ + "/Bin/mine.sh"));
  ASSERT_EQ(0, unlink((server_ + "/Bin/mine.sh").c_str()));
  EXPECT_EQ(v1Bin, Files(server_ + "/Bin"));
  EXPECT_FALSE(Exists(server_ + "/Bin.old"));
  EXPECT_FALSE(Exists(server_ + "/install-manifest.txt.old"));
  EXPECT_EQ("the administrator's", ReadFile(server_ + "/Content/mine.txt"));
  EXPECT_EQ(users, ReadFile(server_ + "/adm_b_db/users/admin"));
  EXPECT_TRUE(Exists(server_ + "/License.txt"));
  // The earlier record, package and settings.
  std::string record = ReadFile(server_ + "/install-manifest.txt");
  EXPECT_EQ(v1Record.substr(v1Record.find("package_digest="), 80),
            record.substr(record.find("package_digest="), 80));
  EXPECT_TRUE(Contains(ReadFile(server_ + "/Logs/install.log"), " rollback " + server_));
  ProcessResult verified = RunProgram(verify);
  EXPECT_EQ(0, verified.code) << verified.out << verified.err;

  // The earlier package sees itself, a later upgrade and a removal work.
  auto rolledBack = Files(server_);
  EXPECT_EQ("Check: nothing to do\n", RunPackage({"-s", "--check", "-cfg", "inst.cfg"}).out);
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  auto rerun = Files(server_);
  rolledBack.erase("install-manifest.txt");
  rerun.erase("install-manifest.txt");
  EXPECT_EQ(rolledBack, rerun);
  ASSERT_EQ(0, Run(v2, {"-s", "-cfg", "inst.cfg"}).code);
  EXPECT_EQ(0, RunProgram(verify).code);
  EXPECT_TRUE(Contains(ReadFile(server_ + "/Bin/loopcast"), "# v2\n"));
  uninstall.argv = {uninstall.program, "-s"};
  ProcessResult removed = RunProgram(uninstall);
  EXPECT_EQ(0, removed.code) << removed.out << removed.err;
  EXPECT_FALSE(Exists(server_ + "/install-manifest.txt"));
  EXPECT_FALSE(Exists(server_ + "/Bin/loopcast"));
  EXPECT_EQ("the administrator's", ReadFile(server_ + "/Content/mine.txt"));
}

}  // namespace

namespace {

// An upgrade in the dialogue, on a pseudo-terminal: the questions up to
// "Install now?" answered with Enter, in the installation in dir.
void WalkDialogue(PtySession& session, const std::string& dir) {
  ASSERT_TRUE(session.Expect("(yes or no) [no]: ")) << session.Output();
  session.SendLine("yes");
  ASSERT_TRUE(session.Expect("Installation directory [")) << session.Output();
  session.SendLine(dir);
  for (const char* question :
       {"Username [admin]: ", "(Enter keeps the existing one) []: ", "Username [encoder]: ",
        "(Enter keeps the existing one) []: ", "Monitor port [", "RTSP port [", "VQX port [",
        "HTTP port [", "MMS port [", "Admin port [", "Install now? (yes or no) [yes]: "}) {
    ASSERT_TRUE(session.Expect(question)) << session.Output();
    session.SendLine("");
  }
}

std::string Question(const std::string& path) {
  return "\nThe configuration file " + path +
         " has been changed since it was installed.\n"
         "    keep: keep yours; the new one is written beside it as " +
         path +
         ".new\n"
         "    new:  take the new one; yours is kept as " +
         path +
         ".saved\n"
         "    diff: show the differences\n"
         "Keep yours, take the new one or show the differences? (keep, new or diff) [keep]: ";
}

TEST_F(AdministratorEdits, DialogueAsksAboutEachChangedConfigurationFile) {
  TempDir builds;
  std::string v2 = BuildVariant(builds, "v2");
  std::string v3 = BuildVariant(builds, "v3");
  WriteDefaults("AdminPassword=Adm1n-secret\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  ASSERT_EQ(0, unlink((start_ + "/inst.cfg").c_str()));
  // The administrator's line beside the password, which a diff shows.
  ASSERT_EQ(0, RunShell("sed -i '/MonitorPassword/a <!-- tuned by the administrator -->' " +
                        ShellQuote(server_ + "/qmserver.cfg")));
  AppendFile("default.cfg", "<!-- ours -->\n");
  AppendFile("Bin/loopcast.sh", "# local stream\n");
  AppendFile("Content/welcome.txt", "Welcome to our site\n");
  auto edited = TreeOf(server_);
  ProgramRun run;
  run.program = v2;
  run.argv = {v2};
  run.cwd = start_;
  run.env = {{"PAGER", "cat"}, {"TERM", "dumb"}};
  run.umask = 022;
  PtySession session;
  ASSERT_TRUE(session.Start(run));
  WalkDialogue(session, server_);
  // In the order of the record; Content is not asked about.
  ASSERT_TRUE(session.Expect(Question(server_ + "/Bin/loopcast.sh"))) << session.Output();
  session.SendLine("keep");
  ASSERT_TRUE(session.Expect(Question(server_ + "/default.cfg"))) << session.Output();
  session.SendLine("");
  ASSERT_TRUE(session.Expect(Question(server_ + "/qmserver.cfg"))) << session.Output();
  session.SendLine("diff");
  ASSERT_TRUE(session.Expect("--- " + server_ + "/qmserver.cfg (yours)\n+++ " + server_ +
                             "/qmserver.cfg.new (the new one)\n"))
      << session.Output();
  ASSERT_TRUE(
      session.Expect(" <Var MonitorPassword=\"********\"/>\n-<!-- tuned by the "
                     "administrator -->\n"))
      << session.Output();
  ASSERT_TRUE(session.Expect("(keep, new or diff) [keep]: ")) << session.Output();
  session.SendLine("maybe");
  ASSERT_TRUE(session.Expect("Please answer keep, new or diff.\n")) << session.Output();
  session.SendLine("new");
  ProcessResult result = session.Finish();
  EXPECT_EQ(0, result.code) << result.out;
  EXPECT_FALSE(Contains(result.out, "Adm1n-secret"));
  EXPECT_FALSE(Contains(result.out, "Content/welcome.txt has been changed")) << result.out;
  EXPECT_TRUE(Contains(result.out, "    Saved as yours:          " + server_ +
                                       "/qmserver.cfg.saved (the new one is installed)\n"))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "    Kept as yours:           " + server_ +
                                       "/default.cfg (the new one is " + server_ +
                                       "/default.cfg.new)\n"))
      << result.out;

  // Taken: the new one in place, yours beside it; kept: yours in place.
  auto tree = TreeOf(server_);
  EXPECT_EQ(edited["qmserver.cfg"], tree["qmserver.cfg.saved"]);
  EXPECT_EQ(0u, tree["qmserver.cfg"].find("384 ")) << tree["qmserver.cfg"];
  EXPECT_FALSE(Contains(tree["qmserver.cfg"], "tuned by the administrator"));
  EXPECT_TRUE(Contains(tree["qmserver.cfg"], "Adm1n-secret"));
  EXPECT_EQ(0u, tree.count("qmserver.cfg.new"));
  EXPECT_EQ(edited["default.cfg"], tree["default.cfg"]);
  EXPECT_EQ(0u, tree["default.cfg.new"].find("384 <"));
  EXPECT_EQ(0u, tree.count("default.cfg.saved"));
  EXPECT_EQ(edited["Bin/loopcast.sh"], tree["Bin/loopcast.sh"]);
  EXPECT_EQ(0u, tree["Bin/loopcast.sh.new"].find("493 #!"));
  EXPECT_FALSE(Contains(tree["Bin/loopcast.sh.new"], "# local stream"));
  EXPECT_EQ(edited["Content/welcome.txt"], tree["Content/welcome.txt"]);
  EXPECT_TRUE(Contains(tree["Content/welcome.txt.new"], "v2\n"));
  EXPECT_EQ(0u, tree.count("Bin/loopcast.sh.saved") + tree.count("Content/welcome.txt.saved"));
  std::string log = ReadFile(server_ + "/Logs/install.log");
  EXPECT_TRUE(Contains(log, "  saved the administrator's as: qmserver.cfg.saved\n")) << log;
  EXPECT_TRUE(Contains(log, "  kept as the administrator's: default.cfg\n")) << log;
  // A kept file is not also replaced.
  EXPECT_FALSE(Contains(log, "  replaced Content/welcome.txt\n")) << log;
  EXPECT_FALSE(Contains(log, "  replaced Bin/loopcast.sh\n")) << log;

  // Another package: the end of the input, then an interrupt, at the
  // question leave the installation as it was.
  auto before = TreeOf(server_);
  run.program = v3;
  run.argv = {v3};
  PtySession ended;
  ASSERT_TRUE(ended.Start(run));
  WalkDialogue(ended, server_);
  ASSERT_TRUE(ended.Expect(Question(server_ + "/Bin/loopcast.sh"))) << ended.Output();
  ended.Send("\x04");
  result = ended.Finish();
  EXPECT_EQ(255, result.code) << result.out;
  EXPECT_TRUE(Contains(result.out, "ERROR: The input ended before the question about " + server_ +
                                       "/Bin/loopcast.sh was answered; the earlier installation "
                                       "is unchanged\n"))
      << result.out;
  EXPECT_EQ(before, TreeOf(server_));
  PtySession interrupted;
  ASSERT_TRUE(interrupted.Start(run));
  WalkDialogue(interrupted, server_);
  ASSERT_TRUE(interrupted.Expect(Question(server_ + "/Bin/loopcast.sh"))) << interrupted.Output();
  interrupted.Send("\x03");
  result = interrupted.Finish();
  EXPECT_NE(0, result.code) << result.out;
  EXPECT_EQ(before, TreeOf(server_));
  EXPECT_FALSE(Exists(start_ + "/qzsetup"));
}

}  // namespace

namespace {

// A directory that the administrator put where the record has a file is
// theirs: kept in place for the configuration and Content, saved as
// NAME.saved for another product file, never moved aside and lost.
class AdministratorDirectories : public AdministratorEdits {
 protected:
  void UpgradeTwiceRerunAndRemove(const std::string& defaults) {
    TempDir builds;
    std::string v2 = BuildVariant(builds, "v2");
    std::string v3 = BuildVariant(builds, "v3");
    WriteDefaults(defaults);
    ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
    for (const char* path : {"qmserver.cfg", "Content/welcome.txt", "Docs/ReadMe.txt"}) {
      ASSERT_EQ(0, unlink((server_ + "/" + path).c_str()));
      MakeDirs(server_ + "/" + path + "/mine");
      WriteFile(server_ + "/" + path + "/mine/notes", std::string("the administrator's ") + path,
                0640);
    }
    auto edited = TreeOf(server_);

    for (const std::string& package : {v2, v3}) {
      ProcessResult upgrade = Run(package, {"-s", "-cfg", "inst.cfg"});
      ASSERT_EQ(0, upgrade.code) << upgrade.out;
      auto tree = TreeOf(server_);
      for (const char* path : {"qmserver.cfg", "Content/welcome.txt"}) {
        for (const char* inside : {"/", "/mine/", "/mine/notes"}) {
          EXPECT_EQ(edited[path + std::string(inside)], tree[path + std::string(inside)])
              << path << inside;
        }
      }
      EXPECT_TRUE(Contains(tree["qmserver.cfg.new"], "<Var MonitorPassword=\""));
      EXPECT_EQ(edited["Docs/ReadMe.txt/mine/notes"], tree["Docs/ReadMe.txt.saved/mine/notes"]);
      EXPECT_EQ(edited["Docs/ReadMe.txt/mine/"], tree["Docs/ReadMe.txt.saved/mine/"]);
      EXPECT_EQ(0u, tree["Docs/ReadMe.txt"].find("420 ")) << tree["Docs/ReadMe.txt"];
      EXPECT_TRUE(Contains(tree["Content/welcome.txt.new"], package == v2 ? "v2\n" : "v3\n"));
      // Nothing of the administrator's is listed as the installation's.
      std::string record = ReadFile(server_ + "/install-manifest.txt");
      EXPECT_FALSE(Contains(record, "/mine")) << record;
      EXPECT_TRUE(Contains(record, "\nfile\tqmserver.cfg\t")) << record;
    }
    std::string log = ReadFile(server_ + "/Logs/install.log");
    EXPECT_TRUE(Contains(log, "  kept as the administrator's: qmserver.cfg\n")) << log;
    EXPECT_TRUE(Contains(log, "  saved the administrator's as: Docs/ReadMe.txt.saved\n")) << log;

    // Settled: a rerun changes nothing, and uninstall leaves what is theirs.
    auto settled = TreeOf(server_);
    settled.erase("install-manifest.txt");
    settled.erase("Logs/install.log");
    ASSERT_EQ(0, Run(v3, {"-s", "-cfg", "inst.cfg"}).code);
    auto rerun = TreeOf(server_);
    rerun.erase("install-manifest.txt");
    rerun.erase("Logs/install.log");
    EXPECT_EQ(settled, rerun);
    ProgramRun uninstall;
    uninstall.program = server_ + "/Bin/uninstall";
    uninstall.argv = {uninstall.program, "-s"};
    ProcessResult removed = RunProgram(uninstall);
    EXPECT_EQ(0, removed.code) << removed.out << removed.err;
    for (const char* notes : {"qmserver.cfg/mine/notes", "Content/welcome.txt/mine/notes",
                              "Docs/ReadMe.txt.saved/mine/notes"})
      EXPECT_TRUE(Exists(server_ + "/" + notes)) << notes;
  }
};

TEST_F(AdministratorDirectories, OutliveUpgradesWithBackups) {
  UpgradeTwiceRerunAndRemove("");
}

TEST_F(AdministratorDirectories, OutliveUpgradesWithoutBackups) {
  UpgradeTwiceRerunAndRemove("BackupOldFiles=0\n");
}

}  // namespace
