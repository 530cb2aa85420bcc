#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "installer/ServerInstaller.h"
#include "tests/InstallerTestHelpers.h"
#include "tests/Subprocess.h"

using installer_test::Argv;
using installer_test::RecordingUI;

namespace {

typedef std::vector<std::pair<RecordingUI::Channel, std::string>> Shown;

const RecordingUI::Channel kMessage = RecordingUI::kMessage;
const RecordingUI::Channel kError = RecordingUI::kError;

const char kBanner[] = "\nStrata Server 9.08 (9.0.8.1427) Installer";
const char kCleaningUp[] = "Cleaning up installation files...";
const char kDone[] = "\nDone.\n\n";

// Reads files named relatively from the directory above the working one, as
// the installer does in the extraction directory scratch/inst/qzsetup.
class CmdLineTest : public ::testing::Test {
 protected:
  CmdLineTest()
      : m_inst(MakeDirs(m_scratch / "inst")),
        m_qzsetup(MakeDirs(m_scratch / "inst/qzsetup")),
        m_cwd(m_qzsetup),
        m_ui(new RecordingUI) {
    m_installer.SetDefaults();
    delete m_installer.m_pUI;
    m_installer.m_pUI = m_ui;
  }

  void Parse(std::vector<std::string> words) {
    Argv argv(std::move(words));
    m_installer.ParseCmdLine(argv.Count(), argv.Vector());
  }

  TempDir m_scratch;
  std::string m_inst;
  std::string m_qzsetup;
  ScopedChdir m_cwd;
  ServerInstaller m_installer;
  RecordingUI* m_ui;  // owned by m_installer
};

// Notes the path it is asked to read instead of reading it.
class PathRecorder : public ServerInstaller {
 public:
  int ReadInstallerDefaults(const char* fileName) override {
    m_paths.push_back(fileName);
    return 0;
  }
  std::vector<std::string> m_paths;
};

// Announces each path it is asked to read on standard output and reads it
// successfully, without touching it.
class ReadAnnouncer : public ServerInstaller {
 public:
  int ReadInstallerDefaults(const char* fileName) override {
    printf("read %s\n", fileName);
    return 0;
  }
};

// Notes on its recording console how the parse ends the process instead of
// cleaning up.
class ExitNoter : public ServerInstaller {
 public:
  ExitNoter() : m_recording(new RecordingUI) {
    delete m_pUI;
    m_pUI = m_recording;
    installer_test::TranscribeCallsAtExit(m_recording);
  }
  [[noreturn]] void CleanUpAndExit(int status, ConsoleUI* ui) override {
    m_recording->m_calls.push_back("CleanUpAndExit(" + std::to_string(status) + ", " +
                                   (ui == m_pUI ? "m_pUI" : "another console") + ")");
    exit(status);
  }

  RecordingUI* m_recording;  // owned as m_pUI
};

// The parse of words in a child process, in scratch/inst/qzsetup with a real
// console (or none at all) and the real clean-up, which removes
// scratch/inst/qzsetup.
ProcessResult ParseInChild(const TempDir& scratch, std::vector<std::string> words,
                           bool withConsole = true) {
  std::string qzsetup = MakeDirs(scratch / "inst/qzsetup");
  MakeDirs(scratch / "inst/Bin");
  WriteFile(scratch / "inst/Bin/setup", "#!/bin/sh\n");
  return RunForked(ForkOptions::MarkReturn(), [&] {
    if (chdir(qzsetup.c_str()) != 0)
      _exit(3);
    ServerInstaller installer;
    installer.SetDefaults();
    if (!withConsole) {
      delete installer.m_pUI;
      installer.m_pUI = nullptr;
    }
    Argv argv(words);
    installer.ParseCmdLine(argv.Count(), argv.Vector());
  });
}

// The parse of words in a child process by an ExitNoter; the calls on its
// console in order.
std::vector<std::string> CallsOfParseInChild(std::vector<std::string> words, int* status) {
  TempDir scratch;
  std::string qzsetup = MakeDirs(scratch / "inst/qzsetup");
  ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&] {
    if (chdir(qzsetup.c_str()) != 0)
      _exit(3);
    ExitNoter installer;
    installer.SetDefaults();
    Argv argv(words);
    installer.ParseCmdLine(argv.Count(), argv.Vector());
  });
  *status = child.exited ? child.code : -1;
  return installer_test::TranscribedCalls(child.out);
}

