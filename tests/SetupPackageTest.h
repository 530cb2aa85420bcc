#ifndef STRATA_TESTS_SETUPPACKAGETEST_H_
#define STRATA_TESTS_SETUPPACKAGETEST_H_

// The fixture of the end-to-end installations: the demo product with the
// real second-stage installer, assembled by mkpackage once per test suite and
// run in a temporary start directory, with helpers to compare trees.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "installer/ServerInstaller.h"
#include "tests/LocalPorts.h"
#include "tests/PtySession.h"
#include "tests/Subprocess.h"

constexpr const char* kPortSettings[] = {"MonitorPort", "RTSPPort", "VQXPort",
                                         "HTTPPort",    "MMSPort",  "AdminPort"};
constexpr const char* kDatabases[] = {"adm_b_db", "enc_r_db", "enc_w_db", "enc_b_db", "cdi_b_db"};

inline std::string HostName() {
  char* name = nullptr;
  ServerInstaller::GetLocalHostName(name);
  std::string host = name != nullptr ? name : "";
  delete[] name;
  return host;
}

// Files below root (relative path to mode and content); directories end
// with "/".
inline std::map<std::string, std::string> Files(const std::string& root) {
  std::map<std::string, std::string> files;
  VisitTree(root, [&](const std::string& relative, const struct stat& st) {
    files[relative] = S_ISDIR(st.st_mode) ? std::string()
                                          : std::to_string(st.st_mode & 0777) + " " +
                                                ComparedContent(ReadFile(root + "/" + relative));
  });
  return files;
}

// The value shown on a summary line such as "    Encoder password:  x (generated)".
inline std::string ShownValue(const std::string& output, const std::string& label) {
  size_t at = output.find("    " + label + ":");
  if (at == std::string::npos)
    return "";
  size_t start = output.find_first_not_of(' ', at + 4 + label.size() + 1);
  size_t end = output.find_first_of(" \n", start);
  return output.substr(start, end - start);
}

// One start directory: the package is run from here, like an administrator
// runs it from a shell.
class SetupPackage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_build = new TempDir;
    std::string stage = *s_build / "stage";
    // Without debug information, as a release ships it: a package a tenth
    // the size unpacks in a fraction of the time.
    std::string copy = "cp -R '" DEMO_PRODUCT "' '" + stage + "' && (strip -o '" + stage +
                       "/Bin/setup' '" SETUP_PROGRAM "' || cp '" SETUP_PROGRAM "' '" + stage +
                       "/Bin/setup')";
    ASSERT_EQ(0, system(copy.c_str()));
    s_package = *s_build / "strata-demo.bin";
    ProgramRun build;
    build.program = MKPACKAGE;
    build.argv = {MKPACKAGE, stage, s_package};
    ProcessResult built = RunProgram(build);
    ASSERT_TRUE(built.exited && built.code == 0) << built.err;
  }
  static void TearDownTestSuite() {
    delete s_build;
    s_build = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(Exists(s_package));
    start_ = RealPath(tmp_.path());
    server_ = start_ + "/server";
    ports_ = FreePorts(6);
  }

  // A defaults file for an unattended installation into "server" with free
  // ports; extra lines come last and so win.
  void WriteDefaults(const std::string& extra = "") {
    std::string text = "DefInstallPath=server\nAdminUserID=admin\nEncoderUserID=encoder\n";
    for (int i = 0; i < 6; ++i)
      text += std::string(kPortSettings[i]) + "=" + std::to_string(ports_[i]) + "\n";
    text += "NonInteractiveInstall=1\n" + extra;
    WriteFile(tmp_ / "inst.cfg", text);
  }

  // Runs the package from the start directory with standard input closed.
  ProcessResult RunPackage(std::vector<std::string> args) {
    ProgramRun run;
    run.program = s_package;
    args.insert(args.begin(), s_package);
    run.argv = args;
    run.cwd = start_;
    run.umask = 022;
    return RunProgram(run);
  }

  // Starts the package from the start directory on session's terminal, as a
  // user runs it in a terminal window, with "cat" as the pager and a
  // terminal of no capabilities; umask -1 keeps the test's own. False if it
  // cannot be started.
  bool StartInTerminal(PtySession& session, std::vector<std::string> args, int umask = -1) {
    ProgramRun run;
    run.program = s_package;
    args.insert(args.begin(), s_package);
    run.argv = args;
    run.cwd = start_;
    run.env = {{"PAGER", "cat"}, {"TERM", "dumb"}};
    run.umask = umask;
    return session.Start(run);
  }

  void ExpectWorkingFilesGone() {
    EXPECT_FALSE(Exists(start_ + "/qzsetup"));
    EXPECT_FALSE(Exists(start_ + "/xxextract.tmp"));
    EXPECT_FALSE(Exists(server_ + "/Bin/setup"));
  }

  static TempDir* s_build;
  static std::string s_package;
  TempDir tmp_;
  std::string start_;
  std::string server_;
  std::vector<int> ports_;
};

#endif  // STRATA_TESTS_SETUPPACKAGETEST_H_
