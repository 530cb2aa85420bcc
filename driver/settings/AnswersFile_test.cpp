#include "driver/settings/AnswersFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "installer/ServerInstaller.h"
#include "tests/Subprocess.h"

namespace {

// The answers of one dialogue; constant texts, which the installer never
// releases.
void Answer(ServerInstaller& installer) {
  installer.m_szDefInstallPath = const_cast<char*>("/opt/strata media");
  installer.m_szAdminUserID = const_cast<char*>("root admin");
  installer.m_szAdminPassword = const_cast<char*>("admin-secret");
  installer.m_szEncoderUserID = const_cast<char*>("encoder");
  installer.m_szEncoderPassword = const_cast<char*>("encoder-secret");
  installer.m_szMonitorPassword = const_cast<char*>("monitor-secret");
  installer.m_szAdminRealm = const_cast<char*>("media1.AdminRealm");
  installer.m_szEncoderRealm = const_cast<char*>("media1.EncoderRealm");
  installer.m_szRBSEncoderRealm = const_cast<char*>("media1.RBSEncoderRealm");
  installer.m_szWMEncoderRealm = const_cast<char*>("media1.WMEncoderRealm");
  installer.m_szContentRealm = const_cast<char*>("Main Realm");
  installer.m_szLoggingStyle = const_cast<char*>("5");
  const int ports[] = {19090, 10554, 17070, 10080, 11755, 23456};
  for (int i = 0; i < 6; ++i)
    installer.SetInstPort(i, ports[i]);
}

}  // namespace

TEST(AnswersFile, ReadsBackAsTheSameSettingsWithoutQuestions) {
  TempDir tmp;
  ServerInstaller given;
  Answer(given);
  std::vector<std::string> skipped;
  std::string error;
  ASSERT_TRUE(AnswersFile::Write(tmp / "installer.cfg", given, &skipped, &error)) << error;
  EXPECT_TRUE(skipped.empty());

  ServerInstaller read;
  ASSERT_EQ(0, read.ReadInstallerDefaults((tmp / "installer.cfg").c_str()));
  EXPECT_STREQ("/opt/strata media", read.m_szDefInstallPath);
  EXPECT_STREQ("root admin", read.m_szAdminUserID);
  EXPECT_STREQ("encoder", read.m_szEncoderUserID);
  EXPECT_STREQ("media1.AdminRealm", read.m_szAdminRealm);
  EXPECT_STREQ("media1.EncoderRealm", read.m_szEncoderRealm);
  EXPECT_STREQ("media1.RBSEncoderRealm", read.m_szRBSEncoderRealm);
  EXPECT_STREQ("media1.WMEncoderRealm", read.m_szWMEncoderRealm);
  EXPECT_STREQ("Main Realm", read.m_szContentRealm);
  EXPECT_STREQ("5", read.m_szLoggingStyle);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(given.m_pPorts[i].nPort, read.m_pPorts[i].nPort) << i;
  EXPECT_EQ(1, read.m_bNonInteractiveInstall);
  EXPECT_EQ(0, read.m_bSilentInstall);
  // Backing up stays the next installation's own choice.
  EXPECT_EQ(1, read.m_bBackupOldFiles);
  // No password travels in the file.
  EXPECT_EQ(nullptr, read.m_szAdminPassword);
  EXPECT_EQ(nullptr, read.m_szEncoderPassword);
  EXPECT_EQ(nullptr, read.m_szMonitorPassword);
  std::string text = ReadFile(tmp / "installer.cfg");
  EXPECT_EQ(std::string::npos, text.find("secret"));
  EXPECT_EQ(std::string::npos, text.find("Password"));
}

