// End-to-end runs of real packages, assembled by mkpackage in temporary
// directories: what the administrator sees, what the second stage receives
// and what is left on disk.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "package/ExtractionMark.h"
#include "package/PackageRecord.h"
#include "package/ProductDigests.h"
#include "tests/PackageRecordFile.h"
#include "tests/Subprocess.h"

namespace {

const char kExtracting[] = "Extracting files for ZephraNetworks installation...";
const char kDecompressing[] = "\nDecompressing files... (please wait)\n";
const char kNotFound[] = "Warning: second stage installer not found!\n";
const char kBanner[] = "\nStrata Server 9.08 (9.0.8.1427) Installer\n";
const char kDamaged[] =
    "\nError: the package is damaged (its checksum does not match); download it again\n";

// The second stage of the test products: it shows what it received and where
// it runs, and ends with status 3.
const char kSetupScript[] =
    "#!/bin/sh\n"
    "printf '[%s]' \"$0\" \"$@\"; echo\n"
    "echo \"cwd=$(pwd)\"\n"
    "echo \"mode=$(stat -c %a .)\"\n"
    "test -e ../xxextract.tmp && echo 'xxextract.tmp present'\n"
    "exit 3\n";

// The dots of a full read: 20, or 21 when a remainder is left (archives of
// 400 bytes or more).
std::string DotsFor(int64_t archiveLength) {
  EXPECT_GE(archiveLength, 400);
  return std::string(archiveLength % 20 == 0 ? 20 : 21, '.');
}

// Makes dir, made by the test, look like what an earlier package left.
void MarkAsPackageLeftover(const std::string& dir) {
  std::string error;
  ASSERT_TRUE(MarkExtractionDirectory(dir, &error)) << error;
}

// Where an interpreter lives on the PATH, or "".
std::string FindOnPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

class PackageRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, mkdir((m_dir / "run").c_str(), 0755));
    m_run = RealPath(m_dir / "run");
  }

  // Runs mkpackage with args; the test fails unless it succeeds.
  void MakePackage(const std::vector<std::string>& args) {
    ProgramRun run;
    run.program = MKPACKAGE;
    run.argv = {"mkpackage"};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    ProcessResult made = RunProgram(run);
    ASSERT_TRUE(made.exited && made.code == 0) << made.out << made.err;
  }

  // A product tree at product/ with the test's second stage, a licence and
  // some data.
  void MakeProduct(const std::string& name = "product") {
    const std::string root = m_dir / name;
    ASSERT_EQ(0, system(("mkdir -p '" + root + "/Bin' '" + root + "/data'").c_str()));
    WriteFile(root + "/Bin/setup", kSetupScript, 0755);
    WriteFile(root + "/License.txt", "Strata Server licence\n");
    WriteFile(root + "/data/payload.bin", Noise(3000, 1));
  }

  // A run of the package at path with args, from the run directory.
  ProcessResult RunPackage(const std::string& package, const std::vector<std::string>& args,
                           int mask = -1) {
    ProgramRun run;
    run.program = package;
    run.argv = {package};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = m_run;
    run.umask = mask;
    run.env = m_env;
    return RunProgram(run);
  }

  int64_t ArchiveLength(const std::string& package) {
    PackageRecord record;
    if (!ReadPackageRecord(package, &record))
      return 0;
    return record.archiveLength;
  }

  // The second stage's output for these arguments.
  std::string SetupOutput(const std::string& args) {
    return args + "\ncwd=" + m_run + "/qzsetup\nmode=700\n";
  }

  TempDir m_dir;
  std::string m_run;
  std::vector<std::pair<std::string, std::string>> m_env;
};

TEST_F(PackageRun, NormalRunHandsOverWithTheUsersArguments) {
  MakeProduct();
  MakePackage({m_dir / "product", m_dir / "pkg.bin"});
  const std::string pkg = m_dir / "pkg.bin";
  // Nothing of an earlier extraction survives.
  ASSERT_EQ(0, system(("mkdir -p '" + m_run + "/qzsetup/old/deeper'").c_str()));
  MarkAsPackageLeftover(m_run + "/qzsetup");
  WriteFile(m_run + "/qzsetup/old/deeper/file", "old");
  WriteFile(m_run + "/qzsetup/License.txt", "old licence");
  // A link planted in the temporary file's place leads nowhere.
  WriteFile(m_dir / "victim", "precious");
  ASSERT_EQ(0, symlink((m_dir / "victim").c_str(), (m_run + "/xxextract.tmp").c_str()));

  ProcessResult run = RunPackage(pkg, {"-x", "a b", "", "-p", "-cfg", "f"});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(3, run.code);
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" +
                SetupOutput("[./Bin/setup][-x][a b][][-p][-cfg][f]"),
            run.out);
  EXPECT_FALSE(Exists(m_run + "/qzsetup/old"));
  EXPECT_EQ("Strata Server licence\n", ReadFile(m_run + "/qzsetup/License.txt"));
  EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));
  EXPECT_EQ("precious", ReadFile(m_dir / "victim"));
  EXPECT_EQ(0700, ModeOf(m_run + "/qzsetup"));
}

TEST_F(PackageRun, TwentyDotsForAMultipleOfTwentyAndTwentyOneOtherwise) {
  MakeProduct();
  bool seen[2] = {false, false};
  for (size_t size = 3000; size < 3200 && !(seen[0] && seen[1]); ++size) {
    WriteFile(m_dir / "product/data/payload.bin", Noise(size, 2));
    const std::string pkg = m_dir / ("pkg" + std::to_string(size));
    MakePackage({m_dir / "product", pkg});
    const int64_t length = ArchiveLength(pkg);
    const bool multiple = length % 20 == 0;
    if (seen[multiple])
      continue;
    seen[multiple] = true;
    ProcessResult run = RunPackage(pkg, {});
    EXPECT_EQ(3, run.code);
    EXPECT_EQ(
        kExtracting + std::string(multiple ? 20 : 21, '.') + "\n" + SetupOutput("[./Bin/setup]"),
        run.out)
        << "archive of " << length << " bytes";
  }
  EXPECT_TRUE(seen[0] && seen[1]);
}

TEST_F(PackageRun, SilentAndProgressOnlyRuns) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  for (const char* silent : {"-s", "--silent", "/s"}) {
    ProcessResult run = RunPackage(pkg, {silent, "x"});
    EXPECT_EQ(3, run.code) << silent;
    // Only the second stage speaks.
    EXPECT_EQ(SetupOutput("[./Bin/setup][" + std::string(silent) + "][x]"), run.out) << silent;
  }
  for (const char* progress : {"-p", "--progress-only"}) {
    ProcessResult run = RunPackage(pkg, {progress});
    EXPECT_EQ(3, run.code) << progress;
    EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" +
                  SetupOutput("[./Bin/setup][" + std::string(progress) + "]"),
              run.out)
        << progress;
  }
}

TEST_F(PackageRun, VersionAndHelpTouchNothing) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  {
    ProcessResult run = RunPackage(pkg, {"-s", "-v"});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(kBanner, run.out);
    EXPECT_EQ("", run.err);
  }
  {
    ProcessResult run = RunPackage(pkg, {"--help"});
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(kBanner, run.out);
    EXPECT_EQ(0u, run.err.find("\nUsage: installer [options]\n\nWhere options are:\n-v  "));
    const std::string end = "    BackupOldFiles={0/1}   SilentInstall={0/1}\n\n";
    ASSERT_GE(run.err.size(), end.size());
    EXPECT_EQ(end, run.err.substr(run.err.size() - end.size()));
  }
  EXPECT_FALSE(Exists(m_run + "/qzsetup"));
  EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));

  // They answer without reading the pieces: a damaged archive goes unnoticed.
  std::string bytes = ReadFile(pkg);
  bytes[bytes.size() - 10] ^= 0x40;
  WriteFile(pkg, bytes, 0755);
  for (const char* option : {"-v", "-h"}) {
    ProcessResult run = RunPackage(pkg, {option});
    EXPECT_EQ(255, run.code) << option;
    EXPECT_EQ(kBanner, run.out) << option;
  }
  EXPECT_EQ(std::string(kExtracting) + kDamaged, RunPackage(pkg, {}).out);
}

