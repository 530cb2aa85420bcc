#include "packager/PackageBuilder.h"
#include "packager/ArchiveType.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "package/Checksum.h"
#include "tests/PackageRecordFile.h"
#include "tests/Subprocess.h"

namespace {

typedef std::vector<std::string> Names;

// A stand-in decompressor and a prepared bz2 archive: the builder copies
// their bytes and does not care what they are.
const std::string kDecompressor =
    "\x7f"
    "ELF pretend decompressor";
const std::string kArchive = "BZh91AY&SY pretend archive bytes";

class PackageBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(m_dir / "dec", kDecompressor, 0755);
    WriteFile(m_dir / "archive.bz2", kArchive);
    ASSERT_EQ(0, mkdir((m_dir / "tree").c_str(), 0755));
    ASSERT_EQ(0, mkdir((m_dir / "tree/Bin").c_str(), 0755));
    WriteFile(m_dir / "tree/Bin/setup", "#!/bin/sh\necho second stage\n", 0755);
    WriteFile(m_dir / "tree/README", "read me\n");
    ASSERT_EQ(0, mkdir((m_dir / "out").c_str(), 0755));
  }

  BuildOptions Options(const std::string& archive, const std::string& output) {
    BuildOptions options;
    options.archive = archive;
    options.output = output;
    options.launcher = STUB_LAUNCHER;
    return options;
  }

  // Builds; on failure *error holds the message.
  bool Build(const BuildOptions& options, std::string* error, Names* warnings = nullptr) {
    PackageBuilder builder(options);
    bool ok = builder.Build(error);
    if (warnings)
      *warnings = builder.Warnings();
    return ok;
  }

  // The digest of files laid end to end, by a program of the system.
  std::string DigestOf(const std::string& program, const Names& files) {
    std::string command = "cat";
    for (const std::string& file : files)
      command += " " + ShellQuote(file);
    std::string output;
    EXPECT_EQ(0, RunShell(command + " | " + program, &output));
    return output.substr(0, output.find(' '));
  }

  TempDir m_dir;
};

}  // namespace

