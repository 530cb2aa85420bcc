// Bin/uninstall as an administrator meets it: the real setup program copied
// into a fabricated installation with a manifest, run as a process.
#include "driver/uninstaller/Uninstaller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "driver/record/InstallManifest.h"
#include "tests/Subprocess.h"

namespace {

class Uninstall : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = RealPath(tmp_.path()) + "/strata";
    outside_ = RealPath(tmp_.path()) + "/outside";
    WriteFile(MakeDirs(outside_) + "/libx.so", "library", 0644);
    WriteFile(MakeDirs(dir_ + "/Bin") + "/qmserver", "server", 0755);
    ASSERT_EQ(0, system(("cp '" SETUP_PROGRAM "' '" + dir_ + "/Bin/uninstall'").c_str()));
    WriteFile(MakeDirs(dir_ + "/Lib/deep/deeper") + "/libx.so", "library", 0644);
    WriteFile(MakeDirs(dir_ + "/adm_b_db") + "/users", "admin:digest\n", 0600);
    WriteFile(dir_ + "/qmserver.cfg", "port=554\n", 0644);
    ASSERT_EQ(0, symlink(outside_.c_str(), (dir_ + "/Lib/outside").c_str()));
    MakeDirs(dir_ + "/Logs");
  }

  // Records everything there now as installed; moved names as moved to
  // NAME.old.
  void WriteManifest(const std::vector<std::string>& moved = {}) {
    InstallManifest manifest;
    manifest.product = "Strata Server";
    manifest.release = "9.08";
    manifest.installDir = dir_;
    manifest.movedToOld = moved;
    std::string error;
    ASSERT_TRUE(
        DescribeFiles(dir_, {"Bin", "Lib", "adm_b_db", "qmserver.cfg"}, &manifest.files, &error))
        << error;
    ASSERT_TRUE(manifest.Write(dir_, &error)) << error;
  }

  ProcessResult Run(std::vector<std::string> args, const std::string& input = "") {
    ProgramRun run;
    run.program = dir_ + "/Bin/uninstall";
    run.argv = {"uninstall"};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = tmp_.path();
    run.input = input;
    return RunProgram(run);
  }

  // The tree of the installation directory without the log of the
  // removal, whose text (after its date) goes to *log.
  std::map<std::string, std::string> TreeWithoutLog(std::string* log = nullptr) {
    std::map<std::string, std::string> tree = TreeOf(dir_);
    std::string entry = tree["Logs/install.log"];
    tree.erase("Logs/install.log");
    // Mode 0640, then the date.
    EXPECT_EQ(0u, entry.find("416 20")) << entry;
    if (log != nullptr)
      *log = entry.substr(entry.find('Z') + 1);
    return tree;
  }

  TempDir tmp_;
  std::string dir_;
  std::string outside_;
};

}  // namespace

TEST_F(Uninstall, SilentRemovalKeepsChangedAndAddedFilesAndNeverLeavesTheDirectory) {
  WriteManifest();
  WriteFile(dir_ + "/Logs/server.log", "started\n");
  WriteFile(dir_ + "/qmserver.cfg", "port=8554\n", 0644);
  std::map<std::string, std::string> outside = TreeOf(outside_);

  ProcessResult result = Run({"-s"});
  EXPECT_TRUE(result.exited && result.code == 0) << result.out << result.err;
  EXPECT_EQ(
      "Kept (changed since installation): qmserver.cfg\n"
      "Kept (not installed by setup): Logs/server.log\n",
      result.out);
  std::string log;
  EXPECT_EQ((std::map<std::string, std::string>{{"Logs/", "493"},
                                                {"Logs/server.log", "420 started\n"},
                                                {"qmserver.cfg", "420 port=8554\n"}}),
            TreeWithoutLog(&log));
  EXPECT_EQ(" uninstall " + dir_ +
                ": version unknown, package unknown\n"
                "  removed Bin/qmserver\n"
                "  removed Lib/deep/deeper/libx.so\n"
                "  removed Lib/outside\n"
                "  removed adm_b_db/users\n"
                "  removed Bin/uninstall\n"
                "  kept as the administrator's (changed since installation): qmserver.cfg\n",
            log);
  EXPECT_EQ(outside, TreeOf(outside_));
}