TEST_F(PackageRun, EarlierDirectoryIsRemovedThroughTheShellOnlyWhenThere) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  // An rm ahead of the system's on the search path notes each call.
  ASSERT_EQ(0, mkdir((m_dir / "spy").c_str(), 0755));
  WriteFile(m_dir / "spy/rm", "#!/bin/sh\necho \"rm $*\" >> \"$RM_LOG\"\nexec /bin/rm \"$@\"\n",
            0755);
  m_env.emplace_back("PATH", m_dir / "spy" + ":" + getenv("PATH"));
  m_env.emplace_back("RM_LOG", m_dir / "rm.log");
  const std::string expected =
      kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" + SetupOutput("[./Bin/setup]");

  ProcessResult first = RunPackage(pkg, {});
  EXPECT_EQ(3, first.code);
  EXPECT_EQ(expected, first.out);
  EXPECT_FALSE(Exists(m_dir / "rm.log"));

  // Whatever has the name, even a link to a directory elsewhere, goes by
  // "rm -rf ./qzsetup", and only the link goes.
  ASSERT_EQ(0, rename((m_run + "/qzsetup").c_str(), (m_dir / "elsewhere").c_str()));
  ASSERT_EQ(0, symlink((m_dir / "elsewhere").c_str(), (m_run + "/qzsetup").c_str()));
  ProcessResult second = RunPackage(pkg, {});
  EXPECT_EQ(3, second.code);
  EXPECT_EQ(expected, second.out);
  EXPECT_EQ("rm -rf ./qzsetup\n", ReadFile(m_dir / "rm.log"));
  EXPECT_TRUE(Exists(m_dir / "elsewhere/License.txt"));
  EXPECT_EQ(0700, ModeOf(m_run + "/qzsetup"));
}

TEST_F(PackageRun, ScriptSecondStagesRunThroughTheirInterpreters) {
  std::string python = FindOnPath("python");
  if (python.empty()) {
    // Debian has only python3 by that name; the launcher asks for "python".
    std::string python3 = FindOnPath("python3");
    ASSERT_FALSE(python3.empty()) << "no python3 on PATH";
    ASSERT_EQ(0, mkdir((m_dir / "stand-in").c_str(), 0755));
    ASSERT_EQ(0, symlink(python3.c_str(), (m_dir / "stand-in/python").c_str()));
    m_env.emplace_back("PATH", m_dir / "stand-in" + ":" + getenv("PATH"));
  }
  struct Script {
    const char* name;
    const char* text;
    const char* expected;
  };
  const Script scripts[] = {
      {"setup.sh", "echo \"bash $0 $# $*\"; exit 4\n", "bash ./Bin/setup.sh 2 -x a b\n"},
      {"setup.pl", "print \"perl $0 \", scalar(@ARGV), \" @ARGV\\n\"; exit 5;\n",
       "perl ./Bin/setup.pl 2 -x a b\n"},
      {"setup.py",
       "import sys\nprint('python', sys.argv[0], len(sys.argv) - 1, ' '.join(sys.argv[1:]))\n"
       "sys.exit(6)\n",
       "python ./Bin/setup.py 2 -x a b\n"},
  };
  int status = 4;
  for (const Script& script : scripts) {
    const std::string product = m_dir / script.name;
    ASSERT_EQ(0, system(("mkdir -p '" + product + "/Bin'").c_str()));
    WriteFile(product + "/Bin/" + script.name, script.text, 0644);
    WriteFile(product + "/data.bin", Noise(1000, 3));
    const std::string pkg = product + ".bin";
    MakePackage({product, pkg});
    ProcessResult run = RunPackage(pkg, {"-x", "a b"});
    EXPECT_EQ(status++, run.code) << script.name;
    EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" + script.expected, run.out)
        << run.err;
  }
}

TEST_F(PackageRun, MissingSecondStageWarnsAndEndsWithZero) {
  const std::string product = m_dir / "product";
  ASSERT_EQ(0, mkdir(product.c_str(), 0755));
  WriteFile(product + "/License.txt", Noise(1000, 5));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--no-second-stage", product, pkg});
  {
    ProcessResult run = RunPackage(pkg, {});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(0, run.code);
    EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" + kNotFound, run.out);
    EXPECT_TRUE(Exists(m_run + "/qzsetup/License.txt"));
  }
  {
    ProcessResult run = RunPackage(pkg, {"-s"});
    EXPECT_EQ(0, run.code);
    EXPECT_EQ("", run.out);
  }
}

TEST_F(PackageRun, ExtractionDirectoryStaysPrivate) {
  // The archive's own "./" member asks for mode 0777, and the umask lets it.
  MakeProduct();
  ASSERT_EQ(0, chmod((m_dir / "product").c_str(), 0777));
  const std::string archive = m_dir / "product.tgz";
  ASSERT_EQ(
      0,
      system(("tar -C '" + m_dir / "product" + "' -cf - . | gzip -n > '" + archive + "'").c_str()));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "tgz", "--no-decompressor", archive, pkg});
  ProcessResult run = RunPackage(pkg, {}, 0);
  EXPECT_EQ(3, run.code);
  // The second stage already finds the directory private.
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" + SetupOutput("[./Bin/setup]"),
            run.out);
  EXPECT_EQ(0700, ModeOf(m_run + "/qzsetup"));
}

TEST_F(PackageRun, PipeTypesWithoutADecompressor) {
  MakeProduct();
  const std::string archive = m_dir / "product.tar.gz";
  ASSERT_EQ(0, system(("tar -C '" + m_dir / "product" +
                       "' -cf - ./Bin/setup ./License.txt ./data/payload.bin | gzip -n > '" +
                       archive + "'")
                          .c_str()));
  // A file of that name is neither created nor removed without a decompressor.
  WriteFile(m_run + "/xxextract.tmp", "not ours");
  for (const char* type : {"tgz", "tz"}) {
    const std::string pkg = m_dir / (std::string(type) + ".bin");
    MakePackage({"--type", type, "--no-decompressor", archive, pkg});
    ProcessResult run = RunPackage(pkg, {type});
    EXPECT_EQ(3, run.code) << type << run.err;
    EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" +
                  SetupOutput("[./Bin/setup][" + std::string(type) + "]") +
                  "xxextract.tmp present\n",
              run.out);
    EXPECT_EQ("not ours", ReadFile(m_run + "/xxextract.tmp"));
  }
}

TEST_F(PackageRun, FileModeTypesWithAStandInDecompressor) {
  MakeProduct();
  const std::string archive = m_dir / "product.tar";
  ASSERT_EQ(0, system(("tar -C '" + m_dir / "product" + "' -cf '" + archive +
                       "' ./Bin/setup ./License.txt")
                          .c_str()));
  struct Type {
    const char* name;
    const char* standIn;
    const char* shown;
  };
  const Type types[] = {
      {"rzt", "#!/bin/sh\necho \"stand-in in ${PWD##*/}: $*\"\nexec tar \"$@\"\n",
       "stand-in in qzsetup: -xvf zparchive.rzt\n./Bin/setup\n./License.txt\n"},
      {"zip", "#!/bin/sh\necho \"stand-in in ${PWD##*/}: $*\"\nexec tar -xf \"$1\"\n",
       "stand-in in qzsetup: zparchive.zip\n"},
  };
  for (const Type& type : types) {
    const std::string standIn = m_dir / (std::string(type.name) + "-stand-in");
    WriteFile(standIn, type.standIn, 0755);
    const std::string pkg = m_dir / (std::string(type.name) + ".bin");
    MakePackage({"--type", type.name, "--decompressor", standIn, archive, pkg});
    ProcessResult run = RunPackage(pkg, {type.name});
    EXPECT_EQ(3, run.code) << type.name << run.err;
    // A tar archive is a multiple of 512 bytes: 20 dots.
    EXPECT_EQ(kExtracting + std::string(20, '.') + kDecompressing + type.shown + "\n" +
                  SetupOutput("[./Bin/setup][" + std::string(type.name) + "]"),
              run.out);
    EXPECT_FALSE(Exists(m_run + "/qzsetup/zparchive." + type.name));
    EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));
  }
}

