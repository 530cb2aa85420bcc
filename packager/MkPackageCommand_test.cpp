#include "packager/MkPackageCommand.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "tests/PackageRecordFile.h"
#include "tests/PtySession.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

typedef std::vector<std::string> Args;

const char kTryHelp[] = "Try 'mkpackage --help' for more information.\n";

// err without the warning that archive could not be read through to
// measure it, which every pretend archive of these tests gives; the
// reason in it is the archive library's.
std::string WithoutUnreadableWarning(const std::string& err, const std::string& archive) {
  const std::string start = "mkpackage: warning: cannot read " + archive + " through (";
  const std::string end =
      "); the package records no unpacked size, and the launcher checks only the room for its "
      "decompressor\n";
  size_t at = err.find(start);
  if (at == std::string::npos)
    return err;
  size_t stop = err.find(end, at);
  if (stop == std::string::npos || err.find('\n', at) < stop)
    return err;
  return err.substr(0, at) + err.substr(stop + end.size());
}

struct Result {
  int status;
  std::string out;
  std::string err;
};

// Runs the command line, catching what it prints.
Result Command(const Args& args) {
  char* outText = nullptr;
  char* errText = nullptr;
  size_t outSize = 0, errSize = 0;
  FILE* out = open_memstream(&outText, &outSize);
  FILE* err = open_memstream(&errText, &errSize);
  std::vector<const char*> argv = {"mkpackage"};
  for (const std::string& arg : args)
    argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  MkPackageCommand command(out, err);
  Result result;
  result.status = command.Run(static_cast<int>(args.size() + 1), argv.data());
  fclose(out);
  fclose(err);
  result.out.assign(outText, outSize);
  result.err.assign(errText, errSize);
  free(outText);
  free(errText);
  return result;
}

class MkPackageCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, mkdir((m_dir / "tree").c_str(), 0755));
    ASSERT_EQ(0, mkdir((m_dir / "tree/Bin").c_str(), 0755));
    WriteFile(m_dir / "tree/Bin/setup", "#!/bin/sh\necho second stage\n", 0755);
    WriteFile(m_dir / "tree/README", "read me\n");
    WriteFile(m_dir / "dec", "pretend decompressor", 0755);
    WriteFile(m_dir / "archive.bz2", "BZh91AY&SY pretend archive");
  }

  // Builds m_dir/pkg with the stub launcher and the extra options.
  void Build(Args args, const std::string& archive) {
    args.insert(args.begin(), {"--launcher", STUB_LAUNCHER});
    args.push_back(archive);
    args.push_back(m_dir / "pkg");
    Result result = Command(args);
    ASSERT_EQ(0, result.status) << result.err;
    ASSERT_EQ("", WithoutUnreadableWarning(result.err, archive));
  }

  // Overwrites bytes of m_dir/pkg.
  void Patch(size_t offset, const std::string& bytes) {
    std::string package = ReadFile(m_dir / "pkg");
    package.replace(offset, bytes.size(), bytes);
    WriteFile(m_dir / "pkg", package, 0755);
  }

  size_t RecordOffset() {
    PackageRecord record;
    size_t offset = 0;
    EXPECT_TRUE(RecordOf(ReadFile(m_dir / "pkg"), &record, &offset));
    return offset;
  }

  std::string Sha256(const std::string& bytes) {
    WriteFile(m_dir / "digest-input", bytes);
    std::string output;
    EXPECT_EQ(0, RunShell("sha256sum " + ShellQuote(m_dir / "digest-input"), &output));
    return output.substr(0, 64);
  }

  TempDir m_dir;
};

}  // namespace