TEST(AnswersFile, LeavesOutValuesThatWouldNotReadBack) {
  ServerInstaller installer;
  Answer(installer);
  installer.m_szAdminUserID = const_cast<char*>(" admin");
  installer.m_szEncoderUserID = const_cast<char*>("=encoder");
  installer.m_szAdminRealm = const_cast<char*>("Realm\t");
  installer.m_szContentRealm = const_cast<char*>("two\nlines");

  std::vector<std::string> skipped;
  std::string text = AnswersFile::Format(installer, &skipped);
  EXPECT_EQ(
      (std::vector<std::string>{"AdminUserID", "EncoderUserID", "AdminRealm", "ContentRealm"}),
      skipped);
  EXPECT_EQ(std::string::npos, text.find("admin"));
  EXPECT_EQ(std::string::npos, text.find("lines"));
  EXPECT_NE(std::string::npos, text.find("\nEncoderRealm=media1.EncoderRealm\n"));

  // Unset texts are left out without a note.
  skipped.clear();
  installer.m_szEncoderUserID = nullptr;
  installer.m_szAdminUserID = const_cast<char*>("admin");
  text = AnswersFile::Format(installer, &skipped);
  EXPECT_EQ(std::string::npos, text.find("EncoderUserID"));
  EXPECT_NE(std::string::npos, text.find("\nAdminUserID=admin\n"));
  EXPECT_EQ((std::vector<std::string>{"AdminRealm", "ContentRealm"}), skipped);
}

TEST(AnswersFile, LongValuesAreKeptWhole) {
  // Far beyond any line buffer: the defaults file reads lines of any length.
  std::string longPath = "/" + std::string(5000, 'd') + "/media";
  std::string longRealm = std::string(70000, 'r') + ".EncoderRealm";
  ServerInstaller given;
  Answer(given);
  given.m_szDefInstallPath = const_cast<char*>(longPath.c_str());
  given.m_szEncoderRealm = const_cast<char*>(longRealm.c_str());
  TempDir tmp;
  std::vector<std::string> skipped;
  std::string error;
  ASSERT_TRUE(AnswersFile::Write(tmp / "installer.cfg", given, &skipped, &error)) << error;
  EXPECT_TRUE(skipped.empty());

  ServerInstaller read;
  ASSERT_EQ(0, read.ReadInstallerDefaults((tmp / "installer.cfg").c_str()));
  EXPECT_EQ(longPath, read.m_szDefInstallPath);
  EXPECT_EQ(longRealm, read.m_szEncoderRealm);
  // What follows a long line is read as a line of its own.
  EXPECT_STREQ("media1.RBSEncoderRealm", read.m_szRBSEncoderRealm);
  EXPECT_STREQ("root admin", read.m_szAdminUserID);
}

TEST(AnswersFile, WriteSaysWhereItFailedAndReplacesAnEarlierFile) {
  TempDir tmp;
  ServerInstaller installer;
  Answer(installer);
  std::vector<std::string> skipped;
  std::string error;
  EXPECT_FALSE(AnswersFile::Write(tmp / "missing/installer.cfg", installer, &skipped, &error));
  EXPECT_EQ(tmp / "missing/installer.cfg: No such file or directory", error);

  WriteFile(tmp / "installer.cfg", "earlier", 0600);
  mode_t saved = umask(022);
  bool written = AnswersFile::Write(tmp / "installer.cfg", installer, &skipped, &error);
  umask(saved);
  ASSERT_TRUE(written) << error;
  EXPECT_EQ(
      "# Answers of an interactive installation of Strata Server. No password is kept\n"
      "# here: a password that is not given is generated and shown at the end. To\n"
      "# install again without questions, run the package with -cfg and this file;\n"
      "# without the NonInteractiveInstall line the installer asks again, with these\n"
      "# answers as its defaults.\n"
      "DefInstallPath=/opt/strata media\n"
      "AdminUserID=root admin\n"
      "EncoderUserID=encoder\n"
      "AdminRealm=media1.AdminRealm\n"
      "EncoderRealm=media1.EncoderRealm\n"
      "RBSEncoderRealm=media1.RBSEncoderRealm\n"
      "WMEncoderRealm=media1.WMEncoderRealm\n"
      "ContentRealm=Main Realm\n"
      "MonitorPort=19090\n"
      "RTSPPort=10554\n"
      "VQXPort=17070\n"
      "HTTPPort=10080\n"
      "MMSPort=11755\n"
      "AdminPort=23456\n"
      "LoggingStyle=5\n"
      "NonInteractiveInstall=1\n",
      ReadFile(tmp / "installer.cfg"));
  // An ordinary file: it holds no secret.
  EXPECT_EQ(0644, ModeOf(tmp / "installer.cfg"));
}