TEST_F(PackageRun, DecompressorModeIsSetOnTheOpenFileWhateverTheUmask) {
  // A tracer shows whether the mode was ever set by the file's name, which
  // someone could have pointed elsewhere after the file was written.
  const std::string strace = FindOnPath("strace");
  ASSERT_FALSE(strace.empty()) << "no strace on PATH";
  ProgramRun probe;
  probe.program = strace;
  probe.argv = {"strace", "-o", "/dev/null", "true"};
  if (RunProgram(probe).code != 0)
    GTEST_SKIP() << "tracing is not permitted here";

  WriteFile(m_dir / "stand-in", "#!/bin/sh\necho \"mode $(stat -c %a \"$0\")\"\n", 0755);
  WriteFile(m_dir / "archive", Noise(1000, 9));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "zip", "--decompressor", m_dir / "stand-in", m_dir / "archive", pkg});
  ProgramRun run;
  run.program = strace;
  run.argv = {"strace",        "-f", "-qq", "-e", "trace=chmod,fchmodat", "-e", "signal=none", "-o",
              m_dir / "trace", pkg,  "-s"};
  run.cwd = m_run;
  run.umask = 077;
  // The leak checker of the sanitizer build refuses to run under a tracer.
  run.env = {{"ASAN_OPTIONS", "detect_leaks=0"}};
  ProcessResult result = RunProgram(run);
  EXPECT_EQ(0, result.code) << result.err;
  EXPECT_EQ("mode 755\n", result.out);
  const std::string trace = ReadFile(m_dir / "trace");
  EXPECT_EQ(std::string::npos, trace.find("xxextract.tmp")) << trace;
  EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));
}

TEST_F(PackageRun, TinyArchiveGetsOneByteChunks) {
  // Below 20 bytes every byte is a chunk of its own.
  WriteFile(m_dir / "tiny", "1234567");
  WriteFile(m_dir / "stand-in", "#!/bin/sh\necho \"got $(cat \"$1\")\"\n", 0755);
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "zip", "--decompressor", m_dir / "stand-in", m_dir / "tiny", pkg});
  ProcessResult run = RunPackage(pkg, {});
  EXPECT_EQ(0, run.code);
  EXPECT_EQ(kExtracting + std::string(7, '.') + kDecompressing + "got 1234567\n\n" + kNotFound,
            run.out);
}

TEST_F(PackageRun, UnknownArchiveTypeEndsAfterRecreatingTheDirectory) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  PackageRecord record;
  ASSERT_TRUE(ReadPackageRecord(pkg, &record));
  strcpy(record.archiveType, "gz");
  ASSERT_TRUE(WritePackageRecord(pkg, record));
  ASSERT_EQ(0, mkdir((m_run + "/qzsetup").c_str(), 0755));
  MarkAsPackageLeftover(m_run + "/qzsetup");
  WriteFile(m_run + "/qzsetup/old", "old");
  ProcessResult run = RunPackage(pkg, {});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(255, run.code);
  EXPECT_EQ(std::string(kExtracting) + "\nError: Internal error -- unknown archive type\n",
            run.out);
  EXPECT_EQ(0700, ModeOf(m_run + "/qzsetup"));
  EXPECT_FALSE(Exists(m_run + "/qzsetup/old"));

  ProcessResult silent = RunPackage(pkg, {"-s"});
  EXPECT_TRUE(silent.exited);
  EXPECT_EQ(255, silent.code);
  EXPECT_EQ("", silent.out);
}

TEST_F(PackageRun, ExtractionDirectoryThatCannotBeMadeEndsTheRun) {
  // Without a decompressor piece nothing is written before the directory.
  MakeProduct();
  const std::string archive = m_dir / "product.tgz";
  ASSERT_EQ(0, RunShell("tar -C '" + m_dir / "product" + "' -czf '" + archive + "' ."));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "tgz", "--no-decompressor", archive, pkg});
  // A working directory that has been removed takes no new entries, not even
  // from root.
  for (const char* args : {"", "-s"}) {
    ProgramRun run;
    run.program = pkg;
    run.argv = {pkg, args};
    ProcessResult result = RunForked(ForkOptions::MarkReturn(), [&] {
      const std::string gone = m_dir / "gone";
      if (mkdir(gone.c_str(), 0755) != 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0)
        _exit(98);
      ExecProgram(run);
    });
    EXPECT_TRUE(result.exited) << args;
    EXPECT_EQ(255, result.code) << args;
    EXPECT_EQ(*args ? "" : kExtracting + std::string("\nError: mkdir failed"), result.out);
  }
}

TEST_F(PackageRun, DamagedPackageIsRefusedWithNothingLost) {
  MakeProduct();
  struct Damage {
    const char* checksum;
    const char* what;
  };
  const Damage damages[] = {
      {"sha256", "archive"},
      {"xxh3-128", "archive"},
      {"sha256", "decompressor"},
      {"xxh3-128", "truncated"},
  };
  ASSERT_EQ(0, mkdir((m_run + "/qzsetup").c_str(), 0700));
  MarkAsPackageLeftover(m_run + "/qzsetup");
  WriteFile(m_run + "/qzsetup/earlier", "an earlier extraction");
  for (const Damage& damage : damages) {
    SCOPED_TRACE(std::string(damage.checksum) + " " + damage.what);
    const std::string pkg = m_dir / "pkg.bin";
    unlink(pkg.c_str());
    MakePackage({"--checksum", damage.checksum, m_dir / "product", pkg});
    PackageRecord record;
    ASSERT_TRUE(ReadPackageRecord(pkg, &record));
    std::string bytes = ReadFile(pkg);
    if (strcmp(damage.what, "truncated") == 0) {
      bytes.resize(bytes.size() - 1);
    } else {
      size_t at = bytes.size() - 10;
      if (strcmp(damage.what, "decompressor") == 0)
        at = bytes.size() - record.archiveLength - record.extractorLength / 2;
      bytes[at] ^= 0x40;
    }
    WriteFile(pkg, bytes, 0755);
    for (const char* args : {"", "-s"}) {
      ProcessResult run = RunPackage(pkg, {args});
      EXPECT_TRUE(run.exited);
      EXPECT_EQ(255, run.code);
      EXPECT_EQ(*args ? "" : kExtracting + std::string(kDamaged), run.out);
      EXPECT_EQ("an earlier extraction", ReadFile(m_run + "/qzsetup/earlier"));
      EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));
    }
  }
}

TEST_F(PackageRun, PiecesThatDoNotFitAreRefusedBeforeAnythingIsWritten) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--no-checksum", m_dir / "product", pkg});
  PackageRecord record;
  ASSERT_TRUE(ReadPackageRecord(pkg, &record));
  const int64_t size = static_cast<int64_t>(ReadFile(pkg).size());
  ASSERT_EQ(0, mkdir((m_run + "/qzsetup").c_str(), 0755));
  MarkAsPackageLeftover(m_run + "/qzsetup");
  WriteFile(m_run + "/qzsetup/earlier", "an earlier extraction");
  // A record that claims more than the whole file, in either piece (a
  // decompressor of 2,000,000,000 bytes would have been padded out with
  // zeros and the launcher's own code run as it).
  for (int piece = 0; piece < 2; ++piece) {
    PackageRecord damaged = record;
    if (piece == 0)
      damaged.archiveLength = static_cast<int32_t>(size + 1000);
    else
      damaged.extractorLength = 2000000000;
    ASSERT_TRUE(WritePackageRecord(pkg, damaged));
    for (const char* args : {"", "-s"}) {
      ProcessResult run = RunPackage(pkg, {args});
      EXPECT_TRUE(run.exited);
      EXPECT_EQ(255, run.code);
      EXPECT_EQ(*args ? ""
                      : kExtracting + std::string("\nError: the package is damaged (it is shorter "
                                                  "than its record says); download it again\n"),
                run.out);
      EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));
      EXPECT_EQ(0755, ModeOf(m_run + "/qzsetup"));
      EXPECT_EQ("an earlier extraction", ReadFile(m_run + "/qzsetup/earlier"));
    }
  }
}

