#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "installer/ServerInstaller.h"
#include "launcher/PackageInfo.h"
#include "launcher/ServerVersion.h"

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

  const char* banner = ServerInstaller::VersionBanner();
  EXPECT_STREQ("\nStrata Server 9.08 (9.0.8.1427) Installer", banner);
  EXPECT_EQ(banner, ServerInstaller::VersionBanner());
  EXPECT_STREQ("Strata Server", PackageInfo::Name());
}

TEST(PackageInfo, HelpTextColumnsAndNote) {
  char* help = PackageInfo::CommandLineHelpString();
  const std::string expected =
      "-v          --version                   Print version number and exit\n"
      "-h          --help                      Print command-line help and exit\n"
      "-s          --silent                    Perform a silent install\n"
      "-p          --progress-only             Perform a non-interactive install\n"
      "-nb         --no-backup                 Don't backup files if reinstalling\n"
      "-d <dir>    --dest <dir>                Install to directory <dir>\n"
      "-cfg <file>                             Read Installer config file <file>\n"
      "\n"
      "Note: An Installer config file consists of a list of Name=Value pairs,\n"
      "one pair per line, which specify default values for various settings.\n"
      "The list of supported Names includes:\n"
      "    AdminPort={port}    AdminRealm={realm}   AdminPassword={passwd}\n"
      "    HTTPPort={port}     EncoderRealm={realm} EncoderPassword={passwd}\n"
      "    MonitorPort={port}  ContentRealm={realm} MonitorPassword={passwd}\n"
      "    RTSPPort={port}     AdminUserID={user}   DefInstallPath={path}\n"
      "    VQXPort={port}      EncoderUserID={user} LoggingStyle={style}\n"
      "    MMSPort={port}\n"
      "It can also specify several flags that control the installer's behavior,\n"
      "with values of 0 indicating false and 1 indicating true:\n"
      "    BackupOldFiles={0/1}   SilentInstall={0/1}\n";
  EXPECT_EQ(expected, help);
  // The 2048-byte buffer leaves room to spare.
  EXPECT_LT(strlen(help), 2048u);
  delete[] help;
}