TEST_F(PackageBuilderTest, LaysOutLauncherThenDecompressorThenArchive) {
  std::string launcherBefore = ReadFile(STUB_LAUNCHER);
  BuildOptions options = Options(m_dir / "archive.bz2", m_dir / "out/pkg");
  options.decompressorChoice = BuildOptions::kGivenDecompressor;
  options.decompressor = m_dir / "dec";
  std::string error;
  ASSERT_TRUE(Build(options, &error)) << error;

  std::string package = ReadFile(m_dir / "out/pkg");
  size_t launcherLength = launcherBefore.size();
  ASSERT_EQ(launcherLength + kDecompressor.size() + kArchive.size(), package.size());
  EXPECT_EQ(kDecompressor, package.substr(launcherLength, kDecompressor.size()));
  EXPECT_EQ(kArchive, package.substr(launcherLength + kDecompressor.size()));

  PackageRecord record;
  size_t offset;
  ASSERT_TRUE(RecordOf(package.substr(0, launcherLength), &record, &offset));
  EXPECT_EQ(static_cast<int32_t>(kArchive.size()), record.archiveLength);
  EXPECT_EQ(static_cast<int32_t>(kDecompressor.size()), record.extractorLength);
  EXPECT_EQ(0, memcmp(record.archiveType, "bz2\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
  // XXH3-128 unless told otherwise.
  EXPECT_EQ(kChecksumXxh3_128, record.checksumKind);
  EXPECT_EQ(DigestOf("xxhsum -H2", {m_dir / "dec", m_dir / "archive.bz2"}),
            Checksum::ToHex(record.checksum, 16));

  // Outside the record, the launcher is copied byte for byte, and the input
  // launcher is left as it was.
  std::string launcherCopy = package.substr(0, launcherLength);
  launcherCopy.replace(offset, sizeof record, launcherBefore.substr(offset, sizeof record));
  EXPECT_EQ(launcherBefore, launcherCopy);
  EXPECT_EQ(launcherBefore, ReadFile(STUB_LAUNCHER));

  // The program itself sees the patched values.
  std::string output;
  EXPECT_EQ(0, RunShell(ShellQuote(m_dir / "out/pkg"), &output));
  EXPECT_EQ(
      std::to_string(kArchive.size()) + " " + std::to_string(kDecompressor.size()) + " bz2 2\n",
      output);
}

TEST_F(PackageBuilderTest, RecordsTheChosenChecksumKind) {
  BuildOptions options = Options(m_dir / "archive.bz2", m_dir / "out/pkg");
  options.decompressorChoice = BuildOptions::kGivenDecompressor;
  options.decompressor = m_dir / "dec";
  std::string error;
  PackageRecord record;

  options.checksumKind = kChecksumSha256;
  ASSERT_TRUE(Build(options, &error)) << error;
  ASSERT_TRUE(RecordOf(ReadFile(m_dir / "out/pkg"), &record));
  EXPECT_EQ(kChecksumSha256, record.checksumKind);
  EXPECT_EQ(DigestOf("sha256sum", {m_dir / "dec", m_dir / "archive.bz2"}),
            Checksum::ToHex(record.checksum, 32));

  options.checksumKind = kChecksumXxh3_128;
  ASSERT_TRUE(Build(options, &error)) << error;
  ASSERT_TRUE(RecordOf(ReadFile(m_dir / "out/pkg"), &record));
  EXPECT_EQ(kChecksumXxh3_128, record.checksumKind);
  EXPECT_EQ(DigestOf("xxhsum -H2", {m_dir / "dec", m_dir / "archive.bz2"}),
            Checksum::ToHex(record.checksum, 16));
  EXPECT_EQ(std::string(16, '\0'), std::string(reinterpret_cast<char*>(record.checksum) + 16, 16));

  options.checksumKind = kChecksumNone;
  ASSERT_TRUE(Build(options, &error)) << error;
  ASSERT_TRUE(RecordOf(ReadFile(m_dir / "out/pkg"), &record));
  EXPECT_EQ(kChecksumNone, record.checksumKind);
  EXPECT_EQ(std::string(32, '\0'), std::string(reinterpret_cast<char*>(record.checksum), 32));
}

TEST_F(PackageBuilderTest, PacksADirectoryWithTheStaticBunzip2BesideIt) {
  std::string error;
  Names warnings;
  ASSERT_TRUE(Build(Options(m_dir / "tree", m_dir / "out/pkg"), &error, &warnings)) << error;
  EXPECT_TRUE(warnings.empty());
  std::string package = ReadFile(m_dir / "out/pkg");
  PackageRecord record;
  ASSERT_TRUE(RecordOf(package, &record));
  std::string looked;
  std::string bzip2 = ReadFile(PackageBuilder::CarriedProgramPath("strata-bunzip2", &looked));
  size_t launcherLength = ReadFile(STUB_LAUNCHER).size();
  ASSERT_EQ(static_cast<int32_t>(bzip2.size()), record.extractorLength);
  EXPECT_EQ(bzip2, package.substr(launcherLength, bzip2.size()));
  EXPECT_EQ(package.size(), launcherLength + bzip2.size() + record.archiveLength);

  WriteFile(m_dir / "piece", package.substr(launcherLength + bzip2.size()));
  std::string listing;
  ASSERT_EQ(0, RunShell("bzip2 -dc " + ShellQuote(m_dir / "piece") + " | tar -tf -", &listing));
  EXPECT_EQ("./Bin/\n./Bin/setup\n./README\n./.digests-by-installation-package\n", listing);
}

TEST_F(PackageBuilderTest, BuildsFromADirectoryRepeatByteForByte) {
  std::string error;
  ASSERT_TRUE(Build(Options(m_dir / "tree", m_dir / "out/one"), &error)) << error;
  ASSERT_EQ(0, RunShell("touch -d '2001-02-03 04:05:06' " + ShellQuote(m_dir / "tree/README") +
                        " " + ShellQuote(m_dir / "tree/Bin")));
  ASSERT_TRUE(Build(Options(m_dir / "tree", m_dir / "out/two"), &error)) << error;
  EXPECT_EQ(ReadFile(m_dir / "out/one"), ReadFile(m_dir / "out/two"));
}

TEST_F(PackageBuilderTest, AcceptsLbzip2ByPathOrByName) {
  std::string lbzip2 = ReadFile("/usr/bin/lbzip2");
  for (const char* program : {"/usr/bin/lbzip2", "lbzip2"}) {
    BuildOptions options = Options(m_dir / "tree", m_dir / "out/pkg");
    options.decompressorChoice = BuildOptions::kGivenDecompressor;
    options.decompressor = program;
    std::string error;
    ASSERT_TRUE(Build(options, &error)) << program << ": " << error;
    PackageRecord record;
    std::string package = ReadFile(m_dir / "out/pkg");
    ASSERT_TRUE(RecordOf(package, &record));
    EXPECT_EQ(static_cast<int32_t>(lbzip2.size()), record.extractorLength);
    EXPECT_EQ(lbzip2, package.substr(ReadFile(STUB_LAUNCHER).size(), lbzip2.size()));
  }
}

TEST_F(PackageBuilderTest, TgzNeedsNoDecompressorAndWarnsAboutAnUnusedOne) {
  BuildOptions options = Options(m_dir / "tree", m_dir / "out/pkg");
  options.type = "tgz";
  std::string error;
  Names warnings;
  ASSERT_TRUE(Build(options, &error, &warnings)) << error;
  EXPECT_TRUE(warnings.empty());
  PackageRecord record;
  std::string package = ReadFile(m_dir / "out/pkg");
  ASSERT_TRUE(RecordOf(package, &record));
  EXPECT_EQ(0, record.extractorLength);
  EXPECT_STREQ("tgz", record.archiveType);
  size_t launcherLength = ReadFile(STUB_LAUNCHER).size();
  EXPECT_EQ(package.size(), launcherLength + record.archiveLength);
  EXPECT_EQ("\x1f\x8b", package.substr(launcherLength, 2));

  options.decompressorChoice = BuildOptions::kGivenDecompressor;
  options.decompressor = m_dir / "dec";
  ASSERT_TRUE(Build(options, &error, &warnings)) << error;
  EXPECT_EQ(
      (Names{"type tgz does not use a decompressor; " + m_dir / "dec" + " is carried but unused"}),
      warnings);
  ASSERT_TRUE(RecordOf(ReadFile(m_dir / "out/pkg"), &record));
  EXPECT_EQ(static_cast<int32_t>(kDecompressor.size()), record.extractorLength);
}

TEST_F(PackageBuilderTest, WarnsAboutInputsThatLookWrong) {
  WriteFile(m_dir / "archive.tgz", "BZh9 a bzip2 stream given as tgz");
  BuildOptions options = Options(m_dir / "archive.tgz", m_dir / "out/pkg");
  options.type = "tgz";
  std::string error;
  Names warnings;
  ASSERT_TRUE(Build(options, &error, &warnings)) << error;
  ASSERT_EQ(2u, warnings.size());
  EXPECT_EQ(m_dir / "archive.tgz" + " does not look like a tgz archive", warnings[0]);
  // The reason is the archive library's.
  EXPECT_EQ(0u, warnings[1].find("cannot read " + m_dir / "archive.tgz" + " through ("));

  WriteFile(m_dir / "data", "not a program", 0644);
  options = Options(m_dir / "archive.bz2", m_dir / "out/pkg");
  options.decompressorChoice = BuildOptions::kGivenDecompressor;
  options.decompressor = m_dir / "data";
  ASSERT_TRUE(Build(options, &error, &warnings)) << error;
  ASSERT_EQ(2u, warnings.size());
  EXPECT_EQ(m_dir / "data" + " is not executable; is it a decompressor program?", warnings[0]);

  // A program that needs the builder's libraries may not find them on the
  // target; one that needs nothing is taken in silence.
  options.decompressor = "/bin/bzip2";
  ASSERT_TRUE(Build(options, &error, &warnings)) << error;
  ASSERT_EQ(2u, warnings.size());
  EXPECT_EQ(0u, warnings[0].find("/bin/bzip2 is dynamically linked: the package unpacks only where "
                                 "libbz2.so.1.0"))
      << warnings[0];
  EXPECT_NE(std::string::npos, warnings[0].find(" and the loader /lib"));
  options.decompressor = PackageBuilder::CarriedProgramPath("strata-unzstd", &error);
  ASSERT_TRUE(Build(options, &error, &warnings)) << error;
  EXPECT_EQ(1u, warnings.size());

  // A directory without a second stage is refused, unless that is meant.
  ASSERT_EQ(0, unlink((m_dir / "tree/Bin/setup").c_str()));
  BuildOptions bare = Options(m_dir / "tree", m_dir / "out/pkg");
  EXPECT_FALSE(Build(bare, &error, &warnings));
  EXPECT_EQ(m_dir / "tree" +
                " has no Bin/setup (nor Bin/setup.sh, .pl or .py): its package would unpack it "
                "and install nothing; give --no-second-stage if an archive without installer "
                "is meant",
            error);
  bare.noSecondStage = true;
  ASSERT_TRUE(Build(bare, &error, &warnings)) << error;
  EXPECT_TRUE(warnings.empty());
  WriteFile(m_dir / "tree/Bin/setup.py", "print('second stage')\n");
  ASSERT_TRUE(Build(Options(m_dir / "tree", m_dir / "out/pkg"), &error, &warnings)) << error;
  EXPECT_TRUE(warnings.empty());
  EXPECT_FALSE(Build(bare, &error, &warnings));
  EXPECT_EQ(m_dir / "tree" + " has a second stage, so --no-second-stage does not fit it", error);
}

TEST_F(PackageBuilderTest, RefusesBadInputsLeavingNothingBehind) {
  WriteFile(m_dir / "empty.bz2", "");
  WriteFile(m_dir / "empty-dec", "", 0755);
  WriteFile(m_dir / "plain", "no record in here");
  ASSERT_EQ(0, mkdir((m_dir / "emptydir").c_str(), 0755));
  std::string stub = ReadFile(STUB_LAUNCHER);
  WriteFile(m_dir / "twice", stub + stub, 0755);
  std::string error;
  {
    BuildOptions earlier = Options(m_dir / "archive.bz2", m_dir / "earlier.pkg");
    earlier.decompressorChoice = BuildOptions::kGivenDecompressor;
    earlier.decompressor = m_dir / "dec";
    ASSERT_TRUE(Build(earlier, &error)) << error;
  }

  struct Case {
    std::string what;
    BuildOptions options;
    std::string message;
  };
  std::string out = m_dir / "out/pkg";
  std::vector<Case> cases;
  auto add = [&](const std::string& what, const std::string& message) -> BuildOptions& {
    cases.push_back({what, Options(m_dir / "archive.bz2", out), message});
    return cases.back().options;
  };
  add("missing archive", m_dir / "missing: No such file or directory").archive = m_dir / "missing";
  add("empty archive", m_dir / "empty.bz2: the archive is empty").archive = m_dir / "empty.bz2";
  add("empty directory", m_dir / "emptydir: the directory is empty").archive = m_dir / "emptydir";
  add("unknown type", "unknown archive type 'lzma' (the types are bz2, tgz, tz, rzt, zip or tzst)")
      .type = "lzma";
  add("bz2 without decompressor",
      "type bz2 needs a decompressor; --no-decompressor suits only tgz and tz")
      .decompressorChoice = BuildOptions::kNoDecompressor;
  add("rzt with no decompressor named",
      "type rzt needs a decompressor; give --decompressor PROGRAM")
      .type = "rzt";
  {
    BuildOptions& options =
        add("zip from a directory", m_dir /
                                        "tree: cannot make a zip archive from a directory (only "
                                        "bz2, tgz and tzst); give a prepared archive file");
    options.type = "zip";
    options.archive = m_dir / "tree";
    options.decompressorChoice = BuildOptions::kGivenDecompressor;
    options.decompressor = m_dir / "dec";
  }
  add("missing launcher", m_dir / "nolauncher: No such file or directory").launcher =
      m_dir / "nolauncher";
  add("not a launcher", m_dir / "plain: not a launcher (it holds no package record)").launcher =
      m_dir / "plain";
  add("two records", m_dir / "twice: ambiguous launcher (it holds more than one package record)")
      .launcher = m_dir / "twice";
  add("a package as the launcher",
      m_dir / "earlier.pkg: a package, not a launcher (its record describes " +
          std::to_string(kDecompressor.size()) + " bytes of decompressor and " +
          std::to_string(kArchive.size()) + " bytes of archive after it)")
      .launcher = m_dir / "earlier.pkg";
  // The launcher piece of a package whose archive is larger than the piece:
  // its record describes nothing after it, but no longer holds the values
  // the launcher was built with.
  {
    WriteFile(m_dir / "large.bz2", "BZh" + std::string(stub.size(), 'x'));
    BuildOptions large = Options(m_dir / "large.bz2", m_dir / "large.pkg");
    large.decompressorChoice = BuildOptions::kGivenDecompressor;
    large.decompressor = m_dir / "dec";
    ASSERT_TRUE(Build(large, &error)) << error;
    WriteFile(m_dir / "piece", ReadFile(m_dir / "large.pkg").substr(0, stub.size()), 0755);
  }
  add("the launcher piece of a package",
      m_dir / "piece: not a launcher as built (an earlier build has filled in its package record)")
      .launcher = m_dir / "piece";
  {
    BuildOptions& options =
        add("decompressor not on PATH", "cannot find the program no-such-decompressor on PATH");
    options.decompressorChoice = BuildOptions::kGivenDecompressor;
    options.decompressor = "no-such-decompressor";
  }
  {
    BuildOptions& options =
        add("empty decompressor", m_dir / "empty-dec: the decompressor is empty");
    options.decompressorChoice = BuildOptions::kGivenDecompressor;
    options.decompressor = m_dir / "empty-dec";
  }
  add("output directory missing",
      "cannot create a file in " + m_dir / "nodir" + ": No such file or directory")
      .output = m_dir / "nodir/pkg";
  add("output below a file", "cannot create a file in " + m_dir / "plain" + ": Not a directory")
      .output = m_dir / "plain/pkg";
  add("output is a directory", m_dir / "out: is a directory").output = m_dir / "out";
  add("output named as a directory", m_dir / "out/new/: not a file name (it ends in /)").output =
      m_dir / "out/new/";
  add("output name empty", "the output file name is empty").output = "";
  add("output is the archive", m_dir / "archive.bz2: the output would replace one of the inputs")
      .output = m_dir / "archive.bz2";
  {
    BuildOptions& options =
        add("output inside the tree",
            m_dir / "tree/Bin/pkg: the output would lie inside the directory being packed");
    options.archive = m_dir / "tree";
    options.output = m_dir / "tree/Bin/pkg";
  }
  // Sparse files: the lengths must fit the record's signed 32-bit fields.
  WriteFile(m_dir / "huge.bz2", "BZh");
  ASSERT_EQ(0, truncate((m_dir / "huge.bz2").c_str(), 2147483648));
  add("archive too large", m_dir /
                               "huge.bz2: the archive is too large (2147483648 bytes; a "
                               "package piece holds at most 2147483647)")
      .archive = m_dir / "huge.bz2";
  {
    BuildOptions& options =
        add("decompressor too large", m_dir /
                                          "huge.bz2: the decompressor is too large (2147483648 "
                                          "bytes; a package piece holds at most 2147483647)");
    options.decompressorChoice = BuildOptions::kGivenDecompressor;
    options.decompressor = m_dir / "huge.bz2";
  }

  for (const Case& c : cases) {
    EXPECT_FALSE(Build(c.options, &error)) << c.what;
    EXPECT_EQ(c.message, error) << c.what;
    EXPECT_EQ(Names{}, ListDirectory(m_dir / "out")) << c.what;
  }
  EXPECT_EQ(kArchive, ReadFile(m_dir / "archive.bz2"));
}

TEST_F(PackageBuilderTest, OutputIsCheckedBeforeAnythingIsPacked) {
  // A bzip2 that leaves a mark when it runs.
  ASSERT_EQ(0, mkdir((m_dir / "fakebin").c_str(), 0755));
  WriteFile(m_dir / "fakebin/bzip2",
            "#!/bin/sh\ntouch " + ShellQuote(m_dir / "ran") + "\nexec cat\n", 0755);
  WriteFile(m_dir / "plain", "a file");
  const std::pair<std::string, std::string> cases[] = {
      {"", "the output file name is empty"},
      {m_dir / "out", m_dir / "out: is a directory"},
      {m_dir / "nodir/pkg",
       "cannot create a file in " + m_dir / "nodir" + ": No such file or directory"},
      {m_dir / "plain/pkg", "cannot create a file in " + m_dir / "plain" + ": Not a directory"},
  };
  std::string savedPath = getenv("PATH");
  setenv("PATH", (m_dir / "fakebin:" + savedPath).c_str(), 1);
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Build(Options(m_dir / "tree", c.first), &error)) << c.first;
    EXPECT_EQ(c.second, error);
    EXPECT_FALSE(Exists(m_dir / "ran")) << c.first;
  }
  // The stand-in does run when the output is fine.
  std::string error;
  EXPECT_TRUE(Build(Options(m_dir / "tree", m_dir / "out/pkg"), &error)) << error;
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_TRUE(Exists(m_dir / "ran"));
  EXPECT_EQ(Names{"pkg"}, ListDirectory(m_dir / "out"));
}