TEST_F(PackageRun, FailedExtractionCommandIsNotHandedOver) {
  // The second stage comes first in the archive and is unpacked before the
  // cut-off data ends the extraction with a failure.
  MakeProduct();
  WriteFile(m_dir / "product/data/payload.bin", Noise(200000, 6));
  const std::string archive = m_dir / "cut.tgz";
  ASSERT_EQ(0, system(("tar -C '" + m_dir / "product" +
                       "' -cf - ./Bin/setup ./data/payload.bin | gzip -n | head -c 100000 > '" +
                       archive + "'")
                          .c_str()));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "tgz", "--no-decompressor", archive, pkg});
  ProcessResult run = RunPackage(pkg, {});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(255, run.code);
  EXPECT_EQ(kExtracting + DotsFor(100000) +
                "\nError: extraction failed (the extraction command exited with status 2); the "
                "installer was not started\n",
            run.out);
  // What was unpacked before the failure goes with it.
  EXPECT_FALSE(Exists(m_run + "/qzsetup"));
}

TEST_F(PackageRun, DecompressorThatStopsReadingIsAFailure) {
  // The stand-in reads nothing, so writing the archive into the pipe fails;
  // the launcher must report it rather than die of SIGPIPE. It hands tar an
  // empty archive, so the command as a whole succeeds and the broken pipe is
  // all there is to say.
  WriteFile(m_dir / "stand-in", "#!/bin/sh\nexec tar -cf - -T /dev/null\n", 0755);
  WriteFile(m_dir / "big.bz2", "BZh9" + Noise(1 << 20, 7));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--decompressor", m_dir / "stand-in", m_dir / "big.bz2", pkg});
  ProcessResult run = RunPackage(pkg, {});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(255, run.code);
  EXPECT_EQ(kExtracting + DotsFor(4 + (1 << 20)) +
                "\nError: extraction failed (write to the extraction command: " + strerror(EPIPE) +
                "); the installer was not started\n",
            run.out);
  EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));
}

TEST_F(PackageRun, DamagedArchiveWithoutChecksumReportsTheCommandsFailure) {
  // bzip2 gives up on the first block and the pipe breaks behind it; what
  // the user needs to hear is that the extraction failed, not that a write
  // did.
  WriteFile(m_dir / "bad.bz2", "BZh9" + Noise(4 << 20, 8));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--no-checksum", m_dir / "bad.bz2", pkg});
  for (const char* args : {"", "-s"}) {
    ProcessResult run = RunPackage(pkg, {args});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(*args ? ""
                    : kExtracting + DotsFor(4 + (4 << 20)) +
                          "\nError: extraction failed (the extraction command exited with status "
                          "2); the installer was not started\n",
              run.out);
    EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));
  }
}

TEST_F(PackageRun, PackageStartedByABareNameFromThePath) {
  MakeProduct();
  ASSERT_EQ(0, mkdir((m_dir / "bin").c_str(), 0755));
  MakePackage({m_dir / "product", m_dir / "bin/strata-pkg.bin"});
  ProgramRun run;
  run.argv = {"strata-pkg.bin", "-x"};
  run.cwd = m_run;
  run.env = {{"PATH", m_dir / "bin" + ":" + getenv("PATH")}};
  ProcessResult result = RunProgram(run);
  EXPECT_EQ(3, result.code) << result.err;
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(m_dir / "bin/strata-pkg.bin")) + "\n" +
                SetupOutput("[./Bin/setup][-x]"),
            result.out);
}

TEST_F(PackageRun, LongDirectoryWithBlanksAndShellSyntax) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  // bzip2 itself refuses to run by a path of more than 1024 bytes.
  MakePackage({"--decompressor", "lbzip2", m_dir / "product", pkg});
  // Longer than the 1024 bytes a fixed buffer would hold.
  m_run = m_run + "/it's a $(dir); ok";
  ASSERT_EQ(0, mkdir(m_run.c_str(), 0755));
  for (int i = 0; i < 6; ++i) {
    m_run += "/" + std::string(200, static_cast<char>('a' + i));
    ASSERT_EQ(0, mkdir(m_run.c_str(), 0755));
  }
  ProcessResult run = RunPackage(pkg, {});
  EXPECT_EQ(3, run.code) << run.err;
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" + SetupOutput("[./Bin/setup]"),
            run.out);
}

TEST_F(PackageRun, CarriedLbzip2UnpacksWhereNoDecompressorIsInstalled) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--decompressor", "/usr/bin/lbzip2", m_dir / "product", pkg});
  // The same type and command as with bzip2; only the carried program differs.
  PackageRecord record;
  ASSERT_TRUE(ReadPackageRecord(pkg, &record));
  EXPECT_STREQ("bz2", record.archiveType);
  EXPECT_EQ(static_cast<int64_t>(ReadFile("/usr/bin/lbzip2").size()), record.extractorLength);

  // A search path with tar and stat (for the second stage) and no
  // decompressor of any kind: only the carried lbzip2 can unpack.
  ASSERT_EQ(0, mkdir((m_dir / "bare").c_str(), 0755));
  for (const char* tool : {"tar", "stat"}) {
    const std::string found = FindOnPath(tool);
    ASSERT_FALSE(found.empty()) << tool;
    ASSERT_EQ(0, symlink(found.c_str(), (m_dir / "bare/" + tool).c_str()));
  }
  m_env.emplace_back("PATH", m_dir / "bare");
  ProcessResult run = RunPackage(pkg, {"-x"});
  EXPECT_EQ(3, run.code) << run.err;
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" + SetupOutput("[./Bin/setup][-x]"),
            run.out);
  EXPECT_EQ(Noise(3000, 1), ReadFile(m_run + "/qzsetup/data/payload.bin"));
  EXPECT_EQ("Strata Server licence\n", ReadFile(m_run + "/qzsetup/License.txt"));
  EXPECT_FALSE(Exists(m_run + "/xxextract.tmp"));

  // Nothing on that path could have done it.
  ProgramRun check;
  check.program = "/bin/sh";
  check.argv = {"sh", "-c", "command -v bzip2 lbzip2 bunzip2; echo end"};
  check.env = m_env;
  EXPECT_EQ("end\n", RunProgram(check).out);
}

TEST_F(PackageRun, LauncherMemoryStaysSmallWhateverTheArchiveSize) {
  if (STRATA_SANITIZED)
    GTEST_SKIP() << "the sanitizers' own memory hides the launcher's";
  // A file-mode package whose stand-in does nothing: the peak of the run is
  // the launcher's, not the extraction's.
  WriteFile(m_dir / "stand-in", "#!/bin/sh\n", 0755);
  {
    std::string block = Noise(1 << 20, 8);
    FILE* big = fopen((m_dir / "big").c_str(), "wb");
    ASSERT_NE(nullptr, big);
    for (int i = 0; i < 24; ++i)
      ASSERT_EQ(block.size(), fwrite(block.data(), 1, block.size(), big));
    fclose(big);
  }
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "zip", "--decompressor", m_dir / "stand-in", m_dir / "big", pkg});
  // GNU time is small and measures only what it starts; a child forked from
  // this test would count the test's own memory as well.
  ProgramRun run;
  run.program = "/usr/bin/time";
  run.argv = {"time", "-f", "%M", "-o", m_dir / "peak", pkg, "-s"};
  run.cwd = m_run;
  ProcessResult result = RunProgram(run);
  EXPECT_EQ(0, result.code) << result.err;
  const long peakKb = atol(ReadFile(m_dir / "peak").c_str());
  EXPECT_GT(peakKb, 0);
  EXPECT_LE(peakKb, 4096);
  EXPECT_FALSE(Exists(m_run + "/qzsetup/zparchive.zip"));
}

