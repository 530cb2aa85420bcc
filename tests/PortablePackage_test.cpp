// Packages as a release engineer makes them and an administrator meets them:
// built with the decompressors mkpackage carries by default (also from an
// installed prefix), run where the search path holds nothing but a shell and
// tar, and refused before anything is written where there is no room.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "package/ExtractionMark.h"
#include "package/ProductDigests.h"
#include "tests/Subprocess.h"

namespace {

// What a package unpacked into dir: its tree without the package's mark,
// which must be there.
std::map<std::string, std::string> UnpackedTree(const std::string& dir) {
  std::map<std::string, std::string> tree = TreeOf(dir);
  EXPECT_EQ(1u, tree.erase(kExtractionMarkName)) << dir;
  // A package built from a directory carries the digests of its files.
  EXPECT_EQ(1u, tree.erase(kProductDigestsName)) << dir;
  return tree;
}

const char kExtracting[] = "Extracting files for ZephraNetworks installation...";
const char kNotFound[] = "Warning: second stage installer not found!\n";

// A second stage that needs nothing but the shell: it says what it got and
// where, and ends with 3.
const char kSetupScript[] =
    "#!/bin/sh\n"
    "echo \"setup $* in $(pwd)\"\n"
    "exit 3\n";

// "Name:   value" of mkpackage --info, by name.
std::map<std::string, std::string> InfoFields(const std::string& info) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start < info.size()) {
    size_t end = info.find('\n', start);
    std::string line = info.substr(start, end - start);
    size_t colon = line.find(':');
    if (colon != std::string::npos)
      fields[line.substr(0, colon)] = line.substr(line.find_first_not_of(' ', colon + 1));
    start = end == std::string::npos ? info.size() : end + 1;
  }
  return fields;
}

class PortablePackage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, chmod(m_dir.path().c_str(), 0755));
    MakeDirs(m_dir / "run");
    m_run = RealPath(m_dir / "run");
    // The administrator's search path: a shell and tar, nothing else.
    MakeDirs(m_dir / "bare");
    for (const char* tool : {"sh", "tar"}) {
      std::string found;
      ASSERT_EQ(0, RunShell(std::string("command -v ") + tool + " | tr -d '\\n'", &found));
      ASSERT_EQ(0, symlink(found.c_str(), (m_dir / "bare/" + tool).c_str()));
    }
  }

  // A product: the second stage, a licence, data in a subfolder, a link.
  void MakeProduct(const std::string& root, size_t dataBytes = 5000) {
    MakeDirs(root + "/Bin");
    MakeDirs(root + "/Lib/deep");
    WriteFile(root + "/Bin/setup", kSetupScript, 0755);
    WriteFile(root + "/License.txt", std::string(2000, 'L') + "\n", 0644);
    WriteFile(root + "/Lib/deep/data.bin", Noise(dataBytes, 7), 0600);
    ASSERT_EQ(0, symlink("deep/data.bin", (root + "/Lib/data").c_str()));
  }

  // Runs mkpackage (the build's, or program) with args: its status and
  // what it wrote to standard error.
  ProcessResult Mkpackage(const std::vector<std::string>& args,
                          const std::string& program = MKPACKAGE) {
    ProgramRun run;
    run.program = program;
    run.argv = {"mkpackage"};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    return RunProgram(run);
  }

  // Runs the package from dir with the bare search path.
  ProcessResult RunPackage(const std::string& package, const std::string& dir,
                           const std::vector<std::string>& args = {}) {
    ProgramRun run;
    run.program = package;
    run.argv = {package};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = dir;
    run.env = {{"PATH", m_dir / "bare"}};
    return RunProgram(run);
  }

  std::map<std::string, std::string> Info(const std::string& package) {
    ProcessResult info = Mkpackage({"--info", package});
    EXPECT_EQ(0, info.code) << info.err;
    return InfoFields(info.out);
  }

  TempDir m_dir;
  std::string m_run;
};

