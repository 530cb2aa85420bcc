#include "driver/installation/ReadBackChecks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "credentials/PasswordTool.h"
#include "driver/settings/SetupInstaller.h"
#include "installer/PasswordDatabases.h"
#include "tests/Subprocess.h"

// The framework writes the accounts, the script and a configuration file
// into a real directory; the checks pass that and catch each kind of
// damage the framework would not report.
TEST(ReadBackChecks, PassWhatTheFrameworkWroteAndCatchWhatItDidNot) {
  TempDir tmp;
  const std::string dir = tmp.path();
  SetupInstaller installer;
  installer.SetDefaults();
  installer.m_bSilentInstall = 1;
  installer.m_szDefInstallPath = installer.OwnedText(dir);
  installer.m_szAdminUserID = const_cast<char*>("admin");
  installer.m_szEncoderUserID = const_cast<char*>("encoder");
  installer.GenerateRandomPasswords();
  MakeDirs(dir + "/Bin");
  for (const DatabaseAccount& account : DatabaseAccounts(installer))
    MakeDirs(dir + "/" + account.database);
  installer.UpdatePasswordDatabases();
  installer.CreateLoopcastScript();
  installer.CreateConfigFile("qmserver.cfg");

  std::string error;
  EXPECT_TRUE(CheckUserFiles(installer, &error)) << error;
  EXPECT_TRUE(CheckLoopcastScript(installer, dir + "/Bin/loopcast.sh", &error)) << error;
  mode_t mode = 0;
  ASSERT_TRUE(chmod((dir + "/qmserver.cfg").c_str(), 0640) == 0);
  EXPECT_TRUE(CheckConfigFile(installer, "qmserver.cfg", &mode, &error)) << error;
  EXPECT_EQ(0640u, mode & 07777);

  // The encoder's plain password where its realm's digest belongs.
  WriteFile(dir + "/enc_r_db/users/encoder",
            PasswordFileLine("encoder", nullptr, installer.m_szEncoderPassword));
  EXPECT_FALSE(CheckUserFiles(installer, &error));
  EXPECT_EQ("ERROR: Unable to write the user file " + dir + "/enc_r_db/users/encoder\n", error);

  ASSERT_EQ(0, chmod((dir + "/Bin/loopcast.sh").c_str(), 0644));
  EXPECT_FALSE(CheckLoopcastScript(installer, dir + "/Bin/loopcast.sh", &error));
  EXPECT_EQ("ERROR: Unable to write " + dir + "/Bin/loopcast.sh\n", error);

  // The right text, but behind a link: the passwords would be elsewhere.
  ASSERT_EQ(0, rename((dir + "/qmserver.cfg").c_str(), (dir + "/elsewhere.cfg").c_str()));
  ASSERT_EQ(0, symlink("elsewhere.cfg", (dir + "/qmserver.cfg").c_str()));
  EXPECT_FALSE(CheckConfigFile(installer, "qmserver.cfg", &mode, &error));
  EXPECT_EQ("ERROR: Unable to write the configuration file " + dir + "/qmserver.cfg\n", error);
}
