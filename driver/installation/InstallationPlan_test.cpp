#include "driver/installation/InstallationPlan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "driver/record/InstallManifest.h"
#include "driver/settings/SetupInstaller.h"
#include "tests/TestFiles.h"

namespace {

const char kPackage[] = "sha256:1111111111111111111111111111111111111111111111111111111111111111";
const char kOtherPackage[] =
    "sha256:2222222222222222222222222222222222222222222222222222222222222222";

// An installation directory with what an earlier run of setup left: the
// product's files and the record of them, made from the same settings.
class InstallationPlanTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    dir_ = MakeDirs(Path("inst"));
    Configure(earlier_);
    MakeDirs(dir_ + "/Bin");
    WriteFile(dir_ + "/Bin/qmserver", "the server", 0755);
    WriteFile(dir_ + "/qmserver.cfg", "the configuration", 0600);
    InstallationPlan plan(earlier_, kPackage, false);
    InstallManifest record = plan.NewManifest();
    std::string error;
    ASSERT_TRUE(DescribeFiles(dir_, {"Bin", "qmserver.cfg"}, &record.files, &error)) << error;
    ASSERT_TRUE(record.Write(dir_, &error)) << error;
  }

  void Configure(SetupInstaller& installer) {
    installer.SetDefaults();
    installer.m_bSilentInstall = 1;
    installer.m_szDefInstallPath = installer.OwnedText(dir_);
    installer.m_szAdminUserID = const_cast<char*>("admin");
    installer.m_szEncoderUserID = const_cast<char*>("encoder");
    for (int i = 0; i < 6; ++i)
      installer.m_pPorts[i].nPort = 7000 + i;
  }

  std::string dir_;
  SetupInstaller earlier_;
};

}  // namespace

// What the plan finds in the directory decides between nothing to do, a
// reinstall and an upgrade; each row changes one thing against the record.
TEST_F(InstallationPlanTest, VerdictFollowsWhatDiffersFromTheRecord) {
  using Verdict = InstallationPlan::Verdict;
  struct Row {
    const char* what;
    std::function<void(SetupInstaller&)> change;
    const char* digest;
    bool reinstall;
    Verdict verdict;
    const char* changed;  // the plan's "Changed:" lines
  };
  const Row rows[] = {
      {"the same installation", [](SetupInstaller&) {}, kPackage, false, Verdict::kNothingToDo, ""},
      {"the same, installed again", [](SetupInstaller&) {}, kPackage, true, Verdict::kReinstall,
       ""},
      {"a changed file",
       [&](SetupInstaller&) { WriteFile(dir_ + "/Bin/qmserver", "patched", 0755); }, kPackage,
       false, Verdict::kUpgrade, ""},
      {"a changed mode", [&](SetupInstaller&) { chmod((dir_ + "/qmserver.cfg").c_str(), 0644); },
       kPackage, true, Verdict::kUpgrade, ""},
      {"a missing file", [&](SetupInstaller&) { unlink((dir_ + "/Bin/qmserver").c_str()); },
       kPackage, false, Verdict::kUpgrade, ""},
      {"another package", [](SetupInstaller&) {}, kOtherPackage, false, Verdict::kUpgrade,
       "Changed: package_digest: sha256:111111111111111111111111111111111111111111111111111111111"
       "1111111 -> sha256:2222222222222222222222222222222222222222222222222222222222222222\n"},
      {"a package of unknown digest", [](SetupInstaller&) {}, "unknown", false, Verdict::kUpgrade,
       "Changed: package_digest: sha256:111111111111111111111111111111111111111111111111111111111"
       "1111111 -> unknown\n"},
      {"another administrator",
       [](SetupInstaller& installer) { installer.m_szAdminUserID = const_cast<char*>("boss"); },
       kPackage, false, Verdict::kUpgrade, "Changed: admin_user: admin -> boss\n"},
      {"another port", [](SetupInstaller& installer) { installer.m_pPorts[3].nPort = 8080; },
       kPackage, false, Verdict::kUpgrade, "Changed: http_port: 7003 -> 8080\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetupInstaller installer;
    Configure(installer);
    row.change(installer);
    const std::map<std::string, std::string> before = TreeOf(dir_);
    InstallationPlan plan(installer, row.digest, row.reinstall);
    std::string error;
    ASSERT_TRUE(plan.Assess(&error)) << error;
    EXPECT_EQ(row.verdict, plan.GetVerdict());
    EXPECT_EQ(row.changed, plan.ChangedLines());
    // Assessing changes nothing.
    EXPECT_EQ(before, TreeOf(dir_));
    // Put the earlier installation back for the next row.
    WriteFile(dir_ + "/Bin/qmserver", "the server", 0755);
    chmod((dir_ + "/qmserver.cfg").c_str(), 0600);
  }
}

TEST_F(InstallationPlanTest, AnEmptyDirectoryIsANewInstallationAndAForeignOneAnUpgrade) {
  std::string error;
  SetupInstaller installer;
  dir_ = MakeDirs(Path("empty"));
  Configure(installer);
  InstallationPlan fresh(installer, kPackage, false);
  ASSERT_TRUE(fresh.Assess(&error)) << error;
  EXPECT_EQ(InstallationPlan::Verdict::kInstall, fresh.GetVerdict());
  EXPECT_TRUE(fresh.MovedToOld().empty());

  // A name of the backup list without a record: an installation of
  // another kind, which goes to ".old".
  MakeDirs(dir_ + "/Bin");
  InstallationPlan foreign(installer, kPackage, false);
  ASSERT_TRUE(foreign.Assess(&error)) << error;
  EXPECT_EQ(InstallationPlan::Verdict::kUpgrade, foreign.GetVerdict());
  EXPECT_EQ(std::vector<std::string>{"Bin"}, foreign.MovedToOld());
  EXPECT_NE(
      std::string::npos,
      foreign.Describe().find("Note:                    an earlier installation without a record "
                              "(install-manifest.txt)\n"));
}
