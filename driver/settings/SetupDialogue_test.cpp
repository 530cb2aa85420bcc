#include "driver/settings/SetupDialogue.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/Path.h"
#include "driver/settings/InstallPath.h"
#include "driver/settings/SetupInstaller.h"
#include "tests/LocalPorts.h"
#include "tests/Subprocess.h"

namespace {

// A package's start directory with its extraction directory "qzsetup",
// which holds the license and is the working directory while a test runs.
class SetupDialogueTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    extract_ = MakeDirs(Path("qzsetup"));
    WriteFile(extract_ + "/License.txt", "terms");
    ASSERT_EQ(0, chdir(extract_.c_str()));
    start_ = DirectoryOf(CurrentDir());
  }

  // The framework's settings after the given command line (after the
  // program name), as the dialogue finds them.
  void Configure(SetupInstaller& installer, std::vector<const char*> args) {
    installer.SetDefaults();
    args.insert(args.begin(), "./Bin/setup");
    installer.ParseCmdLine(static_cast<int>(args.size()), args.data());
  }

  std::string extract_;
  std::string start_;
};

}  // namespace

// The dialogue with its answers typed ahead on standard input: a
// directory, then passwords, that the server's files cannot hold are
// refused with the rule they break and asked for again at once.
TEST_F(SetupDialogueTest, AsksAgainForWhatTheServersFilesCannotHold) {
  std::vector<int> ports = FreePorts(6);
  std::string input =
      "yes\n"   // the license
      "\n"      // the directory given, which has a blank
      "a$b\n"   // then one with shell syntax
      "inst\n"  // then a good one
      "admin\npa<ss\ngood\ngood\n"
      "encoder\nR&D\n\nse;cret\nenc\n\nenc\n";
  for (int port : ports)
    input += std::to_string(port) + "\n";
  input += "no\n";
  ProcessResult child = RunForked([&] {
    FeedStandardInput(input);
    setenv("PAGER", "cat", 1);
    SetupInstaller installer;
    Configure(installer, {});
    installer.m_szDefInstallPath = installer.OwnedText(start_ + "/my media");
    SetupDialogue dialogue(installer, start_, extract_);
    std::string result;
    dialogue.Ask(&result);
    printf("\n[%s][%s][%s][%s]", result.c_str(), installer.m_szDefInstallPath,
           installer.m_szAdminPassword, installer.m_szEncoderPassword);
  });
  ASSERT_TRUE(child.exited);
  const std::string rule = "; only letters, digits and \"/._+,:@%=-\" may be used\n";
  const std::string passwordRule =
      " (a password must not be empty or longer than 4096 characters, and must not contain \", "
      "<, >, &, ; or control characters)\n";
  const std::string start = CanonicalPath(root_);
  const std::string expected[] = {
      "Installation directory [" + start + "/my media]: ",
      "ERROR: Cannot install into " + start + "/my media: its name contains a blank" + rule,
      "Installation directory [" + start + "/my media]: ",
      "ERROR: Cannot install into " + start + "/a$b: its name contains \"$\"" + rule,
      "Installation directory [" + start + "/my media]: ",
      "Username []: Password []: \nERROR: The password cannot go into the server's files: "
      "it contains \"<\"" +
          passwordRule,
      "Password []: \nConfirm Password []: \n",
      "Username []: Password []: \nERROR: The password cannot go into the server's files: "
      "it contains \"&\"" +
          passwordRule,
      "Password []: \nERROR: The password cannot go into the server's files: it is empty" +
          passwordRule,
      "Password []: \nERROR: The password cannot go into the server's files: it contains \";\"" +
          passwordRule,
      "Password []: \nConfirm Password []: \nERROR: The password cannot go into the server's "
      "files: it is empty" +
          passwordRule,
      "Confirm Password []: \n",
      "Install now? (yes or no) [yes]: ",
      "\n[Installation cancelled; nothing has been installed.\n][" + start + "/inst][good][enc]",
  };
  size_t at = 0;
  for (const std::string& text : expected) {
    size_t found = child.out.find(text, at);
    ASSERT_NE(std::string::npos, found) << "missing after " << at << ": " << text << "\n"
                                        << child.out;
    at = found + text.size();
  }
  EXPECT_FALSE(Exists(Path("inst")));
}

TEST_F(SetupDialogueTest, DoesNotBeginWithARealmTheConfigurationCannotHold) {
  WriteFile(Path("inst.cfg"), "EncoderRealm=R&D\n");
  ProcessResult child = RunForked([&] {
    SetupInstaller installer;
    Configure(installer, {"-cfg", "inst.cfg"});
    SetupDialogue dialogue(installer, start_, extract_);
    std::string error;
    bool confirmed = dialogue.Ask(&error);
    printf("%s[%s]", confirmed ? "confirmed" : "", error.c_str());
  });
  EXPECT_EQ(std::string("Option: read installer configuration from inst.cfg\n") +
                "\nStrata Server 9.08 (9.0.8.1427) Installer\n\n" +
                "[ERROR: EncoderRealm cannot go into the server's files: it contains \"&\"\n]",
            child.out);
}
