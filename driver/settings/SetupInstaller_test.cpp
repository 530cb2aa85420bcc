#include "driver/settings/SetupInstaller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/Subprocess.h"

namespace {

// A start directory holding an earlier installation's Bin/setup and the
// extraction directory of a package run from there.
class SetupInstallerExits : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    mkdir(Path("Bin").c_str(), 0755);
    WriteFile(Path("Bin/setup"), "the earlier installation's installer", 0755);
    mkdir(Path("qzsetup").c_str(), 0755);
    WriteFile(Path("qzsetup/License.txt"), "terms");
  }

  // Runs the framework's command line in the extraction directory, with
  // the start directory as the default installation directory; afterwards
  // in the same process the clean-up, once the product is marked as placing.
  ProcessResult Run(std::vector<const char*> args, bool placing = false) {
    std::string extract = Path("qzsetup");
    return RunForked(ForkOptions::MarkReturn(), [&] {
      if (chdir(extract.c_str()) != 0)
        _exit(98);
      SetupInstaller installer;
      installer.SetDefaults();
      if (placing)
        installer.MarkPlacing();
      args.insert(args.begin(), "./Bin/setup");
      installer.ParseCmdLine(static_cast<int>(args.size()), args.data());
      installer.CleanUpAndExit(7, installer.m_pUI);
    });
  }
};

}  // namespace

TEST_F(SetupInstallerExits, CommandLineExitsLeaveAnEarlierInstallerAlone) {
  struct Case {
    std::vector<const char*> args;
    int status;
    const char* shown;
  };
  const Case cases[] = {
      {{"--help"}, 0, "Usage: installer [options]\n"},
      {{"-v"}, 0, "\nStrata Server 9.08 (9.0.8.1427) Installer"},
      {{"-cfg", "missing.cfg"},
       255,
       "ERROR: Unable to read installer config file missing.cfg (No such file or directory)\n"},
      {{"-d", ".", "-cfg", "missing.cfg"},
       255,
       "ERROR: Unable to read installer config file missing.cfg (No such file or directory)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    mkdir(Path("qzsetup").c_str(), 0755);
    ProcessResult run = Run(c.args);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(c.status, run.code);
    EXPECT_NE(std::string::npos, (run.out + run.err).find(c.shown)) << run.out << run.err;
    EXPECT_EQ("the earlier installation's installer", ReadFile(Path("Bin/setup")));
    EXPECT_FALSE(Exists(Path("qzsetup")));
  }
}

TEST_F(SetupInstallerExits, OncePlacingTheInstalledSetupIsRemoved) {
  ProcessResult run = Run({"-s"}, true);
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(7, run.code);
  EXPECT_FALSE(Exists(Path("Bin/setup")));
  EXPECT_TRUE(Exists(Path("Bin")));
  EXPECT_FALSE(Exists(Path("qzsetup")));
}

TEST_F(SetupInstallerExits, AnExtractionDirectoryThatStaysIsReportedWithItsReason) {
  WriteFile(Path("qzsetup/stuck"), "cannot go");
  ProcessResult run;
  {
    Immutable stuck(Path("qzsetup/stuck"));
    if (!stuck.ok())
      GTEST_SKIP() << "files cannot be made immutable here: " << stuck.why();
    run = Run({"-s"});
  }
  EXPECT_EQ(7, run.code);
  EXPECT_EQ("\nWarning: Unable to remove the extraction directory " + Path("qzsetup") + " (" +
                Path("qzsetup/stuck") + ": Operation not permitted)\n",
            run.out);
  EXPECT_EQ("the earlier installation's installer", ReadFile(Path("Bin/setup")));
}