TEST_F(PortablePackage, TzstAndBz2PackagesInstallWithOnlyAShellAndTar) {
  MakeProduct(m_dir / "product");
  for (const char* type : {"tzst", "bz2"}) {
    SCOPED_TRACE(type);
    const std::string pkg = m_dir / (std::string("pkg.") + type);
    ProcessResult made = Mkpackage({"--type", type, m_dir / "product", pkg});
    ASSERT_EQ(0, made.code) << made.err;
    EXPECT_EQ("", made.err);
    std::map<std::string, std::string> info = Info(pkg);
    EXPECT_EQ(type, info["Type"]);
    EXPECT_EQ("yes", info["Verified"]);
    // Five members and the list of digests of a block each, and the data's
    // two.
    EXPECT_EQ("32768 bytes", info["Unpacked"]);

    ProcessResult run = RunPackage(pkg, m_run, {"-x", "y"});
    EXPECT_EQ(3, run.code) << run.out << run.err;
    EXPECT_EQ(0u, run.out.find(kExtracting)) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("\nsetup -x y in " + m_run + "/qzsetup\n"))
        << run.out;
    EXPECT_EQ(TreeOf(m_dir / "product"), UnpackedTree(m_run + "/qzsetup"));
    EXPECT_EQ(std::vector<std::string>{"qzsetup"}, ListDirectory(m_run));
    ASSERT_EQ(0, RunShell("rm -rf " + ShellQuote(m_run + "/qzsetup")));
  }

  // The system's zstd and tar list what the package holds.
  ProcessResult list = Mkpackage({"--list", m_dir / "pkg.tzst"});
  EXPECT_EQ(0, list.code) << list.err;
  EXPECT_EQ(
      "./Bin/\n./Bin/setup\n./Lib/\n./Lib/data\n./Lib/deep/\n./Lib/deep/data.bin\n./License.txt\n"
      "./.digests-by-installation-package\n",
      list.out);
}

TEST_F(PortablePackage, LauncherAndCarriedDecompressorsAreStaticPrograms) {
  MakeProduct(m_dir / "product");
  for (const char* type : {"tzst", "bz2"}) {
    SCOPED_TRACE(type);
    const std::string pkg = m_dir / (std::string("pkg.") + type);
    ProcessResult made = Mkpackage({"--type", type, m_dir / "product", pkg});
    ASSERT_EQ(0, made.code) << made.err;
    std::map<std::string, std::string> info = Info(pkg);
    const size_t launcher = std::stoul(info["Launcher"]);
    const size_t decompressor = std::stoul(info["Decompressor"]);
    const std::string bytes = ReadFile(pkg);
    ASSERT_GT(bytes.size(), launcher + decompressor);
    WriteFile(m_dir / "launcher.piece", bytes.substr(0, launcher));
    WriteFile(m_dir / "decompressor.piece", bytes.substr(launcher, decompressor));
    EXPECT_LE(decompressor, 400u * 1024);

    std::vector<std::string> pieces = {m_dir / "decompressor.piece"};
    // The sanitizers' runtime is a shared library.
    if (!STRATA_SANITIZED)
      pieces.push_back(m_dir / "launcher.piece");
    for (const std::string& piece : pieces) {
      SCOPED_TRACE(piece);
      std::string headers, dynamic;
      ASSERT_EQ(0, RunShell("readelf -lW " + ShellQuote(piece), &headers));
      EXPECT_NE(std::string::npos, headers.find("LOAD")) << headers;
      EXPECT_EQ(std::string::npos, headers.find("INTERP")) << headers;
      ASSERT_EQ(0, RunShell("readelf -dW " + ShellQuote(piece), &dynamic));
      EXPECT_EQ(std::string::npos, dynamic.find("(NEEDED)")) << dynamic;
    }
  }
}

TEST_F(PortablePackage, FullFileSystemIsRefusedBeforeAnythingIsWritten) {
  // 6 MiB of data that does not compress, to unpack into 4 MiB of room.
  MakeProduct(m_dir / "product", 6 << 20);
  const std::string pkg = m_dir / "pkg.bin";
  ProcessResult made = Mkpackage({m_dir / "product", pkg});
  ASSERT_EQ(0, made.code) << made.err;

  const std::string small = m_dir / "small";
  MakeDirs(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m,mode=0755") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};
  // What an earlier run left, which a refused run must not touch either.
  MakeDirs(small + "/qzsetup/Bin");
  std::string error;
  ASSERT_TRUE(MarkExtractionDirectory(small + "/qzsetup", &error)) << error;
  WriteFile(small + "/qzsetup/Bin/old", "earlier\n");
  WriteFile(small + "/notes.txt", "mine\n");
  const std::map<std::string, std::string> before = TreeOf(small);
  struct statvfs fs;
  ASSERT_EQ(0, statvfs(small.c_str(), &fs));
  const unsigned long long freeMb = fs.f_bavail * fs.f_frsize / (1024 * 1024);

  ProcessResult run = RunPackage(pkg, small);
  EXPECT_EQ(255, run.code);
  const std::string start = std::string(kExtracting) + "\nError: not enough free space in " +
                            small + ": the package needs ";
  ASSERT_EQ(0u, run.out.find(start)) << run.out;
  unsigned long long needMb = 0, shownFreeMb = 0;
  char end[64] = "";
  ASSERT_EQ(3, sscanf(run.out.c_str() + start.size(), "%llu MB, %llu MB are free%63[^@]", &needMb,
                      &shownFreeMb, end))
      << run.out;
  EXPECT_STREQ("\n", end);
  EXPECT_EQ(freeMb, shownFreeMb);
  // The data alone is 6 MiB.
  EXPECT_GE(needMb, 7u);
  EXPECT_EQ(before, TreeOf(small));

  // Silent, the same refusal says nothing.
  run = RunPackage(pkg, small, {"-s"});
  EXPECT_EQ(255, run.code);
  EXPECT_EQ("", run.out);
  EXPECT_EQ(before, TreeOf(small));

  // Given the room, the same package installs there.
  ASSERT_EQ(0, mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, "size=32m"));
  run = RunPackage(pkg, small);
  EXPECT_EQ(3, run.code) << run.out;
  // Compared whole, without printing 6 MiB of data on a failure.
  EXPECT_TRUE(TreeOf(m_dir / "product") == UnpackedTree(small + "/qzsetup"));
}