TEST(MkPackageCommand, HelpAndVersionGoToStandardOutput) {
  Result help = Command({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.out.find("Usage: mkpackage [OPTION]... ARCHIVE OUTPUT\n"
                              "  or:  mkpackage --info PACKAGE\n"
                              "  or:  mkpackage --list PACKAGE\n"));
  EXPECT_NE(std::string::npos, help.out.find("  --no-checksum "));
  EXPECT_NE(std::string::npos,
            help.out.find("or none\n                          (default xxh3-128)\n"));
  EXPECT_EQ("", help.err);
  // Help wins over operands and options before it.
  EXPECT_EQ(help.out, Command({"--type", "tgz", "a", "--help", "b"}).out);

  Result version = Command({"--version"});
  EXPECT_EQ(0, version.status);
  EXPECT_EQ("mkpackage (Strata Server 9.08) 9.0.8.1427\n", version.out);
  EXPECT_EQ("", version.err);
}

TEST(MkPackageCommand, WrongCommandLinesAreUsageErrors) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{}, "missing ARCHIVE and OUTPUT"},
      {{"dir"}, "missing OUTPUT"},
      {{"a", "b", "c", "d"}, "too many operands, from 'c' on"},
      {{"--bogus", "a", "b"}, "unknown option '--bogus'"},
      {{"-t", "tgz", "a", "b"}, "unknown option '-t'"},
      {{"a", "b", "--type"}, "option '--type' needs a value"},
      {{"--type=lzma", "a", "b"},
       "unknown archive type 'lzma' (the types are bz2, tgz, tz, rzt, zip or tzst)"},
      {{"--help=yes"}, "option '--help' takes no value"},
      {{"--decompressor", "", "a", "b"}, "option '--decompressor' needs a program"},
      {{"--decompressor", "x", "--no-decompressor", "a", "b"},
       "give only one of --decompressor and --no-decompressor"},
      {{"--checksum", "md5", "a", "b"},
       "unknown checksum kind 'md5' (the kinds are sha256, xxh3-128 and none)"},
      {{"--checksum=sha256", "--no-checksum", "a", "b"},
       "give only one of --checksum and --no-checksum"},
      {{"--info", "p", "--list", "p"}, "give only one of --info and --list"},
      {{"--info", "p", "extra"}, "--info takes a package and nothing else"},
      {{"--list=p", "--type", "tgz"}, "--list takes a package and nothing else"},
  };
  for (const auto& c : cases) {
    Result result = Command(c.first);
    std::string shown = c.first.empty() ? "(none)" : c.first[0];
    EXPECT_EQ(2, result.status) << shown;
    EXPECT_EQ("", result.out) << shown;
    EXPECT_EQ("mkpackage: " + c.second + "\n" + kTryHelp, result.err) << shown;
  }
}

TEST_F(MkPackageCommandTest, BuildFailuresAndWarningsAreReported) {
  Result missing = Command({"--launcher", STUB_LAUNCHER, m_dir / "missing", m_dir / "pkg"});
  EXPECT_EQ(1, missing.status);
  EXPECT_EQ("mkpackage: " + m_dir / "missing" + ": No such file or directory\n", missing.err);
  EXPECT_FALSE(Exists(m_dir / "pkg"));

  // After "--", a name that starts with "-" is an operand.
  WriteFile(m_dir / "-odd.tgz", "\x1f\x8b pretend gzip stream");
  Result odd;
  {
    ScopedChdir here(m_dir.path());
    ASSERT_TRUE(here.Ok());
    odd = Command({"--launcher", STUB_LAUNCHER, "--type", "tgz", "--", "-odd.tgz", "pkg"});
  }
  EXPECT_EQ(0, odd.status) << odd.err;
  EXPECT_EQ("", WithoutUnreadableWarning(odd.err, "-odd.tgz"));

  Result warned = Command({"--launcher", STUB_LAUNCHER, "--type=tz", "--decompressor",
                           m_dir / "dec", m_dir / "archive.bz2", m_dir / "pkg"});
  EXPECT_EQ(0, warned.status);
  EXPECT_EQ("mkpackage: warning: type tz does not use a decompressor; " + m_dir / "dec" +
                " is carried but unused\n"
                "mkpackage: warning: " +
                m_dir / "archive.bz2" + " does not look like a tz archive\n",
            WithoutUnreadableWarning(warned.err, m_dir / "archive.bz2"));
}

