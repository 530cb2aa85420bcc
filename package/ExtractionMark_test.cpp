#include "package/ExtractionMark.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/Subprocess.h"

TEST(ExtractionMark, OnlyADirectoryWithTheMarkItselfCounts) {
  TempDir dir;
  const std::string made = dir / "made";
  ASSERT_EQ(0, mkdir(made.c_str(), 0700));
  EXPECT_FALSE(IsMarkedExtractionDirectory(made));
  std::string error;
  ASSERT_TRUE(MarkExtractionDirectory(made, &error)) << error;
  EXPECT_TRUE(IsMarkedExtractionDirectory(made));
  // Never over an existing mark.
  EXPECT_FALSE(MarkExtractionDirectory(made, &error));
  EXPECT_EQ("cannot mark " + made + ": File exists", error);

  // A link to a marked directory counts, a link to another one does not.
  ASSERT_EQ(0, symlink(made.c_str(), (dir / "link").c_str()));
  EXPECT_TRUE(IsMarkedExtractionDirectory(dir / "link"));
  ASSERT_EQ(0, symlink(dir.path().c_str(), (dir / "other-link").c_str()));
  EXPECT_FALSE(IsMarkedExtractionDirectory(dir / "other-link"));
  // Nor a file, nor a directory whose mark is a link, another text or more.
  const std::string mark = std::string("/") + kExtractionMarkName;
  WriteFile(dir / "file", "x");
  EXPECT_FALSE(IsMarkedExtractionDirectory(dir / "file"));
  for (const char* name : {"linked", "other", "longer"}) {
    const std::string other = dir / name;
    ASSERT_EQ(0, mkdir(other.c_str(), 0700));
    const std::string text = ReadFile(made + mark);
    if (std::string(name) == "linked")
      ASSERT_EQ(0, symlink((made + mark).c_str(), (other + mark).c_str()));
    else
      WriteFile(other + mark, name == std::string("other") ? "mine\n" : text + "\n");
    EXPECT_FALSE(IsMarkedExtractionDirectory(other)) << name;
  }
  // A FIFO of the mark's name does not hold the check up.
  ASSERT_EQ(0, mkdir((dir / "fifo").c_str(), 0700));
  ASSERT_EQ(0, mkfifo((dir / "fifo" + mark).c_str(), 0600));
  EXPECT_FALSE(IsMarkedExtractionDirectory(dir / "fifo"));
}
