// End-to-end installations that go wrong, as an unlucky or careless
// administrator meets them: wrong command lines and defaults files, names
// the files cannot hold, a full file system, immutable files, reruns, and
// Ctrl-C in the dialogue. Each compares the trees before and after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/PtySession.h"
#include "tests/SetupPackageTest.h"
#include "tests/Subprocess.h"

namespace {

using SetupFailure = SetupPackage;

const char kUnchanged[] = "the earlier installation is unchanged";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A small tmpfs mounted at path until the object goes; not ok() where the
// process may not mount (only root may).
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& path, const char* size) : path_(MakeDirs(path)) {
    ok_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (ok_)
      umount2(path_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool ok() const { return ok_; }

  // Fills the file system up to free bytes with a file that Unfill removes.
  void FillUpTo(unsigned long long free) {
    struct statvfs st;
    ASSERT_EQ(0, statvfs(path_.c_str(), &st));
    unsigned long long available = st.f_bavail * st.f_frsize;
    ASSERT_GT(available, free);
    WriteFile(path_ + "/filler", std::string(available - free, 'x'));
  }
  void Unfill() { unlink((path_ + "/filler").c_str()); }

 private:
  std::string path_;
  bool ok_;
};

TEST_F(SetupFailure, UnattendedCommandLineAndDefaultsFileErrorsChangeNothing) {
  WriteDefaults("AdminPassword=earlier\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  struct Case {
    std::vector<std::string> args;
    std::string defaults;
    std::string shown;
  };
  const Case cases[] = {
      {{"-s", "-cfg", "inst.cfg", "-d"}, "", "ERROR: Option -d has no value\n"},
      {{"-s", "-cfg", "inst.cfg", "-d", ""}, "", "ERROR: Option -d has an empty value\n"},
      {{"-s", "--no-backups", "-cfg", "inst.cfg"},
       "",
       "ERROR: unknown command-line option: --no-backups (did you mean --no-backup?)\n"},
      {{"-s", "-cfg", "inst.cfg", "--target", "/opt/x"},
       "",
       "ERROR: unknown command-line option: --target\n"},
      {{"-s", "-cfg", "inst.cfg"},
       "AdminPasword=secret\n",
       "ERROR: AdminPasword is not a setting of the defaults file (did you mean AdminPassword?) "
       "(inst.cfg, line 11)\n"},
      {{"-s", "-cfg", "inst.cfg"},
       "AdminPort=abc\n",
       "ERROR: AdminPort abc is not a number (inst.cfg, line 11)\n"},
      {{"-s", "-cfg", "inst.cfg"},
       std::string("AdminPassword=sec\0ret\n", 22),
       "ERROR: The value of AdminPassword holds a NUL character (inst.cfg, line 11)\n"},
      // Names that run into other characters: the framework would take the
      // rest as the value. The value itself, a password, is not shown.
      {{"-s", "-cfg", "inst.cfg"},
       "AdminPassword.old=x\n",
       "ERROR: AdminPassword.old=..., line 11: a setting name must be followed by '=' or a "
       "blank (inst.cfg)\n"},
      {{"-s", "-cfg", "inst.cfg"},
       "AdminPassword: x\n",
       "ERROR: AdminPassword: ..., line 11: a setting name must be followed by '=' or a blank "
       "(inst.cfg)\n"},
      {{"-s", "-cfg", "inst.cfg"},
       "DefInstallPath_old=/p\n",
       "ERROR: DefInstallPath_old=..., line 11: a setting name must be followed by '=' or a "
       "blank (inst.cfg)\n"},
      {{"-s", "-cfg", "inst.cfg"},
       "AdminPassword:secret\r\n",
       "ERROR: AdminPassword:..., line 11: a setting name must be followed by '=' or a blank "
       "(inst.cfg)\n"},
      // Not silent: the framework's report comes first, the run ends all the same.
      {{"-p", "-cfg", "inst.cfg", "-nb", "--debugg"},
       "",
       "ERROR: unknown command-line option: --debugg (did you mean --debug?)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    WriteDefaults(c.defaults);
    auto before = TreeOf(start_);
    ProcessResult run = RunPackage(c.args);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(255, run.code);
    EXPECT_TRUE(Contains(run.out, c.shown)) << run.out;
    EXPECT_FALSE(Contains(run.out, "Installing")) << run.out;
    EXPECT_FALSE(Contains(run.out, "secret")) << run.out;
    EXPECT_EQ(before, TreeOf(start_));
  }
}

TEST_F(SetupFailure, UserNameLongerThanAFileNameIsRefusedBeforeAnythingChanges) {
  WriteDefaults("AdminPassword=earlier\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  WriteDefaults("AdminUserID=" + std::string(300, 'a') + "\n");
  auto before = TreeOf(start_);
  ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, run.code);
  EXPECT_EQ("ERROR: AdminUserID \"" + std::string(40, 'a') +
                "...\" is not a valid user name: it has 300 bytes, more than a file name can hold "
                "(File name too long)\n",
            run.out);
  EXPECT_EQ(before, TreeOf(start_));
}

// The installation directory on a small file system of its own, so that the
// product is copied rather than moved; it fills up halfway through a
// reinstall. Its size leaves room for a second generation beside the first
// even where setup is a sanitized build of some 13 MB, copied three times.
TEST_F(SetupFailure, FullFileSystemDuringACopyLeavesTheEarlierInstallation) {
  SmallFileSystem small(start_ + "/small", "128m");
  if (!small.ok())
    GTEST_SKIP() << "no file system can be mounted here";
  server_ = start_ + "/small/server";
  WriteDefaults("AdminPassword=earlier\nDefInstallPath=small/server\n");
  ProcessResult first = RunPackage({"-s", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, first.code) << first.out;
  // Files of the administrator's own beside the installation's.
  WriteFile(server_ + "/Bin/notes", "the administrator's", 0640);
  WriteFile(server_ + "/adm_b_db/users/operator", "op;*;1\n", 0600);
  auto earlier = TreeOf(server_);

  // Room for less than the installer itself.
  small.FillUpTo(256 * 1024);
  WriteDefaults("AdminPassword=second\nDefInstallPath=small/server\n");
  ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, run.code);
  EXPECT_TRUE(Contains(run.out, "No space left on device")) << run.out;
  EXPECT_TRUE(Contains(run.out, kUnchanged)) << run.out;
  EXPECT_EQ(earlier, TreeOf(server_));
  EXPECT_FALSE(Exists(start_ + "/qzsetup"));

  // With room again, the next run replaces the backups with the earlier
  // installation, not with anything of the failed one.
  small.Unfill();
  ProcessResult again = RunPackage({"-s", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, again.code) << again.out;
  EXPECT_EQ("the administrator's", ReadFile(server_ + "/Bin.old/notes"));
  EXPECT_EQ("second;*;1\n", ReadFile(server_ + "/adm_b_db/users/admin"));
  EXPECT_EQ("op;*;1\n", ReadFile(server_ + "/adm_b_db/users/operator"));
}

// An immutable user file, and a users directory the installer may not
// write: the switch stops at it and undoes every rename.
TEST_F(SetupFailure, FileThatCannotBeReplacedLeavesTheEarlierInstallation) {
  WriteDefaults("AdminPassword=earlier\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  WriteDefaults("AdminPassword=second\nEncoderPassword=second\n");
  for (const char* stuck : {"adm_b_db/users/admin", "enc_b_db/users"}) {
    SCOPED_TRACE(stuck);
    auto before = TreeOf(server_);
    Immutable immutable(server_ + "/" + stuck);
    if (!immutable.ok())
      GTEST_SKIP() << "files cannot be made immutable here: " << immutable.why();
    ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
    EXPECT_EQ(255, run.code);
    EXPECT_TRUE(Contains(
        run.out, "ERROR: Unable to put the new installation in place (" + server_ + "/" + stuck))
        << run.out;
    EXPECT_TRUE(Contains(run.out, ": Operation not permitted); ")) << run.out;
    EXPECT_TRUE(Contains(run.out, kUnchanged)) << run.out;
    EXPECT_EQ(before, TreeOf(server_));
    EXPECT_FALSE(Exists(start_ + "/qzsetup"));
  }
}

TEST_F(SetupFailure, RerunKeepsPasswordsAndAGivenOneReplacesIt) {
  WriteDefaults();
  ProcessResult first = RunPackage({"-cfg", "inst.cfg"});
  ASSERT_EQ(0, first.code) << first.out;
  std::string admin = ShownValue(first.out, "Administrator password");
  std::string encoder = ShownValue(first.out, "Encoder password");
  ASSERT_EQ(16u, admin.size()) << first.out;
  auto userFiles = [this] {
    return std::vector<std::string>{ReadFile(server_ + "/adm_b_db/users/admin"),
                                    ReadFile(server_ + "/cdi_b_db/users/admin"),
                                    ReadFile(server_ + "/enc_b_db/users/encoder"),
                                    ReadFile(server_ + "/enc_r_db/users/encoder"),
                                    ReadFile(server_ + "/enc_w_db/users/encoder")};
  };
  auto accounts = userFiles();
  EXPECT_EQ(admin + ";*;1\n", accounts[0]);

  // The same installation again, installed anew: nobody is locked out.
  ProcessResult second = RunPackage({"--reinstall", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, second.code) << second.out;
  EXPECT_EQ("kept", ShownValue(second.out, "Administrator password")) << second.out;
  EXPECT_EQ("kept", ShownValue(second.out, "Encoder password")) << second.out;
  EXPECT_EQ(accounts, userFiles());
  EXPECT_TRUE(
      Contains(ReadFile(server_ + "/qmserver.cfg"), "<Var MonitorPassword=\"" + admin + "\"/>\n"));

  // A given password replaces the kept one; the other stays.
  WriteDefaults("EncoderPassword=new-encoder\n");
  ProcessResult third = RunPackage({"-cfg", "inst.cfg"});
  ASSERT_EQ(0, third.code) << third.out;
  EXPECT_EQ("", ShownValue(third.out, "Encoder password"));
  EXPECT_EQ("new-encoder;*;1\n", ReadFile(server_ + "/enc_b_db/users/encoder"));
  EXPECT_EQ(admin + ";*;1\n", ReadFile(server_ + "/adm_b_db/users/admin"));

  // A new administrator's name: the earlier account still exists.
  WriteDefaults("AdminUserID=chief\n");
  ProcessResult fourth = RunPackage({"-cfg", "inst.cfg"});
  ASSERT_EQ(0, fourth.code) << fourth.out;
  EXPECT_EQ(16u, ShownValue(fourth.out, "Administrator password").size()) << fourth.out;
  EXPECT_TRUE(
      Contains(fourth.out, "    Earlier administrator:   admin (the account still exists)\n"))
      << fourth.out;
  EXPECT_EQ(admin + ";*;1\n", ReadFile(server_ + "/adm_b_db/users/admin"));
}

// Ctrl-C typed at the license question, and at the password question while
// echo is off: nothing of the package stays, and the terminal echoes again.
TEST_F(SetupFailure, CtrlCInTheDialogueLeavesNothing) {
  for (bool atPassword : {false, true}) {
    SCOPED_TRACE(atPassword ? "password" : "license");
    auto before = TreeOf(start_);
    PtySession session;
    ASSERT_TRUE(StartInTerminal(session, {"-d", "server"}));
    ASSERT_TRUE(session.Expect("Do you accept the terms of the license agreement? (yes or no)"));
    if (atPassword) {
      session.SendLine("yes");
      ASSERT_TRUE(session.Expect("Installation directory ["));
      session.SendLine("");
      ASSERT_TRUE(session.Expect("Username []: "));
      session.SendLine("admin");
      ASSERT_TRUE(session.Expect("Password []: "));
      EXPECT_EQ(0u, session.Settings().c_lflag & ECHO);
    }
    session.Send("\x03");
    ProcessResult result = session.Finish();
    EXPECT_FALSE(result.exited);
    EXPECT_EQ(SIGINT, result.code);
    EXPECT_NE(0u, session.Settings().c_lflag & ECHO);
    EXPECT_EQ(before, TreeOf(start_));
  }
}

// In a dialogue a command-line error is shown and the user decides; a user
// name the databases cannot hold is refused before any password is asked.
TEST_F(SetupFailure, DialogueAsksAboutErrorsAndRefusesBadUserNamesAtOnce) {
  PtySession session;
  ASSERT_TRUE(StartInTerminal(session, {"--no-backups", "-d", "server"}));
  ASSERT_TRUE(session.Expect(
      "ERROR: unknown command-line option: --no-backups (did you mean --no-backup?)\n"
      "Go on with the installation anyway? (yes or no) [no]: "));
  session.SendLine("yes");
  ASSERT_TRUE(session.Expect("(yes or no) [no]: "));
  session.SendLine("yes");
  ASSERT_TRUE(session.Expect("Installation directory ["));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("Username []: "));
  session.SendLine("ad\x16\x01min");
  ASSERT_TRUE(session.Expect(
      "ERROR: \"ad?min\" is not a valid user name: it contains a control character\n"));
  ASSERT_TRUE(session.Expect("Username []: "));
  EXPECT_FALSE(Contains(session.Output(), "Password"));
  session.Send("\x04");
  ProcessResult result = session.Finish();
  EXPECT_EQ(255, result.code);
  EXPECT_EQ(std::vector<std::string>{}, ListDirectory(start_));
}

}  // namespace