TEST_F(MkPackageCommandTest, InfoPrintsTheRecordAndVerifiesThePieces) {
  Build({"--decompressor", m_dir / "dec", "--checksum=sha256"}, m_dir / "archive.bz2");
  std::string pieces = ReadFile(m_dir / "dec") + ReadFile(m_dir / "archive.bz2");
  std::string head = "Package:       " + m_dir / "pkg" + "\n" +
                     "Launcher:      " + std::to_string(ReadFile(STUB_LAUNCHER).size()) +
                     " bytes\n"
                     "Decompressor:  20 bytes\n"
                     "Archive:       26 bytes\n"
                     "Unpacked:      not recorded\n"
                     "Type:          bz2\n";
  Result info = Command({"--info", m_dir / "pkg"});
  EXPECT_EQ(0, info.status);
  EXPECT_EQ(head + "Checksum:      sha256 " + Sha256(pieces) +
                "\nVerified:      yes\nSignature:     none\n",
            info.out);
  EXPECT_EQ("", info.err);

  // A changed byte in either piece is caught.
  size_t end = ReadFile(m_dir / "pkg").size();
  for (size_t offset : {end - 26 - 20 + 3, end - 1}) {
    Build({"--decompressor", m_dir / "dec", "--checksum=sha256"}, m_dir / "archive.bz2");
    Patch(offset, "#");
    std::string changed = ReadFile(m_dir / "pkg").substr(end - 46);
    Result bad = Command({"--info", m_dir / "pkg"});
    EXPECT_EQ(1, bad.status);
    EXPECT_EQ(head + "Checksum:      sha256 " + Sha256(pieces) +
                  "\nVerified:      no, the pieces give " + Sha256(changed) +
                  "\nSignature:     none\n",
              bad.out);
    EXPECT_EQ("mkpackage: " + m_dir / "pkg" + ": the pieces do not match the recorded checksum\n",
              bad.err);
  }

  Build({"--decompressor", m_dir / "dec", "--no-checksum"}, m_dir / "archive.bz2");
  Result none = Command({"--info", m_dir / "pkg"});
  EXPECT_EQ(0, none.status);
  EXPECT_EQ(
      head + "Checksum:      none\nVerified:      no checksum recorded\nSignature:     none\n",
      none.out);

  // XXH3-128 unless told otherwise.
  Build({"--decompressor", m_dir / "dec"}, m_dir / "archive.bz2");
  Result xxh = Command({"--info", m_dir / "pkg"});
  EXPECT_EQ(0, xxh.status);
  std::string line = "\nChecksum:      xxh3-128 ";
  size_t at = xxh.out.find(line);
  ASSERT_NE(std::string::npos, at) << xxh.out;
  EXPECT_EQ(32u, xxh.out.find('\n', at + 1) - at - line.size());
  EXPECT_NE(std::string::npos, xxh.out.find("\nVerified:      yes\n"));
}

TEST_F(MkPackageCommandTest, InfoShowsTheUnpackedSizeCountedInBlocks) {
  // Bin/, Bin/setup, README and the list of digests: one 4 KiB block each,
  // whether the directory is packed here or the same files come as a
  // prepared archive, read through once.
  Build({"--type", "tzst"}, m_dir / "tree");
  Result info = Command({"--info", m_dir / "pkg"});
  EXPECT_EQ(0, info.status) << info.err;
  EXPECT_NE(std::string::npos, info.out.find("\nUnpacked:      16384 bytes\nType:          tzst\n"))
      << info.out;
  ASSERT_EQ(0, RunShell("tar -C " + ShellQuote(m_dir / "tree") + " -cf - . | bzip2 > " +
                        ShellQuote(m_dir / "tree.tar.bz2")));
  Build({}, m_dir / "tree.tar.bz2");
  info = Command({"--info", m_dir / "pkg"});
  EXPECT_EQ(0, info.status) << info.err;
  // This archive also has a member for its top directory, "./".
  EXPECT_NE(std::string::npos, info.out.find("\nUnpacked:      16384 bytes\nType:          bz2\n"))
      << info.out;
}

TEST_F(MkPackageCommandTest, InfoReadsTheLaunchersRecordNotOneInTheArchive) {
  // An archive that happens to carry a launcher of its own.
  WriteFile(m_dir / "nested.tgz", "\x1f\x8b" + ReadFile(STUB_LAUNCHER));
  Build({"--type", "tgz", "--no-decompressor"}, m_dir / "nested.tgz");
  Result info = Command({"--info", m_dir / "pkg"});
  EXPECT_EQ(0, info.status) << info.err;
  EXPECT_NE(std::string::npos,
            info.out.find("Decompressor:  0 bytes\nArchive:       " +
                          std::to_string(ReadFile(m_dir / "nested.tgz").size()) +
                          " bytes\nUnpacked:      not recorded\nType:          tgz\n"));
  EXPECT_NE(std::string::npos, info.out.find("\nVerified:      yes\n"));
}

