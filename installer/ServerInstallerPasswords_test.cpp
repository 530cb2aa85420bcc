#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "credentials/PasswordTool.h"
#include "installer/ServerInstaller.h"
#include "tests/InstallerTestHelpers.h"
#include "tests/Subprocess.h"

namespace {

const char* const kDatabases[] = {"adm_b_db", "enc_r_db", "enc_w_db", "enc_b_db", "cdi_b_db"};

bool IsRandomPassword(const char* text) {
  return text != nullptr && strlen(text) == 6 &&
         strspn(text, "abcdefghijkmnopqrstuvwxyz23456789") == 6;
}

TEST(GenerateRandomPasswords, FillsOnlyUnsetPasswords) {
  {
    ServerInstaller installer;
    installer.GenerateRandomPasswords();
    EXPECT_TRUE(IsRandomPassword(installer.m_szAdminPassword));
    EXPECT_TRUE(IsRandomPassword(installer.m_szEncoderPassword));
    EXPECT_TRUE(IsRandomPassword(installer.m_szMonitorPassword));
  }
  {
    char admin[] = "", encoder[] = "enc", monitor[] = "mon";
    ServerInstaller installer;
    installer.m_szAdminPassword = admin;
    installer.m_szEncoderPassword = encoder;
    installer.m_szMonitorPassword = monitor;
    installer.GenerateRandomPasswords();
    EXPECT_EQ(admin, installer.m_szAdminPassword);
    EXPECT_STREQ("", installer.m_szAdminPassword);
    EXPECT_EQ(encoder, installer.m_szEncoderPassword);
    EXPECT_EQ(monitor, installer.m_szMonitorPassword);
  }
  {
    char admin[] = "adm";
    ServerInstaller installer;
    installer.m_szAdminPassword = admin;
    installer.GenerateRandomPasswords();
    EXPECT_EQ(admin, installer.m_szAdminPassword);
    EXPECT_TRUE(IsRandomPassword(installer.m_szEncoderPassword));
    EXPECT_TRUE(IsRandomPassword(installer.m_szMonitorPassword));
  }
}

TEST(GenerateRandomPasswords, EachPasswordIsDrawnOnItsOwn) {
  // Not from random(): the same seed must not give the same passwords, and
  // the three of one installation differ from one another.
  std::set<std::string> drawn;
  for (int run = 0; run < 2; ++run) {
    srandom(1427);
    ServerInstaller installer;
    installer.GenerateRandomPasswords();
    drawn.insert(installer.m_szAdminPassword);
    drawn.insert(installer.m_szEncoderPassword);
    drawn.insert(installer.m_szMonitorPassword);
  }
  EXPECT_EQ(6u, drawn.size());
}

class UpdatePasswordDatabases : public installer_test::InstallationTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(InstallationTest::SetUp());
    // The database directories come with the product's files.
    for (const char* db : kDatabases) {
      ASSERT_EQ(0, mkdir((install_ + "/" + db).c_str(), 0755));
      ASSERT_TRUE(WriteFile(install_ + "/" + db + "/control", "format"));
    }
    installer_.m_szDefInstallPath = install_.data();
    installer_.m_szAdminUserID = admin_;
    installer_.m_szAdminPassword = adminPassword_;
    installer_.m_szEncoderUserID = encoder_;
    installer_.m_szEncoderPassword = encoderPassword_;
    installer_.m_szEncoderRealm = encoderRealm_;
    installer_.m_szWMEncoderRealm = wmRealm_;
  }

  // Runs UpdatePasswordDatabases and returns what it printed.
  std::string Update() {
    testing::internal::CaptureStdout();
    installer_.UpdatePasswordDatabases();
    return testing::internal::GetCapturedStdout();
  }

  std::string UserFile(const char* db, const char* user) {
    return ReadFile(install_ + "/" + db + "/users/" + user);
  }

  std::string Digest(const char* user, const char* realm, const char* password) {
    char entry[64];
    return PasswordTool::MakePasswordEntry(user, realm, password, entry);
  }

  ServerInstaller installer_;
  // The example of RFC 2617, whose H(A1) is known.
  char admin_[6] = "admin";
  char adminPassword_[7] = "s;cret";
  char encoder_[7] = "Mufasa";
  char encoderPassword_[15] = "Circle Of Life";
  char encoderRealm_[19] = "testrealm@host.com";
  char wmRealm_[8] = "wmrealm";
};

