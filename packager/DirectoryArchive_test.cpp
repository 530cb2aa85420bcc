#include "packager/DirectoryArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/ScopedFd.h"
#include "tests/Subprocess.h"

namespace {

typedef std::vector<std::string> Names;

const Names kGzip = {"gzip", "-9", "-n", "-c"};

// The archive of dir, compressed with command, as bytes.
std::string Archive(const std::string& dir, const Names& command, std::string* error) {
  TempDir out;
  DirectoryArchive archive;
  if (!archive.Scan(dir, error))
    return "";
  ScopedFd fd(open((out / "archive").c_str(), O_RDWR | O_CREAT, 0644));
  if (!archive.Write(command, fd.Get(), error))
    return "";
  return ReadFile(out / "archive");
}

// "tar -tv" of archive bytes: mode, owner, size, time and name of each member.
std::string Verbose(const std::string& bytes) {
  TempDir dir;
  WriteFile(dir / "a", bytes);
  std::string listing;
  EXPECT_EQ(0, RunShell("TZ=UTC tar --numeric-owner -tvzf " + ShellQuote(dir / "a"), &listing));
  return listing;
}

}  // namespace

TEST(DirectoryArchive, MembersAreDotPathsSortedByByteValue) {
  TempDir dir;
  ASSERT_EQ(0, mkdir((dir / "a").c_str(), 0755));
  WriteFile(dir / "a/x", "x");
  WriteFile(dir / "a/.hidden", "h");
  WriteFile(dir / "a-c", "c");
  WriteFile(dir / "b", "b");
  WriteFile(dir / "B", "B");
  ASSERT_EQ(0, symlink("a/x", (dir / "link").c_str()));
  DirectoryArchive archive;
  std::string error;
  ASSERT_TRUE(archive.Scan(dir.path(), &error)) << error;
  // No "./" member for the top directory; "-" sorts before "/".
  EXPECT_EQ((Names{"./B", "./a", "./a-c", "./a/.hidden", "./a/x", "./b", "./link"}),
            archive.Members());
}

TEST(DirectoryArchive, ScanRefusesWhatCannotBePacked) {
  TempDir dir;
  DirectoryArchive archive;
  std::string error;
  EXPECT_FALSE(archive.Scan(dir / "missing", &error));
  EXPECT_EQ(dir / "missing: No such file or directory", error);

  ASSERT_EQ(0, mkdir((dir / "empty").c_str(), 0755));
  EXPECT_FALSE(archive.Scan(dir / "empty", &error));
  EXPECT_EQ(dir / "empty: the directory is empty", error);

  ASSERT_EQ(0, mkdir((dir / "fifo").c_str(), 0755));
  ASSERT_EQ(0, mkdir((dir / "fifo/sub").c_str(), 0755));
  ASSERT_EQ(0, mkfifo((dir / "fifo/sub/pipe").c_str(), 0644));
  EXPECT_FALSE(archive.Scan(dir / "fifo", &error));
  EXPECT_EQ(dir / "fifo/sub/pipe: not a regular file, directory or symbolic link", error);
}

TEST(DirectoryArchive, ScanRefusesAnUnreadableFile) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads every file";
  TempDir dir;
  WriteFile(dir / "secret", "s", 0200);
  DirectoryArchive archive;
  std::string error;
  EXPECT_FALSE(archive.Scan(dir.path(), &error));
  EXPECT_EQ(dir / "secret: Permission denied", error);
}

TEST(DirectoryArchive, KeepsModesAndLinksAndFixesOwnerAndTime) {
  TempDir dir;
  ASSERT_EQ(0, mkdir((dir / "Bin").c_str(), 0750));
  WriteFile(dir / "Bin/setup", "#!/bin/sh\n", 0755);
  WriteFile(dir / "private", "p", 0600);
  ASSERT_EQ(0, symlink("Bin/setup", (dir / "start").c_str()));
  // Hard links are stored as plain files, so a copy of the tree packs alike.
  ASSERT_EQ(0, link((dir / "private").c_str(), (dir / "same").c_str()));
  std::string error;
  std::string bytes = Archive(dir.path(), kGzip, &error);
  ASSERT_NE("", bytes) << error;
  EXPECT_EQ(
      "drwxr-x--- 0/0               0 2000-01-01 00:00 ./Bin/\n"
      "-rwxr-xr-x 0/0              10 2000-01-01 00:00 ./Bin/setup\n"
      "-rw------- 0/0               1 2000-01-01 00:00 ./private\n"
      "-rw------- 0/0               1 2000-01-01 00:00 ./same\n"
      "lrwxrwxrwx 0/0               0 2000-01-01 00:00 ./start -> Bin/setup\n"
      "-rw-r--r-- 0/0             225 2000-01-01 00:00 ./.digests-by-installation-package\n",
      Verbose(bytes));
}