TEST_F(MkPackageCommandTest, InfoRefusesFilesWhoseRecordDoesNotDescribeThem) {
  std::string pkg = m_dir / "pkg";
  auto infoError = [&]() {
    Result result = Command({"--info", pkg});
    EXPECT_EQ(1, result.status);
    EXPECT_EQ("", result.out);
    return result.err;
  };
  EXPECT_EQ("mkpackage: " + pkg + ": No such file or directory\n", infoError());

  WriteFile(pkg, "just some file");
  EXPECT_EQ("mkpackage: " + pkg + ": not a package (it holds no package record)\n", infoError());

  WriteFile(pkg, "xx" + std::string(STRATA_PACKAGE_RECORD_MAGIC, 16) + "short");
  EXPECT_EQ("mkpackage: " + pkg + ": not a package (its package record is cut short)\n",
            infoError());

  // A launcher as built, not yet made into a package.
  WriteFile(pkg, ReadFile(STUB_LAUNCHER), 0755);
  EXPECT_EQ("mkpackage: " + pkg + ": a launcher, not a package (its record still holds the " +
                "built-in values)\n",
            infoError());

  // A package cut short: the pieces are found from the end, so what is
  // missing shows in the digest, and in the lengths once they reach back
  // to the record.
  Build({"--decompressor", m_dir / "dec"}, m_dir / "archive.bz2");
  std::string whole = ReadFile(pkg);
  size_t record = RecordOffset();
  WriteFile(pkg, whole.substr(0, whole.size() - 1));
  Result cut = Command({"--info", pkg});
  EXPECT_EQ(1, cut.status);
  EXPECT_EQ("mkpackage: " + pkg + ": the pieces do not match the recorded checksum\n", cut.err);
  size_t kept = record + sizeof(PackageRecord) + 45;
  WriteFile(pkg, whole.substr(0, kept));
  EXPECT_EQ("mkpackage: " + pkg +
                ": not a package (its record's lengths, decompressor 20 and archive 26 bytes, do "
                "not fit the file of " +
                std::to_string(kept) + " bytes)\n",
            infoError());

  WriteFile(pkg, whole);
  Patch(record + 16, std::string("\xff\xff\xff\xff", 4));
  EXPECT_EQ("mkpackage: " + pkg +
                ": not a package (its record's lengths, decompressor 20 and archive -1 bytes, do "
                "not fit the file of " +
                std::to_string(whole.size()) + " bytes)\n",
            infoError());

  WriteFile(pkg, whole);
  Patch(record + 24, std::string("lzma\0", 5));
  EXPECT_EQ("mkpackage: " + pkg + ": the record names an unknown archive type 'lzma'\n",
            infoError());
  Patch(record + 24, std::string(15, '\x01') + "\x02");
  EXPECT_EQ("mkpackage: " + pkg + ": the record names an unknown archive type '" +
                std::string(16, '?') + "'\n",
            infoError());

  WriteFile(pkg, whole);
  Patch(record + 40, std::string("\x07\0\0\0", 4));
  EXPECT_EQ("mkpackage: " + pkg + ": the record names an unknown checksum kind 7\n", infoError());

  // No launcher could extract this: the decompressor piece is gone.
  WriteFile(pkg, whole);
  Patch(record + 20, std::string("\0\0\0\0", 4));
  EXPECT_EQ("mkpackage: " + pkg +
                ": the record's type bz2 needs a decompressor, but its decompressor length is 0\n",
            infoError());
}