TEST_F(PackageBuilderTest, AFailedCompressorLeavesAnExistingOutputAlone) {
  // A bzip2 that fails once the output is being written.
  ASSERT_EQ(0, mkdir((m_dir / "fakebin").c_str(), 0755));
  WriteFile(m_dir / "fakebin/bzip2", "#!/bin/sh\necho 'bzip2: simulated failure' >&2\nexit 1\n",
            0755);
  WriteFile(m_dir / "out/pkg", "the previous package", 0644);
  std::string savedPath = getenv("PATH");
  setenv("PATH", (m_dir / "fakebin:" + savedPath).c_str(), 1);
  std::string error;
  bool ok = Build(Options(m_dir / "tree", m_dir / "out/pkg"), &error);
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_FALSE(ok);
  EXPECT_EQ(
      "cannot pack " + m_dir / "tree" + ": bzip2 exited with status 1\nbzip2: simulated failure",
      error);
  EXPECT_EQ(Names{"pkg"}, ListDirectory(m_dir / "out"));
  EXPECT_EQ("the previous package", ReadFile(m_dir / "out/pkg"));
  EXPECT_EQ(0644, ModeOf(m_dir / "out/pkg"));
}

TEST_F(PackageBuilderTest, OutputHasMode0755WhateverTheUmask) {
  WriteFile(m_dir / "out/pkg", "the previous package", 0600);
  mode_t saved = umask(077);
  std::string error;
  bool ok = Build(Options(m_dir / "tree", m_dir / "out/pkg"), &error);
  umask(saved);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(0755, ModeOf(m_dir / "out/pkg"));
  EXPECT_EQ(Names{"pkg"}, ListDirectory(m_dir / "out"));
}