TEST_F(PackageRun, DirectoryTooDeepForTheShellFailsWithoutTouchingIt) {
  // The shell cannot change into ./qzsetup below a path this long; tar must
  // then not run in the working directory, over the user's own files. Paths
  // that long are reached one directory at a time, by descriptor.
  MakeProduct();
  const std::string archive = m_dir / "product.tgz";
  ASSERT_EQ(0, RunShell("tar -C '" + m_dir / "product" + "' -czf '" + archive + "' ."));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "tgz", "--no-decompressor", archive, pkg});
  const std::string step(200, 'd');
  int deep = open(m_run.c_str(), O_RDONLY | O_DIRECTORY);
  for (size_t length = m_run.size(); length < 4200; length += step.size() + 1) {
    ASSERT_EQ(0, mkdirat(deep, step.c_str(), 0755));
    int next = openat(deep, step.c_str(), O_RDONLY | O_DIRECTORY);
    close(deep);
    deep = next;
    ASSERT_GE(deep, 0);
  }
  int licence = openat(deep, "License.txt", O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_EQ(6, write(licence, "mine\n", 6));
  close(licence);
  ProgramRun run;
  run.program = pkg;
  run.argv = {pkg};
  ProcessResult result = RunForked([&] {
    if (fchdir(deep) != 0)
      _exit(98);
    ExecProgram(run);
  });
  EXPECT_EQ(255, result.code);
  EXPECT_NE(std::string::npos, result.out.find("\nError: extraction failed (")) << result.out;
  // The deepest directory holds the user's file, as it was, and nothing else.
  DIR* listing = fdopendir(dup(deep));
  ASSERT_NE(nullptr, listing);
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(listing)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  }
  closedir(listing);
  EXPECT_EQ(std::vector<std::string>{"License.txt"}, names);
  char content[16] = {};
  licence = openat(deep, "License.txt", O_RDONLY);
  EXPECT_EQ(6, read(licence, content, sizeof content));
  close(licence);
  EXPECT_STREQ("mine\n", content);
  close(deep);
}

TEST_F(PackageRun, SecondPackageInTheSameDirectoryIsRefusedAtOnce) {
  // A second stage that holds the run open until the test lets it go.
  MakeProduct();
  WriteFile(m_dir / "product/Bin/setup",
            "#!/bin/sh\ntouch '" + m_dir / "started" + "'\nwhile [ ! -e '" + m_dir / "release" +
                "' ]; do sleep 0.02; done\necho first done\n",
            0755);
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  const std::string refused =
      kExtracting + std::string(
                        "\nError: another installation package is running in this "
                        "directory; start this one when it has ended\n");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "first ends" : "first is killed");
    unlink((m_dir / "started").c_str());
    unlink((m_dir / "release").c_str());
    ProgramRun first;
    first.program = pkg;
    first.argv = {pkg, "-s"};
    first.cwd = m_run;
    pid_t pid = fork();
    if (pid == 0)
      ExecProgram(first);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 500 && !Exists(m_dir / "started"); ++i)
      usleep(10000);
    ASSERT_TRUE(Exists(m_dir / "started"));
    const std::map<std::string, std::string> during = TreeOf(m_run);
    ProcessResult second = RunPackage(pkg, {});
    EXPECT_EQ(255, second.code);
    EXPECT_EQ(refused, second.out);
    // The running installation's extraction is untouched.
    EXPECT_EQ(during, TreeOf(m_run));
    int status = 0;
    if (round == 0) {
      WriteFile(m_dir / "release", "");
      ASSERT_EQ(pid, waitpid(pid, &status, 0));
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
      // A crashed run leaves no lock behind: the kernel releases it with the
      // last process that held it.
      kill(pid, SIGKILL);
      ASSERT_EQ(pid, waitpid(pid, &status, 0));
      WriteFile(m_dir / "release", "");
    }
    ProcessResult again;
    for (int i = 0; i < 100; ++i) {
      again = RunPackage(pkg, {"-s"});
      if (again.code != 255)
        break;
      usleep(20000);  // the killed run's last sleep may still hold the lock
    }
    EXPECT_EQ(0, again.code) << again.out;
    EXPECT_EQ("first done\n", again.out);
  }
}

TEST_F(PackageRun, PackagesStartedTogetherNeverUnpackIntoTheWorkingDirectory) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  for (int round = 0; round < 6; ++round) {
    std::string output;
    ASSERT_EQ(0, RunShell("cd '" + m_run + "' && { '" + pkg +
                              "' -s >a 2>&1; echo $? >a.status; } & " + "cd '" + m_run +
                              "' && { '" + pkg + "' -s >b 2>&1; echo $? >b.status; } & " + "wait",
                          &output));
    for (const char* run : {"a", "b"}) {
      std::string status = ReadFile(m_run + "/" + run + ".status");
      EXPECT_TRUE(status == "3\n" || status == "255\n") << status;
      unlink((m_run + "/" + run + ".status").c_str());
      unlink((m_run + "/" + run).c_str());
    }
    // Nothing of the product beside ./qzsetup.
    EXPECT_EQ((std::vector<std::string>{"qzsetup"}), ListDirectory(m_run)) << round;
  }
}

TEST_F(PackageRun, PlantedFileOfThePackagesNameIsNeverRead) {
  // A file named like the package in the working directory, with a
  // "decompressor" of its own and no checksum: started by its bare name from
  // PATH, the package must read itself, not this file.
  MakeProduct();
  ASSERT_EQ(0, mkdir((m_dir / "bin").c_str(), 0755));
  MakePackage({m_dir / "product", m_dir / "bin/strata-pkg.bin"});
  WriteFile(m_dir / "planted-decompressor",
            "#!/bin/sh\ntouch '" + m_dir / "planted-ran" + "'\nexec bzip2 -dc\n", 0755);
  MakePackage({"--no-checksum", "--decompressor", m_dir / "planted-decompressor", m_dir / "product",
               m_run + "/strata-pkg.bin"});
  ProgramRun run;
  run.argv = {"strata-pkg.bin", "-x"};
  run.cwd = m_run;
  run.env = {{"PATH", m_dir / "bin" + ":" + getenv("PATH")}};
  ProcessResult result = RunProgram(run);
  EXPECT_EQ(3, result.code) << result.err;
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(m_dir / "bin/strata-pkg.bin")) + "\n" +
                SetupOutput("[./Bin/setup][-x]"),
            result.out);
  EXPECT_FALSE(Exists(m_dir / "planted-ran"));
}

TEST_F(PackageRun, DecompressorThatFailsAfterAWholeArchiveIsAFailure) {
  // The shell's status is tar's; a decompressor that fails late must still
  // fail the run, and the half-trusted extraction goes with it.
  MakeProduct();
  WriteFile(m_dir / "late-failure", "#!/bin/sh\nbzip2 -dc\nexit 2\n", 0755);
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--decompressor", m_dir / "late-failure", m_dir / "product", pkg});
  ProcessResult run = RunPackage(pkg, {});
  EXPECT_EQ(255, run.code);
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) +
                "\nError: extraction failed (the decompressor exited with status 2); the "
                "installer was not started\n",
            run.out);
  EXPECT_TRUE(ListDirectory(m_run).empty());
}