TEST_F(PortablePackage, MkpackageWorksFromAnInstalledPrefix) {
  const std::string prefix = m_dir / "prefix";
  std::string log;
  ASSERT_EQ(0, RunShell(ShellQuote(CMAKE_COMMAND) + " --install " + ShellQuote(BUILD_DIR) +
                            " --prefix " + ShellQuote(prefix) + " 2>&1",
                        &log))
      << log;
  for (const char* installed : {"bin/mkpackage", "libexec/strata/launcher",
                                "libexec/strata/strata-bunzip2", "libexec/strata/strata-unzstd"})
    EXPECT_EQ(0755, ModeOf(prefix + "/" + installed) & 0777) << installed;

  // Found on the search path by its name, as a release engineer runs it,
  // far from the build tree.
  MakeProduct(m_dir / "product");
  ProgramRun build;
  build.argv = {"mkpackage", "--type", "tzst", m_dir / "product", m_dir / "pkg.bin"};
  build.env = {{"PATH", prefix + "/bin:" + getenv("PATH")}};
  ProcessResult made = RunProgram(build);
  ASSERT_EQ(0, made.code) << made.err;
  EXPECT_EQ("", made.err);
  EXPECT_EQ(ReadFile(prefix + "/libexec/strata/strata-unzstd").size(),
            std::stoul(Info(m_dir / "pkg.bin")["Decompressor"]));
  ProcessResult run = RunPackage(m_dir / "pkg.bin", m_run, {"-s"});
  EXPECT_EQ(3, run.code) << run.out;
  EXPECT_EQ(TreeOf(m_dir / "product"), UnpackedTree(m_run + "/qzsetup"));

  // --launcher still names another one.
  build.argv = {"mkpackage", "--launcher", OLDER_LAYOUT_LAUNCHER, m_dir / "product",
                m_dir / "other.bin"};
  made = RunProgram(build);
  EXPECT_EQ(1, made.code);
  EXPECT_NE(std::string::npos, made.err.find(OLDER_LAYOUT_LAUNCHER)) << made.err;
}

TEST_F(PortablePackage, ProductWithoutSecondStageIsRefusedUnlessThatIsMeant) {
  MakeProduct(m_dir / "product");
  ASSERT_EQ(0, unlink((m_dir / "product/Bin/setup").c_str()));
  ProcessResult refused = Mkpackage({m_dir / "product", m_dir / "pkg.bin"});
  EXPECT_EQ(1, refused.code);
  EXPECT_EQ("mkpackage: " + m_dir / "product" +
                " has no Bin/setup (nor Bin/setup.sh, .pl or .py): its package would unpack it "
                "and install nothing; give --no-second-stage if an archive without installer "
                "is meant\n",
            refused.err);
  EXPECT_FALSE(Exists(m_dir / "pkg.bin"));

  ProcessResult made = Mkpackage({"--no-second-stage", m_dir / "product", m_dir / "pkg.bin"});
  ASSERT_EQ(0, made.code) << made.err;
  EXPECT_EQ("", made.err);
  // The package then only unpacks.
  ProcessResult run = RunPackage(m_dir / "pkg.bin", m_run);
  EXPECT_EQ(0, run.code);
  EXPECT_NE(std::string::npos, run.out.find(kNotFound)) << run.out;
}