TEST_F(PackageBuilderTest, DefaultLauncherSitsBesideTheProgram) {
  // The test program itself lives in the build's bin directory, which has
  // no libexec/strata/ beside it.
  std::string self(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", &self[0], self.size());
  ASSERT_GT(n, 0);
  self.resize(static_cast<size_t>(n));
  const std::string bin = self.substr(0, self.rfind('/'));
  std::string looked;
  EXPECT_EQ(bin + "/launcher", PackageBuilder::CarriedProgramPath("launcher", &looked));
  EXPECT_EQ(bin + "/strata-unzstd", PackageBuilder::CarriedProgramPath("strata-unzstd", &looked));
  EXPECT_EQ("", PackageBuilder::CarriedProgramPath("no-such-program", &looked));
  EXPECT_EQ(bin.substr(0, bin.rfind('/')) + "/libexec/strata/no-such-program or " + bin +
                "/no-such-program",
            looked);
}

TEST(ArchiveTypes, TzstKeepsZstdsOwnWindowUnlessAskedForTheLongOne) {
  const ArchiveType* tzst = FindArchiveType("tzst");
  ASSERT_NE(nullptr, tzst);
  // By default zstd's own window; --long adds the long one.
  EXPECT_EQ((std::vector<std::string>{"zstd", "-19", "-T0", "-q", "-c"}), tzst->compressor);
  EXPECT_EQ((std::vector<std::string>{"zstd", "-19", "--long=27", "-T0", "-q", "-c"}),
            tzst->longWindowCompressor);
  EXPECT_TRUE(FindArchiveType("bz2")->longWindowCompressor.empty());
}
