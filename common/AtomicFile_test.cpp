#include "common/AtomicFile.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "common/SystemError.h"
#include "tests/TestFiles.h"

TEST(AtomicFile, HandsBackTheErrorNumberBesideTheMessage) {
  // A directory whose name holds ": " itself, with no room for the file: the
  // message names the step, the number alone gives the system's reason.
  TempDir tmp;
  std::string path = MakeDirs(tmp / "a: b") + "/missing/file";
  std::string error;
  int err = 0;
  ASSERT_FALSE(WriteFileAtomically(path, "text", 0644, &error, &err));
  EXPECT_EQ(ENOENT, err);
  EXPECT_EQ(path + ": No such file or directory", ErrnoMessage(path, err));

  WriteFile(tmp / "taken", "earlier");
  err = 0;
  ASSERT_FALSE(CreateFileAtomically(tmp / "taken", "text", 0644, &error, &err));
  EXPECT_EQ(EEXIST, err);
  EXPECT_EQ("earlier", ReadFile(tmp / "taken"));
}
