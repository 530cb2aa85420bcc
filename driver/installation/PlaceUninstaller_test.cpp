#include "driver/installation/PlaceUninstaller.h"

#include <gtest/gtest.h>

#include "tests/TestFiles.h"

TEST(PlaceUninstaller, CopiesThisProgramAsBinUninstallAndBinVerify) {
  TempDir tmp;
  MakeDirs(tmp / "Bin");
  std::string error;
  ASSERT_TRUE(PlaceUninstaller(tmp.path(), &error)) << error;
  EXPECT_EQ(0755, ModeOf(tmp / "Bin/uninstall"));
  EXPECT_TRUE(ReadFile("/proc/self/exe") == ReadFile(tmp / "Bin/uninstall"));
  EXPECT_EQ(0755, ModeOf(tmp / "Bin/verify"));
  EXPECT_TRUE(ReadFile("/proc/self/exe") == ReadFile(tmp / "Bin/verify"));
}
