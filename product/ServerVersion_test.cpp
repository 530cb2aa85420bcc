#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "product/InstallerBanner.h"
#include "product/PackageInfo.h"
#include "product/ServerVersion.h"
#include "tests/ExpectedHelpText.h"

TEST(ServerVersion, ProductIdentity) {
  EXPECT_STREQ("Strata Server", ServerVersion::ProductName());
  EXPECT_STREQ("Strata Server 9.08", ServerVersion::FullProductName());
  EXPECT_STREQ("9.08", ServerVersion::ReleaseName());
  EXPECT_STREQ("(Build 66222/5156)", ServerVersion::BuildName());
  EXPECT_STREQ("9.0.8.1427", ServerVersion::VersionString());
  EXPECT_STREQ("TARVER_MAJOR_VERSION", ServerVersion::MajorString());
  EXPECT_STREQ("TARVER_MINOR_VERSION", ServerVersion::MinorString());
  EXPECT_EQ(9, ServerVersion::MajorVersion());
  EXPECT_EQ(0, ServerVersion::MinorVersion());
  EXPECT_STREQ("linux-2.2-libc6-i586-server", ServerVersion::Platform());
}

TEST(ServerVersion, CachedTextsKeepTheirAddress) {
  const char* majorMinor = ServerVersion::MajorMinorString();
  EXPECT_STREQ("9.0", majorMinor);
  EXPECT_EQ(majorMinor, ServerVersion::MajorMinorString());

  const char* version = PackageInfo::VersionString();
  EXPECT_STREQ("Strata Server 9.08 (9.0.8.1427)", version);
  EXPECT_EQ(version, PackageInfo::VersionString());

  const char* banner = InstallerBanner();
  EXPECT_STREQ("\nStrata Server 9.08 (9.0.8.1427) Installer", banner);
  EXPECT_EQ(banner, InstallerBanner());
  EXPECT_STREQ("Strata Server", PackageInfo::Name());
}

TEST(PackageInfo, HelpTextColumnsAndNote) {
  char* help = PackageInfo::CommandLineHelpString();
  EXPECT_EQ(kExpectedHelpText, std::string(help));
  // The 2048-byte buffer leaves room to spare.
  EXPECT_LT(strlen(help), 2048u);
  delete[] help;
}