TEST_F(MkPackageCommandTest, InfoFindsAPackageWithoutChecksumCutShort) {
  // Without a digest only the start of the archive piece can tell: it is
  // found from the end, so a cut moves it into the archive.
  std::string pkg = m_dir / "pkg";
  Build({"--decompressor", m_dir / "dec", "--no-checksum"}, m_dir / "archive.bz2");
  std::string whole = ReadFile(pkg);
  for (size_t cut : {1, 3, 20}) {
    WriteFile(pkg, whole.substr(0, whole.size() - cut));
    Result info = Command({"--info", pkg});
    EXPECT_EQ(1, info.status) << cut;
    EXPECT_NE(std::string::npos, info.out.find("\nVerified:      no checksum recorded\n")) << cut;
    EXPECT_EQ("mkpackage: " + pkg +
                  ": the archive piece does not start as a bz2 archive does (is the package cut "
                  "short or damaged?)\n",
              info.err)
        << cut;
  }
  // A type whose archives have no known start is not held to one.
  WriteFile(m_dir / "archive.rzt", "an rzt archive");
  Build({"--type", "rzt", "--decompressor", m_dir / "dec", "--no-checksum"}, m_dir / "archive.rzt");
  Result rzt = Command({"--info", pkg});
  EXPECT_EQ(0, rzt.status) << rzt.err;
  EXPECT_NE(std::string::npos, rzt.out.find("\nVerified:      no checksum recorded\n"));
}

TEST_F(MkPackageCommandTest, ListShowsTheArchiveMembers) {
  for (const char* type : {"bz2", "tgz"}) {
    Build({"--type", type}, m_dir / "tree");
    Result list = Command({"--list", m_dir / "pkg"});
    EXPECT_EQ(0, list.status) << type << ": " << list.err;
    EXPECT_EQ("./Bin/\n./Bin/setup\n./README\n./.digests-by-installation-package\n", list.out)
        << type;
  }

  WriteFile(m_dir / "archive.zip", "PK\x03\x04 pretend zip");
  Build({"--type", "zip", "--decompressor", m_dir / "dec"}, m_dir / "archive.zip");
  Result zip = Command({"--list", m_dir / "pkg"});
  EXPECT_EQ(1, zip.status);
  EXPECT_EQ("mkpackage: " + m_dir / "pkg" + ": cannot list an archive of type zip\n", zip.err);

  // A damaged archive is reported with the decompressor's own words.
  Build({"--decompressor", m_dir / "dec"}, m_dir / "archive.bz2");
  Result bad = Command({"--list", m_dir / "pkg"});
  EXPECT_EQ(1, bad.status);
  EXPECT_EQ(0u, bad.err.find("mkpackage: " + m_dir / "pkg" +
                             ": cannot list the archive: bzip2 exited with status 2\nbzip2: "))
      << bad.err;
}

// The program itself, as a release engineer runs it.
class MkPackageProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Others may need to enter the directory (see RunAs).
    ASSERT_EQ(0, chmod(m_dir.path().c_str(), 0755));
    ASSERT_EQ(0, mkdir((m_dir / "bin").c_str(), 0755));
    WriteFile(m_dir / "bin/mkpackage", ReadFile(MKPACKAGE), 0755);
    // The decompressor it carries by default lies beside it, as in a build.
    const std::string built = MKPACKAGE;
    WriteFile(m_dir / "bin/strata-bunzip2",
              ReadFile(built.substr(0, built.rfind('/')) + "/strata-bunzip2"), 0755);
    ASSERT_EQ(0, mkdir((m_dir / "tree").c_str(), 0755));
    ASSERT_EQ(0, mkdir((m_dir / "tree/Bin").c_str(), 0755));
    WriteFile(m_dir / "tree/Bin/setup", "#!/bin/sh\n", 0755);
  }

  // Runs mkpackage with the arguments (already quoted for the shell).
  int Program(const std::string& args, std::string* err) {
    std::string output;
    int status = RunShell(
        m_prefix + ShellQuote(m_dir / "bin/mkpackage") + " " + args + " 2>&1 >/dev/null", &output);
    *err = output;
    return status;
  }

  // Makes later runs go as an unprivileged user when this test is root, for
  // whom no permission is ever lacking.
  void RunAsNobody() {
    if (geteuid() == 0)
      m_prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }

  TempDir m_dir;
  std::string m_prefix;
};