TEST_F(PackageRun, SignalDuringExtractionLeavesNothingBehind) {
  // A decompressor that stops in the middle: the package is then ended by a
  // signal, as an administrator's Ctrl-C or a service manager would.
  WriteFile(m_dir / "stalling", "#!/bin/sh\necho $$ > '" + m_dir / "stalled" + "'\nexec sleep 60\n",
            0755);
  WriteFile(m_dir / "big.bz2", "BZh9" + Noise(4 << 20, 9));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--decompressor", m_dir / "stalling", m_dir / "big.bz2", pkg});
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    unlink((m_dir / "stalled").c_str());
    ProgramRun run;
    run.program = pkg;
    run.argv = {pkg, "-s"};
    run.cwd = m_run;
    pid_t pid = fork();
    if (pid == 0) {
      ::signal(SIGINT, SIG_DFL);
      ExecProgram(run);
    }
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 500 && !(Exists(m_dir / "stalled") && !ReadFile(m_dir / "stalled").empty());
         ++i)
      usleep(10000);
    const pid_t stalled = atoi(ReadFile(m_dir / "stalled").c_str());
    ASSERT_GT(stalled, 0);
    ASSERT_TRUE(Exists(m_run + "/qzsetup"));
    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(signal, WTERMSIG(status));
    EXPECT_TRUE(ListDirectory(m_run).empty());
    // Nothing the extraction started goes on.
    EXPECT_TRUE(ProcessEnds(stalled, 0));
  }
}

// "Name:  value" lines as a map.
std::map<std::string, std::string> ReportFields(const std::string& report) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start < report.size()) {
    size_t end = report.find('\n', start);
    std::string line = report.substr(start, end - start);
    size_t colon = line.find(':');
    if (colon != std::string::npos)
      fields[line.substr(0, colon)] = line.substr(line.find_first_not_of(' ', colon + 1));
    start = end == std::string::npos ? report.size() : end + 1;
  }
  return fields;
}

// The mode as ls and tar show it: "-rwxr-xr-x".
std::string ModeText(mode_t mode) {
  std::string text = S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
  const char letters[] = "rwx";
  for (int bit = 8; bit >= 0; --bit)
    text += (mode & (1u << bit)) ? letters[(8 - bit) % 3] : '-';
  return text;
}

// What a tar tv listing says of each member: its name (without the "/" of a
// directory and the target of a link) and its mode text.
std::map<std::string, std::string> ListedMembers(const std::string& listing) {
  std::map<std::string, std::string> members;
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    std::vector<std::string> words;
    std::string line = listing.substr(start, end - start), word;
    for (char c : line + " ") {
      if (c != ' ' && c != '\t') {
        word += c;
      } else if (!word.empty()) {
        words.push_back(word);
        word.clear();
      }
    }
    if (words.size() >= 6) {
      std::string name = words.back();
      if (words[0][0] == 'l' && words.size() >= 8)
        name = words[words.size() - 3];
      if (name.size() > 1 && name.back() == '/')
        name.pop_back();
      members[name] = words[0];
    }
    start = end == std::string::npos ? listing.size() : end + 1;
  }
  return members;
}

// The same for a tree on disk, as "./" names.
std::map<std::string, std::string> MembersOf(const std::string& root) {
  std::map<std::string, std::string> members;
  for (const auto& entry : TreeOf(root)) {
    struct stat st;
    EXPECT_EQ(0, lstat((root + "/" + entry.first).c_str(), &st));
    std::string name = "./" + entry.first;
    // TreeOf names a directory with a "/" after it.
    if (name.back() == '/')
      name.pop_back();
    members[name] = ModeText(st.st_mode);
  }
  return members;
}

class PackageAnswers : public PackageRun {
 protected:
  // The product of MakeProduct, with a private file and a link.
  void MakeRichProduct() {
    MakeProduct();
    WriteFile(m_dir / "product/data/private", "kept to the owner\n", 0640);
    ASSERT_EQ(0, symlink("setup", (m_dir / "product/Bin/link").c_str()));
  }

  struct Type {
    std::string name;
    bool listable;  // pipe mode: --list answers
  };

  // The package of the given type from the rich product, at pkg.
  void MakeTypedPackage(const std::string& type, const std::string& pkg) {
    const std::string product = m_dir / "product";
    if (type == "bz2" || type == "tzst" || type == "tgz") {
      MakePackage({"--type", type, product, pkg});
      return;
    }
    const std::string archive = m_dir / ("archive." + type);
    if (type == "tz") {
      ASSERT_EQ(0, RunShell("tar -C '" + product + "' -cf - . | gzip -n > '" + archive + "'"));
      MakePackage({"--type", type, "--no-decompressor", archive, pkg});
      return;
    }
    // The file-mode types, with a stand-in that unpacks a tar archive.
    ASSERT_EQ(0, RunShell("tar -C '" + product + "' -cf '" + archive + "' ."));
    const std::string standIn = m_dir / ("stand-in." + type);
    WriteFile(standIn,
              type == "rzt" ? "#!/bin/sh\nexec tar \"$@\"\n" : "#!/bin/sh\nexec tar -xf \"$1\"\n",
              0755);
    MakePackage({"--type", type, "--decompressor", standIn, archive, pkg});
  }

  // mkpackage's own reading of the package.
  std::map<std::string, std::string> BuilderInfo(const std::string& pkg) {
    ProgramRun run;
    run.program = MKPACKAGE;
    run.argv = {"mkpackage", "--info", pkg};
    ProcessResult info = RunProgram(run);
    EXPECT_EQ(0, info.code) << info.err;
    return ReportFields(info.out);
  }
};