// A Bin/setup that is a program must find the password databases its
// installation writes into, in a directory and in a prepared archive alike;
// one that needs the builder's libraries or carries debug information is
// packed with a warning.
TEST_F(PortablePackage, ASetupProgramIsCheckedAgainstWhatItsInstallationNeeds) {
  const std::string product = m_dir / "product";
  MakeProduct(product);
  const std::string bin = std::string(MKPACKAGE).substr(0, std::string(MKPACKAGE).rfind('/'));
  // A static, stripped program stands in for setup.
  ASSERT_EQ(0, RunShell("cp " + ShellQuote(bin + "/strata-unzstd") + " " +
                        ShellQuote(product + "/Bin/setup")));
  MakeDirs(product + "/adm_b_db/users");
  MakeDirs(product + "/enc_b_db");
  ASSERT_EQ(0, RunShell("cd " + ShellQuote(product) + " && tar -cjf ../product.tar.bz2 ."));
  for (const std::string& input : {product, m_dir / "product.tar.bz2"}) {
    ProcessResult refused = Mkpackage({input, m_dir / "pkg.bin"});
    EXPECT_EQ(1, refused.code);
    EXPECT_EQ("mkpackage: " + input +
                  " lacks enc_r_db/, enc_w_db/ and cdi_b_db/, the password databases whose "
                  "users/ folders the installation of Bin/setup writes the accounts into "
                  "(demo/product has all five)\n",
              refused.err);
    EXPECT_FALSE(Exists(m_dir / "pkg.bin"));
  }
  for (const char* database : {"enc_r_db", "enc_w_db", "cdi_b_db"})
    MakeDirs(product + "/" + database);
  ProcessResult made = Mkpackage({product, m_dir / "pkg.bin"});
  EXPECT_EQ(0, made.code);
  EXPECT_EQ("", made.err);

  // This test program is linked dynamically and built with debug information.
  ASSERT_EQ(0, RunShell("cp /proc/" + std::to_string(getpid()) + "/exe " +
                        ShellQuote(product + "/Bin/setup")));
  made = Mkpackage({product, m_dir / "pkg.bin"});
  EXPECT_EQ(0, made.code);
  const std::string warning = "mkpackage: warning: " + product + "/Bin/setup ";
  EXPECT_EQ(0u, made.err.find(warning + "is dynamically linked: the package installs only where "))
      << made.err;
  EXPECT_NE(std::string::npos, made.err.find("libstdc++.so.6")) << made.err;
  EXPECT_NE(std::string::npos, made.err.find("\n" + warning + "carries ")) << made.err;
  EXPECT_NE(std::string::npos, made.err.find(" of debug information, in every package and "
                                             "installation (strip it, or take the setup this "
                                             "project builds)\n"))
      << made.err;
}

TEST_F(PortablePackage, LauncherAndBuilderOfDifferentRecordLayoutsRefuseEachOther) {
  MakeProduct(m_dir / "product");
  const std::string older = ReadFile(OLDER_LAYOUT_LAUNCHER);
  ProcessResult made =
      Mkpackage({"--launcher", OLDER_LAYOUT_LAUNCHER, m_dir / "product", m_dir / "pkg.bin"});
  EXPECT_EQ(1, made.code);
  EXPECT_EQ(std::string("mkpackage: ") + OLDER_LAYOUT_LAUNCHER +
                ": a launcher of an older package record layout; take the launcher that came "
                "with this mkpackage\n",
            made.err);
  EXPECT_FALSE(Exists(m_dir / "pkg.bin"));
  EXPECT_EQ(older, ReadFile(OLDER_LAYOUT_LAUNCHER));
  ProcessResult info = Mkpackage({"--info", OLDER_LAYOUT_LAUNCHER});
  EXPECT_EQ(1, info.code);
  EXPECT_EQ(std::string("mkpackage: ") + OLDER_LAYOUT_LAUNCHER +
                ": its package record has an older layout, which this mkpackage does not read; "
                "inspect it with the mkpackage that built it\n",
            info.err);

  // An older builder looks for the older magic; today's launcher does not
  // hold it anywhere, so such a builder finds no record to write over.
  const std::string launcher = ReadFile(LAUNCHER);
  EXPECT_EQ(std::string::npos, launcher.find(std::string("StrataPkgRecord") + '\0'));
  EXPECT_NE(std::string::npos, launcher.find(std::string("StrataPkgRec/v2") + '\0'));
}

}  // namespace