// The clean-up report around whatever progress dots had time to appear.
std::string WithoutProgressDots(std::string out) {
  size_t start = out.find(kCleaningUp);
  if (start == std::string::npos)
    return out;
  start += sizeof kCleaningUp - 1;
  size_t end = start;
  while (end < out.size() && out[end] == '.')
    ++end;
  return out.erase(start, end - start);
}

}  // namespace

TEST_F(CmdLineTest, SilentDestinationPrintsNothing) {
  Parse({"-s", "--dest", "/opt/media"});
  EXPECT_EQ(1, m_installer.m_bSilentInstall);
  EXPECT_EQ(1, m_installer.m_bNonInteractiveInstall);
  EXPECT_STREQ("/opt/media", m_installer.m_szDefInstallPath);
  EXPECT_TRUE(m_ui->m_shown.empty());
}

TEST_F(CmdLineTest, OptionsAreReported) {
  Parse({"--dest", "/opt/media", "-d", "/a", "-dest", "/b", "--destination", "/c", "-p",
         "--progress-only", "--no-backup", "--nb", "-nb", "--debug"});
  Shown expected = {
      {kMessage, "Option: install to directory /opt/media\n"},
      {kMessage, "Option: install to directory /a\n"},
      {kMessage, "Option: install to directory /b\n"},
      {kMessage, "Option: install to directory /c\n"},
      {kMessage, "Option: non-interactive install\n"},
      {kMessage, "Option: non-interactive install\n"},
      {kMessage, "Option: no-backup\n"},
      {kMessage, "Option: no-backup\n"},
      {kMessage, "Option: no-backup\n"},
      {kMessage, "Option: debug\n"},
  };
  EXPECT_EQ(expected, m_ui->m_shown);
  EXPECT_STREQ("/c", m_installer.m_szDefInstallPath);
  EXPECT_EQ(1, m_installer.m_bNonInteractiveInstall);
  EXPECT_EQ(0, m_installer.m_bSilentInstall);
  EXPECT_EQ(0, m_installer.m_bBackupOldFiles);
  EXPECT_EQ(1, m_installer.m_bDebugInstall);
}

TEST_F(CmdLineTest, ValueMissingOrAnOption) {
  char* before = m_installer.m_szDefInstallPath;
  {
    Parse({"-d"});
    Shown expected = {{kError, "Option: -d must take a filename!\n"}};
    EXPECT_EQ(expected, m_ui->m_shown);
    EXPECT_EQ(before, m_installer.m_szDefInstallPath);
  }
  m_ui->m_shown.clear();
  {
    Parse({"-d", "-p", "-cfg", "--dest", "-cfg"});
    Shown expected = {
        {kError, "Option: -d must take a filename!\n"},
        {kMessage, "Option: non-interactive install\n"},
        {kError, "Option: -cfg must take a filename!\n"},
        {kError, "Option: --dest must take a filename!\n"},
        {kError, "Option: -cfg must take a filename!\n"},
    };
    EXPECT_EQ(expected, m_ui->m_shown);
    EXPECT_EQ(before, m_installer.m_szDefInstallPath);
    EXPECT_EQ(nullptr, m_installer.m_szInstallerConfigFile);
    EXPECT_EQ(1, m_installer.m_bNonInteractiveInstall);
  }
}

TEST_F(CmdLineTest, UnknownOptionsAreReportedAndSkipped) {
  Parse({"--foo", "-D", "-dir", "--Debug", "-?", "-v1", "--debug"});
  Shown expected = {
      {kError, "ERROR: unknown command-line option: --foo\n"},
      {kError, "ERROR: unknown command-line option: -D\n"},
      {kError, "ERROR: unknown command-line option: -dir\n"},
      {kError, "ERROR: unknown command-line option: --Debug\n"},
      {kError, "ERROR: unknown command-line option: -?\n"},
      {kError, "ERROR: unknown command-line option: -v1\n"},
      {kMessage, "Option: debug\n"},
  };
  EXPECT_EQ(expected, m_ui->m_shown);
  EXPECT_EQ(1, m_installer.m_bDebugInstall);
}