// Many files, so that they are digested on the worker threads, in
// directories of several depths: the one changed at the same size is kept,
// every other goes.
TEST_F(Uninstall, AmongManyFilesTheOneChangedIsKept) {
  for (int i = 0; i < 50; ++i) {
    std::string name = (i < 10 ? "lib0" : "lib") + std::to_string(i) + ".so";
    WriteFile(MakeDirs(dir_ + (i % 2 == 0 ? "/Lib/many" : "/Lib/many/more")) + "/" + name,
              "library " + name);
  }
  WriteManifest();
  WriteFile(dir_ + "/Lib/many/more/lib31.so", "library XXXXXXXX", 0644);

  ProcessResult result = Run({"-s"});
  EXPECT_TRUE(result.exited && result.code == 0) << result.out << result.err;
  EXPECT_EQ("Kept (changed since installation): Lib/many/more/lib31.so\n", result.out);
  std::map<std::string, std::string> left = TreeWithoutLog();
  EXPECT_EQ((std::map<std::string, std::string>{{"Lib/", "493"},
                                                {"Lib/many/", "493"},
                                                {"Lib/many/more/", "493"},
                                                {"Lib/many/more/lib31.so", "420 library XXXXXXXX"},
                                                {"Logs/", "493"}}),
            left);
}

TEST_F(Uninstall, ADirectoryReplacedByALinkIsNotFollowed) {
  WriteManifest();
  // Outside, what the manifest lists, byte for byte: followed, it would go.
  WriteFile(MakeDirs(outside_ + "/deep/deeper") + "/libx.so", "library", 0644);
  ASSERT_EQ(0, system(("rm -rf '" + dir_ + "/Lib'").c_str()));
  ASSERT_EQ(0, symlink(outside_.c_str(), (dir_ + "/Lib").c_str()));
  std::map<std::string, std::string> outside = TreeOf(outside_);

  ProcessResult result = Run({"-s"});
  EXPECT_TRUE(result.exited && result.code == 0) << result.out << result.err;
  EXPECT_EQ("Kept (not installed by setup): Lib\n", result.out);
  EXPECT_EQ((std::map<std::string, std::string>{{"Lib", "-> " + outside_}, {"Logs/", "493"}}),
            TreeWithoutLog());
  EXPECT_EQ(outside, TreeOf(outside_));
}

TEST_F(Uninstall, RestoreBackupWithoutTheEarlierRecordChangesNothing) {
  MakeDirs(dir_ + "/Bin.old/empty");
  WriteFile(dir_ + "/Bin.old/qmserver", "older server", 0755);
  WriteFile(dir_ + "/qmserver.cfg.old", "port=1554\n", 0640);
  WriteManifest({"Bin", "qmserver.cfg"});
  std::map<std::string, std::string> before = TreeOf(dir_);

  // An installation made before the record went with its backup cannot be
  // rolled back to anything that knows itself.
  ProcessResult result = Run({"-s", "--restore-backup"});
  EXPECT_TRUE(result.exited && result.code == 255) << result.out << result.err;
  EXPECT_EQ("Error: no earlier installation to put back in " + dir_ +
                ": its record install-manifest.txt.old cannot be read (" + dir_ +
                "/install-manifest.txt.old: No such file or directory); nothing was changed\n",
            result.out);
  EXPECT_EQ(before, TreeOf(dir_));

  // Nothing moved to ".old" at all: the same.
  WriteManifest();
  before = TreeOf(dir_);
  result = Run({"-s", "--restore-backup"});
  EXPECT_EQ(255, result.code);
  EXPECT_EQ("Error: no earlier installation to put back in " + dir_ +
                ": the last installation moved nothing to NAME.old; nothing was changed\n",
            result.out);
  EXPECT_EQ(before, TreeOf(dir_));
}

TEST_F(Uninstall, WithoutRestoreBackupTheBackupStaysWhole) {
  MakeDirs(dir_ + "/Bin.old/empty");
  WriteFile(dir_ + "/Bin.old/qmserver", "older server", 0755);
  WriteManifest({"Bin"});
  ProcessResult result = Run({"-s"});
  EXPECT_TRUE(result.exited && result.code == 0) << result.out << result.err;
  EXPECT_EQ("Kept (backup of the earlier installation): Bin.old\n", result.out);
  EXPECT_EQ((std::map<std::string, std::string>{{"Bin.old/", "493"},
                                                {"Bin.old/empty/", "493"},
                                                {"Bin.old/qmserver", "493 older server"},
                                                {"Logs/", "493"}}),
            TreeWithoutLog());
}

