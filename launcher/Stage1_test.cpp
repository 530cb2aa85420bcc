#include "launcher/Stage1.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/ExpectedHelpText.h"
#include "tests/Subprocess.h"

namespace {

const char kBanner[] = "\nStrata Server 9.08 (9.0.8.1427) Installer\n";

const std::string kUsage =
    std::string("\nUsage: installer [options]\n\nWhere options are:\n") + kExpectedHelpText + "\n";

// An argv of modifiable strings, as a process receives it.
class Args {
 public:
  Args(std::initializer_list<const char*> args) : Args(std::vector<const char*>(args)) {}
  explicit Args(const std::vector<const char*>& args) {
    for (const char* arg : args)
      m_strings.emplace_back(arg, arg + strlen(arg) + 1);
    for (std::vector<char>& s : m_strings)
      m_pointers.push_back(s.data());
    m_pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(m_strings.size()); }
  char** argv() { return m_pointers.data(); }

 private:
  std::vector<std::vector<char>> m_strings;
  std::vector<char*> m_pointers;
};

// The flags after parsing args; the parse must not end the process.
unsigned FlagsAfter(std::initializer_list<const char*> list) {
  Args args(list);
  Stage1 stage1;
  stage1.ParseCmdLine(args.argc(), args.argv());
  return stage1.m_nFlags;
}

// The run of ParseCmdLine in a child process.
ProcessResult ParseInChild(std::initializer_list<const char*> list) {
  return RunForked([list] {
    Args args(list);
    Stage1 stage1;
    stage1.ParseCmdLine(args.argc(), args.argv());
  });
}

// A stage one whose operations announce themselves on standard output, so
// that a test sees which of them Main and ParseCmdLine reach through the
// virtual table.
class TracedStage1 : public Stage1 {
 public:
  void RunSecondStage(int argc, char** argv) override {
    printf("[RunSecondStage %d %s]", argc, argc > 1 ? argv[1] : "");
  }
  [[noreturn]] void Bail(int status, const char* message) override {
    printf("[Bail %d %s]", status, message);
    fflush(nullptr);
    _exit(42);
  }
  void PrintVersion() override { printf("[PrintVersion]"); }
  void PrintUsage(const char* prog) override { printf("[PrintUsage %s]", prog); }
  void ParseCmdLine(int argc, char** argv) override {
    printf("[ParseCmdLine %d]", argc);
    Stage1::ParseCmdLine(argc, argv);
  }
};

// The package file of a run of Main: a gzip-compressed tar archive of one
// small file and nothing before it, so that the launcher piece is empty.
std::string MakeTgzPackage(const TempDir& dir) {
  MakeDirs(dir / "product");
  WriteFile(dir / "product/readme", "hello\n");
  const std::string package = dir / "package.tgz";
  EXPECT_EQ(0, RunShell("tar -C '" + (dir / "product") + "' -czf '" + package + "' ."));
  return package;
}

// Main of a TracedStage1 in a child process working in dir.
ProcessResult RunTracedMain(const std::string& dir, const std::string& package,
                            const char* archiveType, std::initializer_list<const char*> options) {
  return RunForked(ForkOptions::MarkReturn(), [&] {
    if (chdir(dir.c_str()) != 0)
      _exit(98);
    std::vector<const char*> list = {package.c_str()};
    list.insert(list.end(), options);
    Args args(list);
    std::string type = archiveType;
    const int length = static_cast<int>(ReadFile(package).size());
    TracedStage1 stage1;
    stage1.SetPackagePath(package.c_str());
    stage1.Main(length, 0, &type[0], args.argc(), args.argv());
  });
}

}  // namespace