TEST_F(CmdLineTest, SilentFormsWorkAnywhere) {
  for (const char* form : {"-s", "--silent", "/s"}) {
    ServerInstaller installer;
    Argv argv({"--debug", form});
    installer.ParseCmdLine(argv.Count(), argv.Vector());
    EXPECT_EQ(1, installer.m_bSilentInstall) << form;
    EXPECT_EQ(1, installer.m_bNonInteractiveInstall) << form;
  }
  // /s is silent in pass one and the directory in pass two.
  Parse({"-d", "/s"});
  EXPECT_EQ(1, m_installer.m_bSilentInstall);
  EXPECT_STREQ("/s", m_installer.m_szDefInstallPath);
  EXPECT_TRUE(m_ui->m_shown.empty());
}

TEST_F(CmdLineTest, ProgramNameCountsOnlyForPassOne) {
  {
    const char* argv[] = {"--debug", nullptr};
    m_installer.ParseCmdLine(1, argv);
    EXPECT_EQ(0, m_installer.m_bDebugInstall);
  }
  {
    const char* argv[] = {"-s", nullptr};
    m_installer.ParseCmdLine(1, argv);
    EXPECT_EQ(1, m_installer.m_bSilentInstall);
  }
  EXPECT_TRUE(m_ui->m_shown.empty());
}

TEST_F(CmdLineTest, EmptyVectorChangesNothing) {
  char* path = m_installer.m_szDefInstallPath;
  m_installer.ParseCmdLine(0, nullptr);
  EXPECT_EQ(path, m_installer.m_szDefInstallPath);
  EXPECT_EQ(0, m_installer.m_bSilentInstall);
  EXPECT_EQ(1, m_installer.m_bBackupOldFiles);
  EXPECT_TRUE(m_ui->m_shown.empty());
}

TEST_F(CmdLineTest, ConfigFileIsReadFromAboveUnlessAbsolute) {
  {
    PathRecorder installer;
    Argv argv({"-cfg", "inst.cfg", "-cfg", "/etc/inst.cfg", "-cfg", "sub/x.cfg"});
    installer.ParseCmdLine(argv.Count(), argv.Vector());
    EXPECT_EQ((std::vector<std::string>{"../inst.cfg", "/etc/inst.cfg", "../sub/x.cfg"}),
              installer.m_paths);
    EXPECT_STREQ("sub/x.cfg", installer.m_szInstallerConfigFile);
  }
  {
    WriteFile(m_inst + "/inst.cfg", "AdminPort=8000\n");
    Parse({"-cfg", "inst.cfg"});
    Shown expected = {{kMessage, "Option: read installer configuration from inst.cfg\n"}};
    EXPECT_EQ(expected, m_ui->m_shown);
    EXPECT_EQ(8000, m_installer.GetInstPort(5));
    EXPECT_STREQ("inst.cfg", m_installer.m_szInstallerConfigFile);
  }
  {
    std::string absolute = m_scratch / "abs.cfg";
    WriteFile(absolute, "AdminPort=8001\n");
    Parse({"-cfg", absolute});
    EXPECT_EQ(8001, m_installer.GetInstPort(5));
    EXPECT_EQ(absolute, m_installer.m_szInstallerConfigFile);
  }
}

TEST_F(CmdLineTest, ConfigFileAndOptionsApplyLeftToRight) {
  WriteFile(m_inst + "/f", "DefInstallPath=/b\n");
  Parse({"--dest", "/a", "-cfg", "f"});
  EXPECT_STREQ("/b", m_installer.m_szDefInstallPath);
  Parse({"-cfg", "f", "--dest", "/a"});
  EXPECT_STREQ("/a", m_installer.m_szDefInstallPath);
}