TEST_F(Uninstall, AsksFirstAndRemovesOnlyOnYes) {
  WriteManifest();
  std::map<std::string, std::string> before = TreeOf(dir_);
  const std::string question = "Remove Strata Server 9.08 from " + dir_ + "? (yes or no) [no]: ";

  ProcessResult declined = Run({}, "no\n");
  EXPECT_TRUE(declined.exited && declined.code == 1) << declined.err;
  EXPECT_EQ(question + "Nothing was removed.\n", declined.out);
  EXPECT_EQ(before, TreeOf(dir_));

  ProcessResult ended = Run({});
  EXPECT_TRUE(ended.exited && ended.code == 255) << ended.err;
  EXPECT_EQ(question + "\nError: input ended before an answer; nothing was removed.\n", ended.out);
  EXPECT_EQ(before, TreeOf(dir_));

  ProcessResult confirmed = Run({}, " YES \n");
  EXPECT_TRUE(confirmed.exited && confirmed.code == 0) << confirmed.err;
  EXPECT_EQ(question + "Strata Server 9.08 was removed from " + dir_ + ".\n", confirmed.out);
  // Only the log of the removal stays.
  EXPECT_EQ((std::map<std::string, std::string>{{"Logs/", "493"}}), TreeWithoutLog());
  EXPECT_EQ("library", ReadFile(outside_ + "/libx.so"));
}

TEST_F(Uninstall, AManifestOfAnotherFormatIsRefused) {
  WriteFile(dir_ + "/install-manifest.txt", "format=2\nfiles=0\n");
  std::map<std::string, std::string> before = TreeOf(dir_);
  ProcessResult result = Run({"-s"});
  EXPECT_TRUE(result.exited && result.code == 255) << result.err;
  EXPECT_EQ("Error: no installation to remove here: " + dir_ +
                "/install-manifest.txt: format 2 is not known (this program reads format 1)\n",
            result.out);
  EXPECT_EQ(before, TreeOf(dir_));

  // Converted to CRLF line ends: said so, not "format 1 is not known".
  WriteFile(dir_ + "/install-manifest.txt", "# Strata Server\r\nformat=1\r\nfiles=0\r\n");
  before = TreeOf(dir_);
  result = Run({"-s"});
  EXPECT_TRUE(result.exited && result.code == 255) << result.err;
  EXPECT_EQ("Error: no installation to remove here: " + dir_ +
                "/install-manifest.txt: line 1: ends with a carriage return: the record has CRLF "
                "line ends (converted or edited with another line end); setup writes line feeds "
                "only\n",
            result.out);
  EXPECT_EQ(before, TreeOf(dir_));
}

TEST_F(Uninstall, TheAdministratorsDirectoriesStayAndOddNamesAreShownSafely) {
  WriteManifest();
  MakeDirs(dir_ + "/Content/mine");
  MakeDirs(dir_ + "/Lib/deep/spare");
  // A name that would retitle the terminal and forge a line of its own.
  const std::string odd = "notes\x1b]0;owned\x07\nRestored: Bin";
  WriteFile(dir_ + "/Bin/" + odd, "the administrator's", 0644);

  ProcessResult result = Run({"-s"});
  EXPECT_TRUE(result.exited && result.code == 0) << result.out << result.err;
  EXPECT_EQ(
      "Kept (not installed by setup): Bin/notes?]0;owned??Restored: Bin\n"
      "Kept (not installed by setup): Content/mine/\n"
      "Kept (not installed by setup): Lib/deep/spare/\n",
      result.out);
  EXPECT_EQ((std::map<std::string, std::string>{{"Bin/", "493"},
                                                {"Bin/" + odd, "420 the administrator's"},
                                                {"Content/", "493"},
                                                {"Content/mine/", "493"},
                                                {"Lib/", "493"},
                                                {"Lib/deep/", "493"},
                                                {"Lib/deep/spare/", "493"},
                                                {"Logs/", "493"}}),
            TreeWithoutLog());
}