TEST(DirectoryArchive, SameTreeGivesSameBytesWhateverTheTimesAndOwners) {
  TempDir dir;
  ASSERT_EQ(0, mkdir((dir / "d").c_str(), 0755));
  WriteFile(dir / "d/file", "content");
  WriteFile(dir / "top", "top");
  // A long name takes an extra header in the archive; it must not vary.
  std::string longName(150, 'n');
  WriteFile(dir / ("d/" + longName), "long");
  std::string error;
  std::string first = Archive(dir.path(), kGzip, &error);
  ASSERT_NE("", first) << error;

  ASSERT_EQ(0, RunShell("touch -d '2011-05-06 07:08:09' " + ShellQuote(dir / "d/file") + " " +
                        ShellQuote(dir / "d")));
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown((dir / "top").c_str(), 1234, 5678));
  }
  EXPECT_EQ(first, Archive(dir.path(), kGzip, &error)) << error;

  // The same names and contents made afresh, in another order.
  TempDir copy;
  WriteFile(copy / "top", "top");
  ASSERT_EQ(0, mkdir((copy / "d").c_str(), 0755));
  WriteFile(copy / ("d/" + longName), "long");
  WriteFile(copy / "d/file", "content");
  EXPECT_EQ(first, Archive(copy.path(), kGzip, &error)) << error;

  // And bzip2, the default type, is just as steady.
  EXPECT_EQ(Archive(dir.path(), {"bzip2", "-9", "-c"}, &error),
            Archive(copy.path(), {"bzip2", "-9", "-c"}, &error));
}

TEST(DirectoryArchive, OddNamesArriveIntact) {
  TempDir dir;
  // Names that tar could take for an option, a quoted name or two lines.
  const Names names = {"-rf", "--files-from=x", "back\\slash", "new\nline", "sp ace", "\\n"};
  for (const std::string& name : names)
    WriteFile(dir / name, name);
  std::string error;
  std::string bytes = Archive(dir.path(), kGzip, &error);
  ASSERT_NE("", bytes) << error;
  TempDir out;
  WriteFile(out / "a.tgz", bytes);
  ASSERT_EQ(0, mkdir((out / "x").c_str(), 0755));
  ASSERT_EQ(0, RunShell("tar -xzf " + ShellQuote(out / "a.tgz") + " -C " + ShellQuote(out / "x")));
  Names sorted = names;
  sorted.push_back(kProductDigestsName);
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, ListDirectory(out / "x"));
  for (const std::string& name : names)
    EXPECT_EQ(name, ReadFile(out / ("x/" + name)));
  // The list names each file as it arrived, with its digest as sha256sum
  // finds it.
  std::vector<ProductDigest> digests;
  ASSERT_TRUE(ParseProductDigests(ReadFile(out / (std::string("x/") + kProductDigestsName)),
                                  &digests, &error))
      << error;
  ASSERT_EQ(names.size(), digests.size());
  for (const ProductDigest& digest : digests) {
    std::string sum;
    RunShell("sha256sum < " + ShellQuote(out / ("x/" + digest.path)), &sum);
    EXPECT_EQ(sum.substr(0, 64), digest.sha256) << digest.path;
    EXPECT_EQ(digest.path.size(), digest.size) << digest.path;
  }
}

TEST(DirectoryArchive, ScanRefusesAProductFileNamedAsTheDigests) {
  TempDir dir;
  ASSERT_EQ(0, mkdir((dir / "sub").c_str(), 0755));
  // Below the top the name is the product's own.
  WriteFile(dir / (std::string("sub/") + kProductDigestsName), "deeper");
  DirectoryArchive archive;
  std::string error;
  ASSERT_TRUE(archive.Scan(dir.path(), &error)) << error;
  WriteFile(dir / kProductDigestsName, "forged");
  EXPECT_FALSE(archive.Scan(dir.path(), &error));
  EXPECT_EQ(
      dir / kProductDigestsName + ": the name is the package's own, for the digests of the product",
      error);
}

TEST(DirectoryArchive, LinksAreNotFollowedExceptTheTopDirectory) {
  TempDir outside, dir;
  WriteFile(outside / "payload", "from outside");
  ASSERT_EQ(0, mkdir((dir / "tree").c_str(), 0755));
  ASSERT_EQ(0, symlink(outside.path().c_str(), (dir / "tree/out").c_str()));
  ASSERT_EQ(0, symlink("tree", (dir / "top").c_str()));
  DirectoryArchive archive;
  std::string error;
  ASSERT_TRUE(archive.Scan(dir / "top", &error)) << error;
  EXPECT_EQ((Names{"./out"}), archive.Members());
  std::string bytes = Archive(dir / "top", kGzip, &error);
  EXPECT_EQ("lrwxrwxrwx 0/0               0 2000-01-01 00:00 ./out -> " + outside.path() +
                "\n"
                "-rw-r--r-- 0/0               0 2000-01-01 00:00 "
                "./.digests-by-installation-package\n",
            Verbose(bytes));
}

TEST(DirectoryArchive, AFileGoneBeforeWritingFailsWithTarsMessage) {
  TempDir dir, out;
  WriteFile(dir / "stays", "s");
  WriteFile(dir / "goes", "g");
  DirectoryArchive archive;
  std::string error;
  ASSERT_TRUE(archive.Scan(dir.path(), &error)) << error;
  ASSERT_EQ(0, unlink((dir / "goes").c_str()));
  ScopedFd fd(open((out / "archive").c_str(), O_RDWR | O_CREAT, 0644));
  EXPECT_FALSE(archive.Write(kGzip, fd.Get(), &error));
  EXPECT_EQ(
      "tar exited with status 2\n"
      "tar: ./goes: Cannot stat: No such file or directory\n"
      "tar: Exiting with failure status due to previous errors",
      error);
}