TEST_F(MkPackageProgramTest, TakesTheLauncherBesideItself) {
  std::string err;
  std::string pkg = ShellQuote(m_dir / "pkg");
  EXPECT_EQ(1, Program(ShellQuote(m_dir / "tree") + " " + pkg, &err));
  EXPECT_EQ("mkpackage: cannot find the launcher (looked for " + m_dir / "libexec/strata/launcher" +
                " or " + m_dir / "bin/launcher" + "); give --launcher FILE\n",
            err);

  WriteFile(m_dir / "bin/launcher", ReadFile(STUB_LAUNCHER), 0755);
  EXPECT_EQ(0, Program(ShellQuote(m_dir / "tree") + " " + pkg, &err)) << err;
  EXPECT_EQ(0, Program("--info " + pkg, &err)) << err;
  EXPECT_EQ(2, Program("", &err));
  EXPECT_EQ(std::string("mkpackage: missing ARCHIVE and OUTPUT\n") + kTryHelp, err);
}

TEST_F(MkPackageProgramTest, ReportsWhatItMayNotReadOrWrite) {
  WriteFile(m_dir / "bin/launcher", ReadFile(STUB_LAUNCHER), 0755);
  ASSERT_EQ(0, mkdir((m_dir / "locked").c_str(), 0555));
  RunAsNobody();
  std::string err;
  EXPECT_EQ(1, Program(ShellQuote(m_dir / "tree") + " " + ShellQuote(m_dir / "locked/pkg"), &err));
  EXPECT_EQ("mkpackage: cannot create a file in " + m_dir / "locked" + ": Permission denied\n",
            err);
  EXPECT_EQ(std::vector<std::string>{}, ListDirectory(m_dir / "locked"));

  WriteFile(m_dir / "tree/secret", "s", 0600);
  if (geteuid() != 0) {
    ASSERT_EQ(0, chmod((m_dir / "tree/secret").c_str(), 0200));
  }
  // Writable for everyone whatever the umask, so that only the tree fails.
  ASSERT_EQ(0, mkdir((m_dir / "out").c_str(), 0777));
  ASSERT_EQ(0, chmod((m_dir / "out").c_str(), 0777));
  EXPECT_EQ(1, Program(ShellQuote(m_dir / "tree") + " " + ShellQuote(m_dir / "out/pkg"), &err));
  EXPECT_EQ("mkpackage: " + m_dir / "tree/secret" + ": Permission denied\n", err);
  EXPECT_EQ(std::vector<std::string>{}, ListDirectory(m_dir / "out"));
}

TEST_F(MkPackageProgramTest, AFailedWriteLeavesNoPackageBehind) {
  WriteFile(m_dir / "bin/launcher", ReadFile(STUB_LAUNCHER), 0755);
  ASSERT_EQ(0, mkdir((m_dir / "out").c_str(), 0755));
  WriteFile(m_dir / "out/pkg", "the previous package", 0644);
  // A file size limit below the launcher's size stands in for a full disk.
  m_prefix = "ulimit -f 8; trap '' XFSZ; ";
  std::string err;
  EXPECT_EQ(1, Program(ShellQuote(m_dir / "tree") + " " + ShellQuote(m_dir / "out/pkg"), &err));
  EXPECT_EQ("mkpackage: cannot write " + m_dir / "out/pkg" + ": File too large\n", err);
  EXPECT_EQ(std::vector<std::string>{"pkg"}, ListDirectory(m_dir / "out"));
  EXPECT_EQ("the previous package", ReadFile(m_dir / "out/pkg"));
}