TEST(Stage1, OperationsCallTheDerivedOnes) {
  {
    ProcessResult run = RunForked([] {
      Args args({"pkg", "-s", "-v"});
      TracedStage1 stage1;
      stage1.Stage1::ParseCmdLine(args.argc(), args.argv());
    });
    EXPECT_EQ(42, run.code);
    EXPECT_EQ("[PrintVersion][Bail -1 ]", run.out);
    EXPECT_EQ("", run.err);
  }
  {
    ProcessResult run = RunForked([] {
      Args args({"/x/pkg.bin", "--help"});
      TracedStage1 stage1;
      stage1.Stage1::ParseCmdLine(args.argc(), args.argv());
    });
    EXPECT_EQ(42, run.code);
    EXPECT_EQ("[PrintVersion][PrintUsage installer][Bail -1 ]", run.out);
    EXPECT_EQ("", run.err);
  }

  TempDir dir;
  const std::string package = MakeTgzPackage(dir);
  {
    ProcessResult run = RunTracedMain(dir.path(), package, "tgz", {"-v"});
    EXPECT_EQ(42, run.code);
    EXPECT_EQ("[ParseCmdLine 2][PrintVersion][Bail -1 ]", run.out);
    EXPECT_FALSE(Exists(dir / "qzsetup"));
  }
  {
    ProcessResult run = RunTracedMain(dir.path(), package, "gz", {});
    EXPECT_EQ(42, run.code);
    EXPECT_EQ(
        "[ParseCmdLine 1]Extracting files for ZephraNetworks installation..."
        "[Bail -1 \nError: Internal error -- unknown archive type\n]",
        run.out);
  }
  {
    // The whole run: Main ends with status 0 when the second stage returns.
    ProcessResult run = RunTracedMain(dir.path(), package, "tgz", {"-x"});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(0, run.code);
    // One dot per chunk of a twentieth of the archive, and one for what is
    // left over.
    const int64_t length = static_cast<int64_t>(ReadFile(package).size());
    const int64_t chunk = length / 20;
    ASSERT_GT(chunk, 0);
    const size_t dots = static_cast<size_t>(length / chunk + (length % chunk != 0 ? 1 : 0));
    EXPECT_EQ("[ParseCmdLine 2]Extracting files for ZephraNetworks installation..." +
                  std::string(dots, '.') + "\n[RunSecondStage 2 -x]",
              run.out);
    EXPECT_EQ("hello\n", ReadFile(dir / "qzsetup/readme"));
  }
}

TEST(Stage1, BaseNameOfArgv0PointsIntoIt) {
  struct Case {
    const char* argv0;
    size_t offset;
  };
  const Case cases[] = {
      {"/opt/pkg/setup.bin", 9},
      {"dir\\setup.bin", 4},
      {"setup.bin", 0},
      {"/setup.bin", 1},
      {"\\setup.bin", 1},
      {"a/b\\c", 4},
      {"", 0},
      {"dir/", 4},
      {"/", 1},
  };
  for (const Case& c : cases) {
    Args args({c.argv0});
    Stage1 stage1;
    g_szProg = nullptr;
    stage1.ParseCmdLine(args.argc(), args.argv());
    EXPECT_EQ(args.argv()[0] + c.offset, g_szProg) << c.argv0;
  }
}

TEST(Stage1, SilentAndProgressOptions) {
  const unsigned both = Stage1::kSilent | Stage1::kProgressOnly;
  EXPECT_EQ(0u, FlagsAfter({"pkg"}));
  EXPECT_EQ(both, FlagsAfter({"pkg", "-s"}));
  EXPECT_EQ(both, FlagsAfter({"pkg", "--silent"}));
  EXPECT_EQ(both, FlagsAfter({"pkg", "/s"}));
  EXPECT_EQ(Stage1::kProgressOnly, FlagsAfter({"pkg", "-p"}));
  EXPECT_EQ(Stage1::kProgressOnly, FlagsAfter({"pkg", "--progress-only"}));
  // The bits only accumulate.
  EXPECT_EQ(both, FlagsAfter({"pkg", "-s", "-p"}));
  EXPECT_EQ(both, FlagsAfter({"pkg", "-p", "-s", "-s"}));
  // Other options are left for the second stage, among them the installer's.
  EXPECT_EQ(both, FlagsAfter({"pkg", "-d", "/opt/x", "-s", "-cfg", "f", "-nb"}));
  // argv[0] is compared like any other entry.
  EXPECT_EQ(both, FlagsAfter({"-s"}));
}