TEST_F(CmdLineTest, ConfigFileCanMuteOrUnmuteTheReports) {
  {
    WriteFile(m_inst + "/quiet.cfg", "SilentInstall=1\n");
    Parse({"-cfg", "quiet.cfg", "--debug", "--foo", "-d"});
    Shown expected = {{kMessage, "Option: read installer configuration from quiet.cfg\n"}};
    EXPECT_EQ(expected, m_ui->m_shown);
    EXPECT_EQ(1, m_installer.m_bSilentInstall);
    EXPECT_EQ(0, m_installer.m_bNonInteractiveInstall);
    EXPECT_EQ(1, m_installer.m_bDebugInstall);
  }
  m_ui->m_shown.clear();
  {
    // Silent from the command line, loud again from the file: the silent
    // option after it is then an unknown option of pass two.
    WriteFile(m_inst + "/loud.cfg", "SilentInstall=0\n");
    Parse({"-s", "-cfg", "loud.cfg", "-s"});
    Shown expected = {{kError, "ERROR: unknown command-line option: -s\n"}};
    EXPECT_EQ(expected, m_ui->m_shown);
  }
}

TEST(CmdLineExit, VersionShowsTheBannerAndCleansUp) {
  TempDir scratch;
  ProcessResult child = ParseInChild(scratch, {"--debug", "-v"});
  EXPECT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
  EXPECT_EQ(std::string(kBanner) + kCleaningUp + kDone, WithoutProgressDots(child.out));
  EXPECT_EQ("", child.err);
  // The clean-up ran in the parent of the working directory.
  EXPECT_FALSE(Exists(scratch / "inst/qzsetup"));
  EXPECT_FALSE(Exists(scratch / "inst/Bin/setup"));
  EXPECT_TRUE(Exists(scratch / "inst/Bin"));
}

TEST(CmdLineExit, SilentVersionShowsOnlyTheBanner) {
  TempDir scratch;
  ProcessResult child = ParseInChild(scratch, {"-s", "--version"});
  EXPECT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
  EXPECT_EQ(kBanner, child.out);
  EXPECT_FALSE(Exists(scratch / "inst/qzsetup"));
}

TEST(CmdLineExit, HelpShowsTheUsageLineFirstComeFirstServed) {
  for (const char* form : {"--help", "-h", "/?"}) {
    TempDir scratch;
    ProcessResult child = ParseInChild(scratch, {"-s", form, "--version"});
    EXPECT_TRUE(child.exited) << form;
    EXPECT_EQ(0, child.code) << form;
    EXPECT_EQ("", child.out) << form;
    EXPECT_EQ("Usage: installer [options]\n", child.err) << form;
  }
  {
    TempDir scratch;
    ProcessResult child = ParseInChild(scratch, {"--help"});
    EXPECT_EQ(0, child.code);
    EXPECT_EQ(std::string(kCleaningUp) + kDone, WithoutProgressDots(child.out));
    EXPECT_EQ("Usage: installer [options]\n", child.err);
  }
}

TEST(CmdLineExit, UnreadableConfigFileEndsWithStatus255) {
  {
    TempDir scratch;
    ProcessResult child = ParseInChild(scratch, {"--debug", "-cfg", "missing.cfg", "--foo"});
    EXPECT_TRUE(child.exited);
    EXPECT_EQ(255, child.code);
    EXPECT_EQ(std::string("Option: debug\n"
                          "Option: read installer configuration from missing.cfg\n"
                          "ERROR: Unable to read installer config file missing.cfg "
                          "(No such file or directory)\n") +
                  kCleaningUp + kDone,
              WithoutProgressDots(child.out));
    EXPECT_FALSE(Exists(scratch / "inst/qzsetup"));
  }
  {
    TempDir scratch;
    ProcessResult child = ParseInChild(scratch, {"-s", "-cfg", "missing.cfg"});
    EXPECT_EQ(255, child.code);
    EXPECT_EQ("", child.out);
    EXPECT_FALSE(Exists(scratch / "inst/qzsetup"));
  }
  {
    // The directory above is no file to read.
    TempDir scratch;
    ProcessResult child = ParseInChild(scratch, {"-cfg", "."});
    EXPECT_EQ(255, child.code);
    EXPECT_NE(std::string::npos,
              child.out.find("ERROR: Unable to read installer config file . (Is a directory)\n"))
        << child.out;
  }
}