TEST_F(MkPackageProgramTest, AnInterruptedBuildLeavesNothingAndStopsItsChildren) {
  WriteFile(m_dir / "bin/launcher", ReadFile(STUB_LAUNCHER), 0755);
  // A compressor that never finishes, and says who it is once it runs.
  const std::string pidFile = m_dir / "bzip2.pid";
  ASSERT_EQ(0, mkdir((m_dir / "fakebin").c_str(), 0755));
  WriteFile(m_dir / "fakebin/bzip2",
            "#!/bin/sh\necho $$ > " + ShellQuote(pidFile + ".new") + "\nmv " +
                ShellQuote(pidFile + ".new") + " " + ShellQuote(pidFile) + "\nexec sleep 600\n",
            0755);
  ASSERT_EQ(0, mkdir((m_dir / "out").c_str(), 0755));
  WriteFile(m_dir / "out/pkg", "the previous package");

  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    unlink(pidFile.c_str());
    pid_t build = fork();
    ASSERT_GE(build, 0);
    if (build == 0) {
      // As started from a terminal, whatever the test runner ignores.
      for (int each : {SIGINT, SIGTERM, SIGHUP})
        ::signal(each, SIG_DFL);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      ProgramRun run;
      run.program = m_dir / "bin/mkpackage";
      run.argv = {"mkpackage", m_dir / "tree", m_dir / "out/pkg"};
      run.env = {{"PATH", m_dir / "fakebin:" + getenv("PATH")}};
      ExecProgram(run);
    }
    for (int i = 0; i < 3000 && !Exists(pidFile); ++i)
      usleep(10 * 1000);
    pid_t compressor = 0;
    EXPECT_EQ(1, sscanf(ReadFile(pidFile).c_str(), "%d", &compressor));
    // Mid-build: the temporary file is there beside the earlier package.
    std::vector<std::string> during = ListDirectory(m_dir / "out");
    EXPECT_EQ(2u, during.size());
    EXPECT_EQ(0u, during[0].find(".pkg."));

    ASSERT_EQ(0, kill(build, signal));
    int status = 0;
    ASSERT_EQ(build, waitpid(build, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(signal, WTERMSIG(status));
    EXPECT_EQ(std::vector<std::string>{"pkg"}, ListDirectory(m_dir / "out"));
    EXPECT_EQ("the previous package", ReadFile(m_dir / "out/pkg"));
    if (compressor > 0) {
      EXPECT_TRUE(ProcessEnds(compressor, 30));
      kill(compressor, SIGKILL);
    }
  }
}

TEST_F(MkPackageProgramTest, AnUnwritableStandardOutputIsAFailure) {
  std::string err;
  EXPECT_EQ(1, RunShell(ShellQuote(m_dir / "bin/mkpackage") + " --help 2>&1 >/dev/full", &err));
  EXPECT_EQ("mkpackage: cannot write the output\n", err);
}

// What a build says: progress on a terminal (here while a few MB are
// compressed and while a key is derived from its password), nothing of it in
// a log, and one last line that names what was written.
TEST_F(MkPackageProgramTest, ShowsProgressOnATerminalAndSaysWhatItWrote) {
  WriteFile(m_dir / "bin/launcher", ReadFile(STUB_LAUNCHER), 0755);
  WriteFile(m_dir / "tree/data", Noise(1 << 20, 11));
  const std::string pkg = m_dir / "pkg";
  std::string err, out;
  EXPECT_EQ(0, RunShell(ShellQuote(m_dir / "bin/mkpackage") + " " + ShellQuote(m_dir / "tree") +
                            " " + ShellQuote(pkg) + " 2>" + ShellQuote(m_dir / "err"),
                        &out));
  EXPECT_EQ("", ReadFile(m_dir / "err"));
  EXPECT_TRUE(std::regex_match(out, std::regex("Wrote " + pkg +
                                               " \\([0-9]+\\.[0-9] MB, bz2, checksum xxh3-128 "
                                               "[0-9a-f]{32}\\)\n")))
      << out;

  // A key with a password, as the tests of signing make them.
  WriteFile(m_dir / "pw", "tulip\n", 0600);
  ASSERT_EQ(0, Program("--generate-key " + ShellQuote(m_dir / "k") + " --password-file " +
                           ShellQuote(m_dir / "pw"),
                       &err))
      << err;
  PtySession session;
  ProgramRun run;
  run.program = m_dir / "bin/mkpackage";
  run.argv = {"mkpackage",    "--sign", m_dir / "k.key", "--password-file", m_dir / "pw",
              m_dir / "tree", pkg};
  ASSERT_TRUE(session.Start(run));
  EXPECT_TRUE(session.Expect("mkpackage: deriving the key from the password ... 0 s"));
  EXPECT_TRUE(
      session.Expect("mkpackage: compressing " + m_dir / "tree" + " (1.0 MB) with bzip2 -9: "));
  EXPECT_TRUE(session.Expect(" MB written, 0 s"));
  // Erased before what follows.
  EXPECT_TRUE(
      session.Expect("\033[KSigned " + pkg + " into " + pkg + ".minisig\nWrote " + pkg + " ("));
  ProcessResult result = session.Finish();
  EXPECT_EQ(0, result.code);
}

// A key, password or signature path that names a FIFO is refused at once;
// the timeout turns a hang into a failure.
TEST_F(MkPackageProgramTest, AFifoGivenAsAKeyOrFoundAsASignatureIsRefusedAtOnce) {
  WriteFile(m_dir / "bin/launcher", ReadFile(STUB_LAUNCHER), 0755);
  const std::string pkg = ShellQuote(m_dir / "pkg");
  std::string err;
  ASSERT_EQ(0, Program(ShellQuote(m_dir / "tree") + " " + pkg, &err)) << err;
  WriteFile(m_dir / "pw", "tulip\n", 0600);
  ASSERT_EQ(0, Program("--generate-key " + ShellQuote(m_dir / "k") + " --no-password", &err));
  const std::string fifo = m_dir / "fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  ASSERT_EQ(0, mkfifo((m_dir / "pkg.minisig").c_str(), 0600));
  const std::string notRegular = ": not a regular file\n";
  m_prefix = "timeout 20 ";
  const struct {
    std::string args, message;
  } cases[] = {
      {"--verify " + pkg + " --pubkey " + ShellQuote(fifo), fifo + notRegular},
      {"--verify " + pkg + " --pubkey " + ShellQuote(m_dir / "k.pub"),
       m_dir / "pkg.minisig" + notRegular},
      {"--sign " + ShellQuote(fifo) + " --package " + pkg, fifo + notRegular},
      {"--generate-key " + ShellQuote(m_dir / "g") + " --password-file " + ShellQuote(fifo),
       fifo + notRegular},
      {"--info " + ShellQuote(fifo), fifo + notRegular},
      {ShellQuote(fifo) + " " + ShellQuote(m_dir / "other"), fifo + notRegular},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.args);
    EXPECT_EQ(1, Program(each.args, &err));
    EXPECT_EQ("mkpackage: " + each.message, err);
  }
  // --info reads the record, then finds the FIFO where the signature lies.
  std::string out;
  EXPECT_EQ(
      1, RunShell("timeout 20 " + ShellQuote(m_dir / "bin/mkpackage") + " --info " + pkg + " 2>&1",
                  &out));
  EXPECT_NE(std::string::npos,
            out.find("Signature:     " + m_dir / "pkg.minisig" + ", unreadable\n"))
      << out;
}

