#include "driver/record/FileDescription.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/record/InstallManifest.h"
#include "tests/TestFiles.h"

namespace {

// What sha256sum says of path: an oracle apart from the code under test.
std::string Sha256Sum(const std::string& path) {
  std::string command = "sha256sum '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  char hex[65] = {0};
  bool read = pipe != nullptr && fread(hex, 1, 64, pipe) == 64;
  if (pipe != nullptr)
    pclose(pipe);
  return read ? std::string(hex) : std::string();
}

// A product of many files in nested directories, enough for the digests to
// run on threads of their own: their paths relative to root, sorted.
std::vector<std::string> MakeProduct(const std::string& root) {
  std::vector<std::string> paths;
  for (int d = 0; d < 6; ++d) {
    std::string dir = "Content/d" + std::to_string(d) + (d % 2 == 0 ? "/deeper" : "");
    MakeDirs(root + "/" + dir);
    for (int f = 0; f < 20; ++f) {
      std::string path = dir + "/f" + std::to_string(10 + f);
      // Empty, small, and larger than one read.
      size_t size = f == 0 ? 0 : f == 1 ? 700 * 1024 + 3 : 100 + 37 * f;
      WriteFile(root + "/" + path, Noise(size, d * 100 + f), f % 3 == 0 ? 0755 : 0640);
      paths.push_back(path);
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST(FileDescription, ManyFilesDescribedAsSha256sumSeesThemAndCheckedInOrder) {
  TempDir tmp;
  const std::string dir = MakeDirs(tmp / "inst");
  std::vector<std::string> paths = MakeProduct(dir);

  std::vector<ManifestEntry> entries;
  std::string error;
  ASSERT_TRUE(DescribeFiles(dir, {"Content"}, &entries, &error)) << error;
  ASSERT_EQ(paths.size(), entries.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    struct stat st;
    ASSERT_EQ(0, lstat((dir + "/" + paths[i]).c_str(), &st));
    EXPECT_EQ((ManifestEntry{paths[i], false, st.st_mode & 07777u,
                             static_cast<uint64_t>(st.st_size), Sha256Sum(dir + "/" + paths[i])}),
              entries[i]);
  }

  InstallManifest manifest;
  manifest.files = entries;
  std::vector<FileState> states;
  ASSERT_TRUE(manifest.CheckFiles(dir, &states, &error)) << error;
  EXPECT_EQ(std::vector<FileState>(entries.size(), FileState::kUnchanged), states);

  // Changes spread over the run: the last byte of the largest file, a file
  // gone, a whole directory swapped for a link to a copy of itself.
  std::string large = dir + "/Content/d2/deeper/f11";
  std::string content = ReadFile(large);
  content.back() ^= 1;
  WriteFile(large, content, 0640);
  unlink((dir + "/Content/d3/f15").c_str());
  ASSERT_EQ(0, rename((dir + "/Content/d4").c_str(), (tmp / "d4").c_str()));
  ASSERT_EQ(0, symlink((tmp / "d4").c_str(), (dir + "/Content/d4").c_str()));
  ASSERT_TRUE(manifest.CheckFiles(dir, &states, &error)) << error;
  ASSERT_EQ(entries.size(), states.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].path);
    const std::string& path = entries[i].path;
    FileState expected = FileState::kUnchanged;
    if (path == "Content/d2/deeper/f11")
      expected = FileState::kChanged;
    else if (path == "Content/d3/f15" || path.compare(0, 11, "Content/d4/") == 0)
      expected = FileState::kMissing;
    EXPECT_EQ(expected, states[i]);
  }
}

TEST(FileDescription, SomethingNeitherFileNorLinkAmongManyFilesFailsTheDescription) {
  TempDir tmp;
  const std::string dir = MakeDirs(tmp / "inst");
  MakeProduct(dir);
  ASSERT_EQ(0, mkfifo((dir + "/Content/d5/pipe").c_str(), 0644));
  std::vector<ManifestEntry> entries(1);
  std::string error;
  EXPECT_FALSE(DescribeFiles(dir, {"Content"}, &entries, &error));
  EXPECT_EQ(dir + "/Content/d5/pipe: neither a regular file nor a symbolic link", error);
  EXPECT_EQ(1u, entries.size());
}

}  // namespace