TEST(Stage1, OptionsMatchOnlyExactly) {
  for (const char* arg :
       {"--Version", "-version", "-V",  "--version=1", "-vh", "--Help",   "-help",
        "-H",        "?",        "/h",  "--silent=1",  "-S",  "--Silent", "-silent",
        "s",         "/S",       "-ps", "--progress",  "-P",  " -s",      "-s "}) {
    ProcessResult run = ParseInChild({"pkg", arg});
    EXPECT_TRUE(run.exited && run.code == 0) << arg;
    EXPECT_EQ("", run.out) << arg;
    EXPECT_EQ("", run.err) << arg;
    EXPECT_EQ(0u, FlagsAfter({"pkg", arg})) << arg;
  }
}

TEST(Stage1, VersionPrintsTheBannerAndEnds) {
  for (const char* arg : {"-v", "--version"}) {
    ProcessResult run = ParseInChild({"/some/dir/pkg.bin", "-x", arg, "more"});
    EXPECT_TRUE(run.exited) << arg;
    EXPECT_EQ(255, run.code) << arg;
    EXPECT_EQ(kBanner, run.out) << arg;
    EXPECT_EQ("", run.err) << arg;
  }
}

TEST(Stage1, HelpPrintsBannerAndUsageAndEnds) {
  for (const char* arg : {"-h", "--help", "-?", "/?"}) {
    // The usage names "installer", whatever the package is called.
    ProcessResult run = ParseInChild({"/some/dir/pkg.bin", arg});
    EXPECT_TRUE(run.exited) << arg;
    EXPECT_EQ(255, run.code) << arg;
    EXPECT_EQ(kBanner, run.out) << arg;
    EXPECT_EQ(kUsage, run.err) << arg;
  }
}

TEST(Stage1, FirstVersionOrHelpOptionDecides) {
  {
    ProcessResult run = ParseInChild({"pkg", "-h", "-v"});
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(kBanner, run.out);
    EXPECT_EQ(kUsage, run.err);
  }
  {
    ProcessResult run = ParseInChild({"pkg", "-v", "-h"});
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(kBanner, run.out);
    EXPECT_EQ("", run.err);
  }
  {
    // The silent options are applied only after version and help.
    ProcessResult run = ParseInChild({"pkg", "-s", "-v"});
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(kBanner, run.out);
    EXPECT_EQ("", run.err);
  }
  {
    ProcessResult run = ParseInChild({"pkg", "--silent", "--help"});
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(kBanner, run.out);
    EXPECT_EQ(kUsage, run.err);
  }
}

