#include "driver/settings/ReplaceError.h"

#include <gtest/gtest.h>

#include "common/AtomicFile.h"
#include "tests/Subprocess.h"

TEST(ReplaceError, NamesTheFileAndTheSystemsReasonOnly) {
  // A directory whose name holds ": " itself, with no room for the file.
  TempDir tmp;
  std::string path = MakeDirs(tmp / "a: b") + "/missing/file";
  std::string error;
  ASSERT_FALSE(WriteFileAtomically(path, "text", 0644, &error));
  EXPECT_EQ(path + ": No such file or directory", ReplaceError(path, error));
}