TEST(CmdLineExit, ConfigPathsLongerThan1023AreRefused) {
  // "../" and 1020 characters make 1023: still tried; one more is refused
  // before any attempt, like a file that cannot be read.
  std::string name;
  while (name.size() < 1030)
    name += std::string(99, 'n') + "/";
  const std::string fits = name.substr(0, 1020);
  const std::string tooLong = name.substr(0, 1021);
  {
    TempDir scratch;
    std::string qzsetup = MakeDirs(scratch / "inst/qzsetup");
    ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&] {
      if (chdir(qzsetup.c_str()) != 0)
        _exit(3);
      ReadAnnouncer installer;
      installer.SetDefaults();
      installer.m_bSilentInstall = 1;
      Argv argv({"-cfg", fits, "-cfg", "/" + name.substr(0, 1022), "-cfg", tooLong});
      installer.ParseCmdLine(argv.Count(), argv.Vector());
    });
    EXPECT_EQ(255, child.code);
    EXPECT_EQ("read ../" + fits + "\nread /" + name.substr(0, 1022) + "\n", child.out);
  }
  {
    TempDir scratch;
    std::string qzsetup = MakeDirs(scratch / "inst/qzsetup");
    ProcessResult child = RunForked(ForkOptions::MarkReturn(), [&] {
      if (chdir(qzsetup.c_str()) != 0)
        _exit(3);
      ReadAnnouncer installer;
      installer.SetDefaults();
      installer.m_bSilentInstall = 1;
      Argv argv({"-cfg", "/" + name.substr(0, 1023)});
      installer.ParseCmdLine(argv.Count(), argv.Vector());
    });
    EXPECT_EQ(255, child.code);
    EXPECT_EQ("", child.out);
  }
  {
    TempDir scratch;
    ProcessResult child = ParseInChild(scratch, {"-cfg", tooLong});
    EXPECT_EQ(255, child.code);
    EXPECT_EQ("Option: read installer configuration from " + tooLong + "\n" +
                  "ERROR: Unable to read installer config file " + tooLong +
                  " (File name too long)\n" + kCleaningUp + kDone,
              WithoutProgressDots(child.out));
    EXPECT_FALSE(Exists(scratch / "inst/qzsetup"));
  }
}

TEST(CmdLineExit, EndsThroughTheVirtualCleanUpAndExitWithItsConsole) {
  int status = 0;
  {
    std::vector<std::string> expected = {std::string("ShowMessage(") + kBanner + ")",
                                         "CleanUpAndExit(0, m_pUI)"};
    EXPECT_EQ(expected, CallsOfParseInChild({"--debug", "-v"}, &status));
    EXPECT_EQ(0, status);
  }
  {
    std::vector<std::string> expected = {"PrintUsage(installer, <null>)",
                                         "CleanUpAndExit(0, m_pUI)"};
    EXPECT_EQ(expected, CallsOfParseInChild({"-h"}, &status));
    EXPECT_EQ(0, status);
  }
  {
    // The failure to read is an error; the report of the option is not.
    std::vector<std::string> expected = {
        "ShowMessage(Option: read installer configuration from missing.cfg\n)",
        "ShowErrorMessage(ERROR: Unable to read installer config file missing.cfg "
        "(No such file or directory)\n)",
        "CleanUpAndExit(-1, m_pUI)"};
    EXPECT_EQ(expected, CallsOfParseInChild({"-cfg", "missing.cfg"}, &status));
    EXPECT_EQ(255, status);
  }
}

TEST(CmdLineExit, WithoutAConsoleEndsQuietlyAfterTheCleanUp) {
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--version"}, 0},
      {{"--help"}, 0},
      {{"-cfg", "missing.cfg"}, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first[0]);
    TempDir scratch;
    ProcessResult child = ParseInChild(scratch, c.first, false);
    EXPECT_TRUE(child.exited);
    EXPECT_EQ(c.second, child.code);
    EXPECT_EQ("", child.out);
    EXPECT_EQ("", child.err);
    EXPECT_FALSE(Exists(scratch / "inst/qzsetup"));
    EXPECT_FALSE(Exists(scratch / "inst/Bin/setup"));
  }
}