TEST_F(PackageAnswers, InfoListAndExtractOnlyOnEveryType) {
  MakeRichProduct();
  const std::vector<Type> types = {{"bz2", true}, {"tzst", true}, {"tgz", true},
                                   {"tz", true},  {"rzt", false}, {"zip", false}};
  for (const Type& type : types) {
    SCOPED_TRACE(type.name);
    const std::string pkg = m_dir / ("pkg-" + type.name + ".bin");
    MakeTypedPackage(type.name, pkg);
    // A package built from the directory carries the digests of its files
    // as one more member; one from a prepared archive does not.
    const bool fromDirectory = type.name == "bz2" || type.name == "tzst" || type.name == "tgz";
    auto product = [&](std::map<std::string, std::string> tree, const std::string& prefix = "") {
      EXPECT_EQ(fromDirectory ? 1u : 0u, tree.erase(prefix + kProductDigestsName));
      return tree;
    };
    const int64_t size = static_cast<int64_t>(ReadFile(pkg).size());
    PackageRecord record;
    ASSERT_TRUE(ReadPackageRecord(pkg, &record));

    // --info: the record, as the builder reads it too, and nothing written.
    ProcessResult info = RunPackage(pkg, {"--info"});
    EXPECT_EQ(0, info.code) << info.out << info.err;
    std::map<std::string, std::string> builder = BuilderInfo(pkg);
    const std::string launcher =
        std::to_string(size - record.archiveLength - record.extractorLength) + " bytes";
    EXPECT_EQ("Package:       " + RealPath(pkg) + "\n" +
                  "Product:       Strata Server\n"
                  "Version:       9.08 (9.0.8.1427)\n"
                  "Size:          " +
                  std::to_string(size) + " bytes\n" + "Launcher:      " + launcher + "\n" +
                  "Decompressor:  " + builder["Decompressor"] + "\n" +
                  "Archive:       " + builder["Archive"] + "\n" +
                  "Unpacked:      " + builder["Unpacked"] + "\n" + "Type:          " + type.name +
                  "\n" + "Checksum:      " + builder["Checksum"] + "\n" +
                  "Verified:      yes\n"
                  "Signature:     none\n",
              info.out);
    EXPECT_EQ(launcher, builder["Launcher"]);
    EXPECT_EQ("", info.err);
    EXPECT_TRUE(ListDirectory(m_run).empty());

    // --list: every member with its mode, or a refusal for a type whose
    // decompressor has no listing; nothing written either way.
    ProcessResult list = RunPackage(pkg, {"--list"});
    if (type.listable) {
      EXPECT_EQ(0, list.code) << list.err;
      std::map<std::string, std::string> expected = MembersOf(m_dir / "product");
      std::map<std::string, std::string> listed = ListedMembers(list.out);
      // A prepared archive also has a member for the top directory.
      listed.erase(".");
      EXPECT_EQ(expected, product(listed, "./")) << list.out;
    } else {
      EXPECT_EQ(255, list.code);
      EXPECT_EQ("\nError: --list cannot list an archive of type " + type.name +
                    "; --extract-only DIR unpacks it\n",
                list.out);
    }
    EXPECT_TRUE(ListDirectory(m_run).empty());

    // --extract-only into a missing directory: the product, and no start.
    ProcessResult unpacked = RunPackage(pkg, {"--extract-only", "out"});
    EXPECT_EQ(0, unpacked.code) << unpacked.out << unpacked.err;
    EXPECT_EQ(0u, unpacked.out.find(kExtracting)) << unpacked.out;
    const std::string done = "\nUnpacked into out; the installer was not started\n";
    ASSERT_GE(unpacked.out.size(), done.size());
    EXPECT_EQ(done, unpacked.out.substr(unpacked.out.size() - done.size()));
    if (type.listable) {
      EXPECT_EQ(kExtracting + DotsFor(record.archiveLength) + done, unpacked.out);
    }
    EXPECT_EQ(std::string::npos, unpacked.out.find("[./Bin/setup]"));
    EXPECT_EQ(TreeOf(m_dir / "product"), product(TreeOf(m_run + "/out")));
    EXPECT_EQ(0700, ModeOf(m_run + "/out"));
    EXPECT_EQ(std::vector<std::string>{"out"}, ListDirectory(m_run));

    // Into an existing empty directory, silently; its mode stays its own.
    ASSERT_EQ(0, RunShell("rm -rf '" + m_run + "/out'"));
    ASSERT_EQ(0, mkdir((m_run + "/empty").c_str(), 0751));
    ProcessResult quiet = RunPackage(pkg, {"-s", "--extract-only", m_run + "/empty"});
    EXPECT_EQ(0, quiet.code) << quiet.err;
    if (type.listable) {
      EXPECT_EQ("", quiet.out);
    }
    EXPECT_EQ("", quiet.err);
    EXPECT_EQ(TreeOf(m_dir / "product"), product(TreeOf(m_run + "/empty")));
    EXPECT_EQ(0751, ModeOf(m_run + "/empty"));

    // Into one that is not empty: refused, and it stays as it was.
    const std::map<std::string, std::string> before = TreeOf(m_run);
    ProcessResult refused = RunPackage(pkg, {"--extract-only", "empty"});
    EXPECT_EQ(255, refused.code);
    EXPECT_EQ(std::string(kExtracting) +
                  "\nError: empty is not empty; --extract-only unpacks into a missing or "
                  "empty directory\n",
              refused.out);
    EXPECT_EQ(before, TreeOf(m_run));
    ASSERT_EQ(0, RunShell("rm -rf '" + m_run + "/empty'"));
  }
}

TEST_F(PackageAnswers, InfoTellsOfASignatureAndOfDamage) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--checksum", "sha256", m_dir / "product", pkg});
  // Never opened: a FIFO would hold a reader up for ever.
  ASSERT_EQ(0, mkfifo((pkg + ".minisig").c_str(), 0644));
  ProcessResult info = RunPackage(pkg, {"-s", "--info"});
  EXPECT_EQ(0, info.code);
  EXPECT_EQ(RealPath(pkg) + ".minisig, not a regular file", ReportFields(info.out)["Signature"]);
  ASSERT_EQ(0, unlink((pkg + ".minisig").c_str()));
  WriteFile(pkg + ".minisig", "untrusted comment: whatever\n");
  info = RunPackage(pkg, {"--info"});
  EXPECT_EQ(0, info.code);
  EXPECT_EQ(RealPath(pkg) + ".minisig, not checked (check it with minisign -Vm " + RealPath(pkg) +
                " -P KEY)",
            ReportFields(info.out)["Signature"]);

  // One flipped byte of the archive.
  std::string bytes = ReadFile(pkg);
  bytes[bytes.size() - 10] ^= 0x40;
  WriteFile(pkg, bytes, 0755);
  info = RunPackage(pkg, {"--info"});
  EXPECT_EQ(255, info.code);
  std::map<std::string, std::string> fields = ReportFields(info.out);
  EXPECT_EQ(0u, fields["Verified"].find("no, the pieces give ")) << info.out;
  EXPECT_EQ(64u, fields["Verified"].size() - 20) << info.out;
  EXPECT_NE(fields["Checksum"].substr(7), fields["Verified"].substr(20));
  // Listed or unpacked, it is refused as a run is.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--list"}, std::vector<std::string>{"--extract-only", "out"}}) {
    ProcessResult run = RunPackage(pkg, args);
    EXPECT_EQ(255, run.code);
    EXPECT_EQ(std::string(args[0] == "--list" ? "" : kExtracting) + kDamaged, run.out);
  }
  EXPECT_TRUE(ListDirectory(m_run).empty());
}

TEST_F(PackageAnswers, QueriesAreCheckedAndEverythingElseIsPassedOn) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--extract-only"}, "\nError: --extract-only needs a directory: --extract-only DIR\n"},
      {{"--extract-only", ""}, "\nError: --extract-only needs a directory: --extract-only DIR\n"},
      {{"--info", "--list"}, "\nError: give only one of --info, --list and --extract-only\n"},
      {{"--list", "--extract-only", "out"},
       "\nError: give only one of --info, --list and --extract-only\n"},
  };
  for (const Case& c : cases) {
    ProcessResult run = RunPackage(pkg, c.args);
    EXPECT_EQ(255, run.code) << c.args[0];
    EXPECT_EQ(c.message, run.out);
  }
  // Version and help come first; near misses reach the second stage.
  EXPECT_EQ(kBanner, RunPackage(pkg, {"--info", "-v"}).out);
  ProcessResult run = RunPackage(pkg, {"--Info", "-list", "--extract-only=out"});
  EXPECT_EQ(3, run.code);
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(pkg)) + "\n" +
                SetupOutput("[./Bin/setup][--Info][-list][--extract-only=out]"),
            run.out);
}

TEST_F(PackageAnswers, SilentFailuresAreReportedOnStandardError) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  std::string bytes = ReadFile(pkg);
  bytes[bytes.size() - 10] ^= 0x40;
  WriteFile(pkg, bytes, 0755);
  for (const char* silent : {"-s", "--silent", "/s"}) {
    ProcessResult run = RunPackage(pkg, {silent});
    EXPECT_EQ(255, run.code);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(kDamaged, run.err);
  }
}

TEST_F(PackageAnswers, UsersOwnQzsetupIsLeftAlone) {
  MakeProduct();
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", pkg});
  const std::string refusal =
      "\nError: ./qzsetup exists and was not made by an installation package; move it away or "
      "start the package from another directory\n";
  // A directory of the user's, a file, and a link to a directory of theirs.
  ASSERT_EQ(0, mkdir((m_dir / "mine").c_str(), 0755));
  WriteFile(m_dir / "mine/notes.txt", "my notes\n");
  const std::vector<std::string> setups = {
      "mkdir qzsetup && echo notes > qzsetup/notes.txt && chmod 0750 qzsetup",
      "echo notes > qzsetup",
      "ln -s '" + m_dir / "mine" + "' qzsetup",
  };
  for (const std::string& setup : setups) {
    SCOPED_TRACE(setup);
    ASSERT_EQ(0, RunShell("cd '" + m_run + "' && " + setup));
    const std::map<std::string, std::string> before = TreeOf(m_run);
    const std::map<std::string, std::string> mine = TreeOf(m_dir / "mine");
    for (const char* args : {"", "--check", "-s"}) {
      ProcessResult run = RunPackage(pkg, {args});
      EXPECT_EQ(255, run.code);
      EXPECT_EQ(*args == '-' && args[1] == 's' ? "" : kExtracting + refusal, run.out);
      EXPECT_EQ(*args == '-' && args[1] == 's' ? refusal : "", run.err);
      // Nothing written: not even the temporary decompressor.
      EXPECT_EQ(before, TreeOf(m_run));
      EXPECT_EQ(mine, TreeOf(m_dir / "mine"));
    }
    ASSERT_EQ(0, RunShell("rm -rf '" + m_run + "/qzsetup'"));
  }
  // --extract-only does not touch ./qzsetup at all.
  ASSERT_EQ(0, RunShell("cd '" + m_run + "' && " + setups[0]));
  ProcessResult run = RunPackage(pkg, {"-s", "--extract-only", "out"});
  EXPECT_EQ(0, run.code) << run.err;
  EXPECT_EQ("notes\n", ReadFile(m_run + "/qzsetup/notes.txt"));
  EXPECT_EQ(ReadFile(m_dir / "product/License.txt"), ReadFile(m_run + "/out/License.txt"));
}