TEST(Stage1, BailPrintsTheMessageVerbatimUnlessSilent) {
  {
    ProcessResult run = RunForked([] {
      Stage1 stage1;
      stage1.Bail(-1, "\nError: 100% %s %d done");
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(255, run.code);
    EXPECT_EQ("\nError: 100% %s %d done", run.out);
    EXPECT_EQ("", run.err);
  }
  {
    ProcessResult run = RunForked([] {
      Stage1 stage1;
      stage1.m_nFlags = Stage1::kSilent;
      stage1.Bail(3, "\nError: mkdir failed");
    });
    EXPECT_EQ(3, run.code);
    EXPECT_EQ("", run.out);
    // Silent, a fatal message goes to standard error, a whole line.
    EXPECT_EQ("\nError: mkdir failed\n", run.err);
  }
  {
    ProcessResult run = RunForked([] {
      Stage1 stage1;
      stage1.Bail(4, nullptr);
    });
    EXPECT_EQ(4, run.code);
    EXPECT_EQ("", run.out);
  }
}

TEST(Stage1, NoArgumentsAtAll) {
  // A process may be started with an empty argument vector.
  char* argv[] = {nullptr};
  Stage1 stage1;
  g_szProg = nullptr;
  stage1.ParseCmdLine(0, argv);
  EXPECT_EQ(nullptr, g_szProg);
  EXPECT_EQ(0u, stage1.m_nFlags);
}

TEST(Stage1, MissingSecondStageWarnsOnce) {
  TempDir dir;
  {
    // No extraction directory: nothing is tried.
    ProcessResult run = RunForked([&dir] {
      if (chdir(dir.path().c_str()) != 0)
        _exit(99);
      Args args({"pkg", "-p"});
      Stage1 stage1;
      stage1.RunSecondStage(args.argc(), args.argv());
      printf("returned\n");
    });
    EXPECT_EQ(0, run.code);
    EXPECT_EQ("Warning: second stage installer not found!\nreturned\n", run.out);
  }
  ASSERT_EQ(0, mkdir((dir / "qzsetup").c_str(), 0700));
  ASSERT_EQ(0, mkdir((dir / "qzsetup/Bin").c_str(), 0700));
  // A candidate that exists but cannot be started is passed over silently.
  ASSERT_EQ(0, mkdir((dir / "qzsetup/Bin/setup").c_str(), 0700));
  {
    ProcessResult run = RunForked([&dir] {
      if (chdir(dir.path().c_str()) != 0)
        _exit(99);
      Args args({"pkg"});
      Stage1 stage1;
      stage1.RunSecondStage(args.argc(), args.argv());
      char cwd[PATH_MAX];
      // The working directory stays changed.
      printf("in %s\n", getcwd(cwd, sizeof cwd));
    });
    EXPECT_EQ(0, run.code);
    char real[PATH_MAX];
    ASSERT_NE(nullptr, realpath(dir.path().c_str(), real));
    EXPECT_EQ("Warning: second stage installer not found!\nin " + std::string(real) + "/qzsetup\n",
              run.out);
    EXPECT_EQ("", run.err);
  }
  {
    ProcessResult run = RunForked([&dir] {
      if (chdir(dir.path().c_str()) != 0)
        _exit(99);
      Args args({"pkg", "-s"});
      Stage1 stage1;
      stage1.ParseCmdLine(args.argc(), args.argv());
      stage1.RunSecondStage(args.argc(), args.argv());
    });
    EXPECT_EQ(0, run.code);
    EXPECT_EQ("", run.out);
  }
}

TEST(Stage1, SecondStageGetsItsPathAndTheUsersArguments) {
  TempDir dir;
  ASSERT_EQ(0, mkdir((dir / "qzsetup").c_str(), 0700));
  ASSERT_EQ(0, mkdir((dir / "qzsetup/Bin").c_str(), 0700));
  // Not executable in the archive: stage one makes it so.
  WriteFile(dir / "qzsetup/Bin/setup",
            "#!/bin/sh\nprintf '[%s]' \"$0\" \"$@\"; echo; pwd; exit 7\n", 0644);
  ProcessResult run = RunForked([&dir] {
    if (chdir(dir.path().c_str()) != 0)
      _exit(99);
    Args args({"/x/pkg.bin", "-s", "a b", ""});
    Stage1 stage1;
    printf("before");
    stage1.RunSecondStage(args.argc(), args.argv());
    _exit(98);
  });
  char real[PATH_MAX];
  ASSERT_NE(nullptr, realpath(dir.path().c_str(), real));
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(7, run.code);
  // What stage one printed comes first, although it was still buffered.
  EXPECT_EQ("before[./Bin/setup][-s][a b][]\n" + std::string(real) + "/qzsetup\n", run.out);
  EXPECT_EQ(0755, ModeOf(dir / "qzsetup/Bin/setup"));
}

TEST(Stage1, CandidateThatCannotStartGivesWayToTheNext) {
  TempDir dir;
  MakeDirs(dir / "qzsetup/Bin");
  // Bin/setup exists but is a directory: it cannot be started.
  ASSERT_EQ(0, mkdir((dir / "qzsetup/Bin/setup").c_str(), 0755));
  WriteFile(dir / "qzsetup/Bin/setup.sh", "echo \"$0 [$*]\"; exit 5\n", 0644);
  ProcessResult run = RunForked(ForkOptions::MarkReturn(), [&dir] {
    if (chdir(dir.path().c_str()) != 0)
      _exit(98);
    Args args({"pkg", "-x", "y"});
    Stage1 stage1;
    stage1.RunSecondStage(args.argc(), args.argv());
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(5, run.code);
  // Nothing of the failed start is reported.
  EXPECT_EQ("./Bin/setup.sh [-x y]\n", run.out);
  EXPECT_EQ("", run.err);
}
