// Bin/verify on a fabricated installation: the real setup program copied in
// under the name verify, run as a process.
#include "driver/uninstaller/Verifier.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "driver/record/InstallManifest.h"
#include "tests/Subprocess.h"

TEST(Verify, LinksAndNamesWithControlCharactersAreShownSafely) {
  TempDir tmp;
  const std::string dir = RealPath(tmp.path()) + "/strata";
  MakeDirs(dir + "/Bin");
  ASSERT_EQ(0, system(("cp '" SETUP_PROGRAM "' '" + dir + "/Bin/verify'").c_str()));
  const std::string odd = "Content/a\x1b[2J\nb.txt";
  WriteFile(MakeDirs(dir + "/Content") + "/a\x1b[2J\nb.txt", "media", 0644);
  WriteFile(MakeDirs(dir + "/Lib") + "/libx.so.1", "library", 0644);
  ASSERT_EQ(0, symlink("libx.so.1", (dir + "/Lib/libx.so").c_str()));
  ASSERT_EQ(0, symlink("libx.so.1", (dir + "/Lib/gone.so").c_str()));
  InstallManifest manifest;
  std::string error;
  ASSERT_TRUE(DescribeFiles(dir, {"Bin", "Content", "Lib"}, &manifest.files, &error)) << error;
  ASSERT_TRUE(manifest.Write(dir, &error)) << error;

  ProgramRun run;
  run.program = dir + "/Bin/verify";
  run.argv = {"verify"};
  ProcessResult clean = RunProgram(run);
  EXPECT_EQ(0, clean.code) << clean.out;
  EXPECT_EQ("", clean.out);

  // A link that leads elsewhere, one that is a file now, and a changed
  // file whose name would clear the screen and forge a line.
  ASSERT_EQ(0, unlink((dir + "/Lib/libx.so").c_str()));
  ASSERT_EQ(0, symlink("/etc/passwd", (dir + "/Lib/libx.so").c_str()));
  ASSERT_EQ(0, unlink((dir + "/Lib/gone.so").c_str()));
  WriteFile(dir + "/Lib/gone.so", "library", 0644);
  WriteFile(dir + "/" + odd, "other", 0640);
  ProcessResult changed = RunProgram(run);
  EXPECT_EQ(1, changed.code);
  EXPECT_EQ(
      "changed Content/a?[2J?b.txt\n"
      "mode Content/a?[2J?b.txt 0644 -> 0640\n"
      "link Lib/gone.so\n"
      "link Lib/libx.so\n",
      changed.out);

  // A file it may not read: it cannot tell.
  ASSERT_EQ(0, unlink((dir + "/Lib/libx.so.1").c_str()));
  ASSERT_EQ(0, mkdir((dir + "/Lib/libx.so.1").c_str(), 0755));
  ASSERT_EQ(0, chmod((dir + "/Lib").c_str(), 0));
  ProcessResult unreadable = RunProgram(run);
  ASSERT_EQ(0, chmod((dir + "/Lib").c_str(), 0755));
  if (geteuid() != 0) {
    EXPECT_EQ(255, unreadable.code);
    EXPECT_EQ(0u, unreadable.out.find("Error: ")) << unreadable.out;
  } else {
    // Root reads it all: a directory where a file was is a change.
    EXPECT_EQ(1, unreadable.code);
    EXPECT_NE(std::string::npos, unreadable.out.find("changed Lib/libx.so.1\n")) << unreadable.out;
  }
}

// Many files, so that they are digested on the worker threads: content and
// mode are told apart, and each difference is found wherever it stands.
TEST(Verify, AmongManyFilesContentAndModeAreToldApart) {
  TempDir tmp;
  const std::string dir = RealPath(tmp.path()) + "/strata";
  MakeDirs(dir + "/Bin");
  ASSERT_EQ(0, system(("cp '" SETUP_PROGRAM "' '" + dir + "/Bin/verify'").c_str()));
  MakeDirs(dir + "/Content");
  for (int i = 0; i < 60; ++i) {
    std::string name = (i < 10 ? "f0" : "f") + std::to_string(i);
    WriteFile(dir + "/Content/" + name, "media " + name, 0644);
  }
  InstallManifest manifest;
  std::string error;
  ASSERT_TRUE(DescribeFiles(dir, {"Bin", "Content"}, &manifest.files, &error)) << error;
  ASSERT_TRUE(manifest.Write(dir, &error)) << error;
  ProgramRun run;
  run.program = dir + "/Bin/verify";
  run.argv = {"verify"};
  ProcessResult clean = RunProgram(run);
  EXPECT_EQ(0, clean.code) << clean.out;
  EXPECT_EQ("", clean.out);

  // Same sizes: only the content tells.
  WriteFile(dir + "/Content/f07", "media XXX", 0644);
  ASSERT_EQ(0, chmod((dir + "/Content/f21").c_str(), 0600));
  WriteFile(dir + "/Content/f33", "media YYY", 0644);
  ASSERT_EQ(0, chmod((dir + "/Content/f33").c_str(), 0640));
  ASSERT_EQ(0, unlink((dir + "/Content/f45").c_str()));
  ASSERT_EQ(0, unlink((dir + "/Content/f58").c_str()));
  ASSERT_EQ(0, mkdir((dir + "/Content/f58").c_str(), 0755));
  ProcessResult changed = RunProgram(run);
  EXPECT_EQ(1, changed.code);
  EXPECT_EQ(
      "changed Content/f07\n"
      "mode Content/f21 0644 -> 0600\n"
      "changed Content/f33\n"
      "mode Content/f33 0644 -> 0640\n"
      "missing Content/f45\n"
      "changed Content/f58\n",
      changed.out);
  run.argv = {"verify", "-q"};
  ProcessResult quiet = RunProgram(run);
  EXPECT_EQ(1, quiet.code);
  EXPECT_EQ("", quiet.out);
}