// tzst keeps zstd's own window unless --long asks for the long one, which
// only a tzst package from a directory can have.
TEST_F(MkPackageProgramTest, LongWindowOnlyWhenAskedFor) {
  WriteFile(m_dir / "bin/launcher", ReadFile(STUB_LAUNCHER), 0755);
  const std::string built = MKPACKAGE;
  WriteFile(m_dir / "bin/strata-unzstd",
            ReadFile(built.substr(0, built.rfind('/')) + "/strata-unzstd"), 0755);
  WriteFile(m_dir / "tree/data", Noise(1 << 20, 3));
  std::string err;
  for (bool longWindow : {false, true}) {
    const std::string pkg = m_dir / (longWindow ? "long.bin" : "own.bin");
    ASSERT_EQ(0, Program(std::string("--type tzst ") + (longWindow ? "--long " : "") +
                             ShellQuote(m_dir / "tree") + " " + ShellQuote(pkg),
                         &err))
        << err;
    // The window is in the frame header of the archive, the package's last
    // piece; zstd reads it from the tail, which tar's own padding fills.
    std::string info;
    ASSERT_EQ(0, RunShell("tail -c $(" + ShellQuote(m_dir / "bin/mkpackage") + " --info " +
                              ShellQuote(pkg) + " | sed -n 's/^Archive: *\\([0-9]*\\).*/\\1/p') " +
                              ShellQuote(pkg) + " > " + ShellQuote(pkg + ".zst") + " && zstd -lv " +
                              ShellQuote(pkg + ".zst") + " 2>&1",
                          &info));
    EXPECT_NE(std::string::npos,
              info.find(longWindow ? "Window Size: 128 MiB (134217728 B)" : "(8388608 B)"))
        << info;
  }
  EXPECT_EQ(2,
            Program("--long " + ShellQuote(m_dir / "tree") + " " + ShellQuote(m_dir / "x"), &err));
  EXPECT_EQ(std::string("mkpackage: --long goes only with --type tzst\n") + kTryHelp, err);
}