TEST_F(UpdatePasswordDatabases, TwentyDirectoriesAndFiveUserFiles) {
  umask(0);  // the mode given is the mode made
  EXPECT_EQ("", Update());
  EXPECT_EQ(work_, CurrentDir());

  std::set<std::string> expected;
  for (const char* db : kDatabases) {
    std::string d = std::string(db) + "/";
    for (const char* sub : {"users/", "guids/", "logs/", "redirect/"}) {
      expected.insert(d + sub);
      EXPECT_EQ(0755, ModeOf(install_ + "/" + d + sub)) << d << sub;
    }
    expected.insert(d);
    expected.insert(d + "control");
  }
  for (const char* db : {"adm_b_db", "cdi_b_db"})
    expected.insert(std::string(db) + "/users/admin");
  for (const char* db : {"enc_r_db", "enc_w_db", "enc_b_db"})
    expected.insert(std::string(db) + "/users/Mufasa");
  EXPECT_EQ(expected, ListTree(install_));

  EXPECT_EQ("s;cret;*;1\n", UserFile("adm_b_db", "admin"));
  EXPECT_EQ("s;cret;*;1\n", UserFile("cdi_b_db", "admin"));
  EXPECT_EQ("Circle Of Life;*;1\n", UserFile("enc_b_db", "Mufasa"));
  EXPECT_EQ("939e7578ed9e3c518a452acee763bce9;*;1\n", UserFile("enc_r_db", "Mufasa"));
  EXPECT_EQ(Digest("Mufasa", "wmrealm", "Circle Of Life") + ";*;1\n",
            UserFile("enc_w_db", "Mufasa"));
}

TEST_F(UpdatePasswordDatabases, EmptyRealmStoresThePlainPassword) {
  char empty[] = "";
  installer_.m_szWMEncoderRealm = empty;
  Update();
  EXPECT_EQ("Circle Of Life;*;1\n", UserFile("enc_w_db", "Mufasa"));
  EXPECT_EQ("939e7578ed9e3c518a452acee763bce9;*;1\n", UserFile("enc_r_db", "Mufasa"));
}

TEST_F(UpdatePasswordDatabases, SameNameForBothAccounts) {
  installer_.m_szEncoderUserID = admin_;
  Update();
  for (const char* db : kDatabases) {
    EXPECT_EQ(std::set<std::string>{"admin"}, ListTree(install_ + "/" + db + "/users")) << db;
  }
  EXPECT_EQ("s;cret;*;1\n", UserFile("adm_b_db", "admin"));
  EXPECT_EQ("Circle Of Life;*;1\n", UserFile("enc_b_db", "admin"));
}

TEST_F(UpdatePasswordDatabases, SecondRunKeepsOtherUsersFiles) {
  EXPECT_EQ("", Update());
  char root[] = "root";
  char other[] = "other";
  installer_.m_szAdminUserID = root;
  installer_.m_szEncoderPassword = other;
  EXPECT_EQ("", Update());
  EXPECT_EQ("s;cret;*;1\n", UserFile("adm_b_db", "admin"));
  EXPECT_EQ("s;cret;*;1\n", UserFile("adm_b_db", "root"));
  EXPECT_EQ("other;*;1\n", UserFile("enc_b_db", "Mufasa"));
  EXPECT_EQ(std::set<std::string>{"Mufasa"}, ListTree(install_ + "/enc_b_db/users"));
}

TEST_F(UpdatePasswordDatabases, MissingDatabaseIsPassedOver) {
  ASSERT_EQ(0, unlink((install_ + "/cdi_b_db/control").c_str()));
  ASSERT_EQ(0, rmdir((install_ + "/cdi_b_db").c_str()));
  EXPECT_EQ("", Update());
  EXPECT_FALSE(Exists(install_ + "/cdi_b_db"));
  EXPECT_EQ("s;cret;*;1\n", UserFile("adm_b_db", "admin"));
  EXPECT_EQ("Circle Of Life;*;1\n", UserFile("enc_b_db", "Mufasa"));
}

TEST_F(UpdatePasswordDatabases, AccountWithoutNameOrPasswordGetsNoFile) {
  installer_.m_szAdminUserID = nullptr;
  installer_.m_szEncoderPassword = nullptr;
  EXPECT_EQ("", Update());
  for (const char* db : kDatabases)
    EXPECT_EQ(std::set<std::string>(), ListTree(install_ + "/" + db + "/users")) << db;
}

TEST_F(UpdatePasswordDatabases, UnreachableDirectoryIsReportedEvenWhenSilent) {
  std::string missing = Path("missing");
  installer_.m_szDefInstallPath = missing.data();
  installer_.m_bSilentInstall = 1;
  std::set<std::string> before = ListTree(root_);
  EXPECT_EQ("Error accessing directory " + missing + " (No such file or directory)\n", Update());
  EXPECT_EQ(before, ListTree(root_));
  EXPECT_EQ(work_, CurrentDir());
}

TEST_F(UpdatePasswordDatabases, WritesAndReturnsWhenTheWorkingDirectoryIsGone) {
  ProcessResult child = RunForked(ForkOptions::OutputUntilClosed(), [&] {
    struct stat before, after;
    stat(".", &before);
    if (rmdir(work_.c_str()) != 0)
      _exit(2);
    installer_.UpdatePasswordDatabases();
    stat(".", &after);
    _exit(before.st_dev == after.st_dev && before.st_ino == after.st_ino ? 0 : 1);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code);
  EXPECT_EQ("", child.out);
  EXPECT_EQ("s;cret;*;1\n", UserFile("cdi_b_db", "admin"));
}

}  // namespace