TEST_F(PackageAnswers, FileSizeLimitIsNamedAndNothingIsLeft) {
  // Three files of 60,000 bytes, the decompressor a program of more.
  MakeProduct();
  for (const char* name : {"data/a.bin", "data/b.bin", "data/c.bin"})
    WriteFile(m_dir / "product/" + name, Noise(60000, 11));
  const std::string bz2 = m_dir / "pkg.bin";
  MakePackage({m_dir / "product", bz2});
  const std::string tgz = m_dir / "pkg.tgz.bin";
  MakePackage({"--type", "tgz", m_dir / "product", tgz});
  PackageRecord record;
  ASSERT_TRUE(ReadPackageRecord(bz2, &record));
  ASSERT_GT(record.extractorLength, 100 * 512);

  // The limit as the shell sets it, in blocks of 512 bytes.
  auto runLimited = [&](const std::string& pkg, int blocks, const std::vector<std::string>& args) {
    ProgramRun run;
    run.program = "/bin/sh";
    run.argv = {"sh", "-c", "ulimit -f " + std::to_string(blocks) + " && exec \"$0\" \"$@\"", pkg};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = m_run;
    return RunProgram(run);
  };
  // The launcher's own file would pass the limit: refused before writing.
  ProcessResult run = runLimited(bz2, 100, {});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(255, run.code);
  EXPECT_EQ(kExtracting + std::string("\nError: xxextract.tmp needs ") +
                std::to_string(record.extractorLength) +
                " bytes, more than the file size limit of 51200 bytes (ulimit -f); nothing was "
                "written\n",
            run.out);
  EXPECT_TRUE(ListDirectory(m_run).empty());

  // A file that tar writes passes it: named, and nothing is left.
  run = runLimited(tgz, 100, {});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(255, run.code);
  EXPECT_EQ(kExtracting + DotsFor(ArchiveLength(tgz)) +
                "\nError: ./qzsetup/data/a.bin reached the file size limit of 51200 bytes (ulimit "
                "-f); the installer was not started\n",
            run.out);
  EXPECT_TRUE(ListDirectory(m_run).empty());
  run = runLimited(tgz, 100, {"-s", "--extract-only", "out"});
  EXPECT_EQ(255, run.code);
  EXPECT_EQ("", run.out);
  EXPECT_NE(std::string::npos,
            run.err.find("\nError: out/data/a.bin reached the file size limit of 51200 bytes "
                         "(ulimit -f); nothing was unpacked\n"))
      << run.err;
  EXPECT_TRUE(ListDirectory(m_run).empty());

  // With room for every file the limit changes nothing.
  run = runLimited(bz2, 1000, {"-s"});
  EXPECT_EQ(3, run.code) << run.err;
}

TEST_F(PackageAnswers, FullFileSystemDuringExtractionLeavesNothing) {
  // A record that does not know the unpacked size lets the run start on a
  // file system too small for the product.
  MakeProduct();
  WriteFile(m_dir / "product/data/big.bin", Noise(3 << 20, 12));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--type", "tgz", m_dir / "product", pkg});
  PackageRecord record;
  ASSERT_TRUE(ReadPackageRecord(pkg, &record));
  record.unpackedSize = 0;
  ASSERT_TRUE(WritePackageRecord(pkg, record));
  const std::string small = MakeDirs(m_dir / "small");
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};
  WriteFile(small + "/notes.txt", "mine\n");
  const std::map<std::string, std::string> before = TreeOf(small);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"--extract-only", "out"}}) {
    ProgramRun run;
    run.program = pkg;
    run.argv = {pkg};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = small;
    ProcessResult result = RunProgram(run);
    EXPECT_EQ(255, result.code);
    const std::string end =
        args.empty()
            ? "; the file system of " + small + " is full); the installer was not started\n"
            : std::string("; the file system of out is full); nothing was unpacked\n");
    EXPECT_EQ(0u, result.out.find(kExtracting + DotsFor(record.archiveLength) +
                                  "\nError: extraction failed ("))
        << result.out;
    ASSERT_GE(result.out.size(), end.size());
    EXPECT_EQ(end, result.out.substr(result.out.size() - end.size()));
    EXPECT_EQ(before, TreeOf(small));
  }
}

TEST_F(PackageAnswers, SignalDuringExtractOnlyLeavesTheDirectoryAsItWas) {
  WriteFile(m_dir / "stalling", "#!/bin/sh\necho $$ > '" + m_dir / "stalled" + "'\nexec sleep 60\n",
            0755);
  WriteFile(m_dir / "big.bz2", "BZh9" + Noise(1 << 20, 13));
  const std::string pkg = m_dir / "pkg.bin";
  MakePackage({"--decompressor", m_dir / "stalling", m_dir / "big.bz2", pkg});
  // A directory of the user's, empty, and one the run makes.
  ASSERT_EQ(0, mkdir((m_run + "/empty").c_str(), 0750));
  for (const char* dir : {"empty", "made"}) {
    SCOPED_TRACE(dir);
    unlink((m_dir / "stalled").c_str());
    ProgramRun run;
    run.program = pkg;
    run.argv = {pkg, "-s", "--extract-only", dir};
    run.cwd = m_run;
    pid_t pid = fork();
    if (pid == 0)
      ExecProgram(run);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 500 && !(Exists(m_dir / "stalled") && !ReadFile(m_dir / "stalled").empty());
         ++i)
      usleep(10000);
    const pid_t stalled = atoi(ReadFile(m_dir / "stalled").c_str());
    ASSERT_GT(stalled, 0);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(std::vector<std::string>{"empty"}, ListDirectory(m_run));
    EXPECT_TRUE(ListDirectory(m_run + "/empty").empty());
    EXPECT_EQ(0750, ModeOf(m_run + "/empty"));
    EXPECT_TRUE(ProcessEnds(stalled, 0));
  }
}

TEST(LauncherProgram, NeedsNoSharedLibraryAtRunTime) {
  if (STRATA_SANITIZED)
    GTEST_SKIP() << "the sanitizer build links its runtime libraries dynamically";
  // A package built here must start on a system with an older C library:
  // no loader to ask for, no library to load.
  ProgramRun headers;
  headers.argv = {"readelf", "-l", LAUNCHER};
  ProcessResult result = RunProgram(headers);
  ASSERT_EQ(0, result.code) << result.err;
  EXPECT_NE(std::string::npos, result.out.find("LOAD")) << result.out;
  EXPECT_EQ(std::string::npos, result.out.find("INTERP")) << result.out;

  ProgramRun dynamic;
  dynamic.argv = {"readelf", "-d", LAUNCHER};
  result = RunProgram(dynamic);
  ASSERT_EQ(0, result.code) << result.err;
  EXPECT_EQ(std::string::npos, result.out.find("(NEEDED)")) << result.out;
}

}  // namespace
