// End-to-end installations from a real package: the demo product with the
// real second-stage installer, assembled by mkpackage and run in temporary
// start directories, unattended and in a dialogue on a pseudo-terminal.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "credentials/PasswordTool.h"
#include "installer/ServerInstaller.h"
#include "templates/NewInstallerConfig.h"
#include "tests/LocalPorts.h"
#include "tests/PtySession.h"
#include "tests/SetupPackageTest.h"
#include "tests/Subprocess.h"

namespace {

TEST_F(SetupPackage, UnattendedInstallPutsEverythingInPlace) {
  WriteDefaults("AdminPassword=Adm1n-pw\n");
  ProcessResult run = RunPackage({"-cfg", "inst.cfg"});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(0, run.code) << run.out;

  // Every file of the product, with its mode.
  auto installed = Files(server_);
  for (const auto& file : Files(DEMO_PRODUCT))
    EXPECT_EQ(file.second, installed[file.first]) << file.first;
  ExpectWorkingFilesGone();
  EXPECT_FALSE(Exists(server_ + "/installer.cfg"));

  // The configuration, private to the installing user.
  std::string config = ReadFile(server_ + "/qmserver.cfg");
  EXPECT_EQ(config, ReadFile(server_ + "/default.cfg"));
  EXPECT_EQ(0600, ModeOf(server_ + "/qmserver.cfg"));
  EXPECT_EQ(0600, ModeOf(server_ + "/default.cfg"));
  EXPECT_EQ(0, config.compare(0, 23, "<?XML Version=\"1.0\" ?>\n"));
  EXPECT_NE(std::string::npos, config.find("<Var MonitorPassword=\"Adm1n-pw\"/>\n"));
  EXPECT_NE(std::string::npos, config.find("<Var PluginDirectory=\"" + server_ + "/Plugins\"/>\n"));
  // The whole text as the template writes it for these settings.
  std::string host = HostName();
  auto realm = [&host](const char* suffix) { return host + suffix; };
  EXPECT_EQ(
      NewInstallerConfig::CreateConfigFile(
          server_.c_str(), 0, ports_[1], ports_[2], ports_[3], ports_[4], ports_[0], ports_[5],
          "Adm1n-pw", "5", realm(".AdminRealm").c_str(), realm(".EncoderRealm").c_str(),
          realm(".RBSEncoderRealm").c_str(), realm(".WMEncoderRealm").c_str(), "Adm1n-pw",
          realm(".CDistRealm").c_str(), realm(".ContentRealm").c_str(), host.c_str()),
      config);

  // The accounts: the administrator's password as given, the encoder's as
  // generated and shown.
  std::string encoderPassword = ShownValue(run.out, "Encoder password");
  EXPECT_EQ(16u, encoderPassword.size()) << run.out;
  EXPECT_EQ(std::string::npos,
            encoderPassword.find_first_not_of("abcdefghijkmnopqrstuvwxyz23456789"));
  EXPECT_EQ("", ShownValue(run.out, "Administrator password"));
  EXPECT_EQ("Adm1n-pw;*;1\n", ReadFile(server_ + "/adm_b_db/users/admin"));
  EXPECT_EQ("Adm1n-pw;*;1\n", ReadFile(server_ + "/cdi_b_db/users/admin"));
  EXPECT_EQ(encoderPassword + ";*;1\n", ReadFile(server_ + "/enc_b_db/users/encoder"));
  char digest[64];
  PasswordTool::MakePasswordEntry("encoder", (host + ".EncoderRealm").c_str(),
                                  encoderPassword.c_str(), digest);
  EXPECT_EQ(std::string(digest) + ";*;1\n", ReadFile(server_ + "/enc_r_db/users/encoder"));
  PasswordTool::MakePasswordEntry("encoder", (host + ".WMEncoderRealm").c_str(),
                                  encoderPassword.c_str(), digest);
  EXPECT_EQ(std::string(digest) + ";*;1\n", ReadFile(server_ + "/enc_w_db/users/encoder"));
  for (const char* db : kDatabases) {
    for (const char* sub : {"users", "guids", "logs", "redirect"})
      EXPECT_TRUE(Exists(server_ + "/" + db + "/" + sub)) << db << "/" << sub;
    EXPECT_EQ(0600, ModeOf(server_ + "/" + db + "/users/" + (db[0] == 'e' ? "encoder" : "admin")));
  }

  // The loopcast script runs the product's tool with the server's paths.
  EXPECT_EQ(0755, ModeOf(server_ + "/Bin/loopcast.sh"));
  ProgramRun loopcast;
  loopcast.program = server_ + "/Bin/loopcast.sh";
  loopcast.argv = {loopcast.program, "localhost", "554", "enc", "pw", "live.sdp", "list.txt"};
  ProcessResult cast = RunProgram(loopcast);
  EXPECT_EQ(0, cast.code);
  EXPECT_NE(std::string::npos,
            cast.out.find("would broadcast with: localhost 554 enc pw live.sdp list.txt\n"));
  EXPECT_NE(std::string::npos, cast.out.find("plug-ins from   " + server_ + "/Plugins\n"));

  EXPECT_NE(std::string::npos, run.out.find("    Administration:          http://" + host + ":" +
                                            std::to_string(ports_[5]) + "/admin/\n"));
  EXPECT_NE(std::string::npos,
            run.out.find("    Configuration file:      " + server_ + "/qmserver.cfg\n"));
}

TEST_F(SetupPackage, ReinstallKeepsEarlierFilesAsOldUnlessToldNot) {
  WriteDefaults("AdminPassword=first\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  std::string first = ReadFile(server_ + "/qmserver.cfg");
  auto firstBin = Files(server_ + "/Bin");

  WriteDefaults("AdminPassword=second\n");
  ProcessResult second = RunPackage({"-s", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, second.code) << second.out;
  EXPECT_EQ(first, ReadFile(server_ + "/qmserver.cfg.old"));
  EXPECT_EQ(first, ReadFile(server_ + "/default.cfg.old"));
  EXPECT_EQ(firstBin, Files(server_ + "/Bin.old"));
  EXPECT_TRUE(Exists(server_ + "/Plugins.old/README"));
  EXPECT_TRUE(Exists(server_ + "/Lib.old/README"));
  EXPECT_EQ("second;*;1\n", ReadFile(server_ + "/adm_b_db/users/admin"));
  std::string secondConfig = ReadFile(server_ + "/qmserver.cfg");
  EXPECT_NE(std::string::npos, secondConfig.find("<Var MonitorPassword=\"second\"/>\n"));
  ExpectWorkingFilesGone();

  // With -nb nothing is moved aside: the backups are still the first's.
  WriteDefaults("AdminPassword=third\n");
  ProcessResult third = RunPackage({"-s", "-nb", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, third.code) << third.out;
  EXPECT_EQ(first, ReadFile(server_ + "/qmserver.cfg.old"));
  EXPECT_EQ(first, ReadFile(server_ + "/default.cfg.old"));
  EXPECT_NE(std::string::npos,
            ReadFile(server_ + "/qmserver.cfg").find("<Var MonitorPassword=\"third\"/>\n"));
  EXPECT_EQ(0600, ModeOf(server_ + "/qmserver.cfg"));
  EXPECT_EQ("third;*;1\n", ReadFile(server_ + "/cdi_b_db/users/admin"));
  ExpectWorkingFilesGone();
}

TEST_F(SetupPackage, EachReinstallKeepsOnlyThePreviousInstallationAsOld) {
  const char* const installs[] = {"first", "second", "third"};
  std::string config[3];
  std::map<std::string, std::map<std::string, std::string>> previous;
  for (int i = 0; i < 3; ++i) {
    if (i == 2) {
      for (const char* dir : {"Bin", "Plugins", "Lib"})
        previous[dir] = Files(server_ + "/" + dir);
    }
    WriteDefaults(std::string("AdminPassword=") + installs[i] + "\n");
    ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
    ASSERT_EQ(0, run.code) << installs[i] << ": " << run.out;
    config[i] = ReadFile(server_ + "/qmserver.cfg");
    // Something of the administrator's own after each installation in each
    // directory that is backed up.
    for (const char* dir : {"Bin", "Plugins", "Lib"})
      WriteFile(server_ + "/" + dir + "/" + installs[i], installs[i]);
  }
  // The backup is the second installation as it stood, nothing older; the
  // administrator's files went on with each new installation.
  for (const char* dir : {"Bin", "Plugins", "Lib"}) {
    std::string old = server_ + "/" + dir + ".old";
    EXPECT_EQ(previous[dir], Files(old)) << dir;
    EXPECT_FALSE(Exists(old + "/third")) << dir;
    EXPECT_FALSE(Exists(old + ".old")) << dir;
    for (const char* mine : installs)
      EXPECT_EQ(mine, ReadFile(server_ + "/" + dir + "/" + mine)) << dir;
  }
  for (const char* dir : {"Plugins", "Lib"}) {
    auto product = Files(std::string(DEMO_PRODUCT "/") + dir);
    product["first"] = "420 first";
    product["second"] = "420 second";
    EXPECT_EQ(product, Files(server_ + "/" + dir + ".old")) << dir;
  }
  EXPECT_EQ(config[1], ReadFile(server_ + "/qmserver.cfg.old"));
  EXPECT_EQ(config[1], ReadFile(server_ + "/default.cfg.old"));
  EXPECT_NE(std::string::npos, config[2].find("<Var MonitorPassword=\"third\"/>\n"));
  ExpectWorkingFilesGone();
}

TEST_F(SetupPackage, BackupThatCannotBeMadeStopsBeforeAnythingIsPlaced) {
  WriteDefaults("AdminPassword=first\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  WriteDefaults("AdminPassword=second\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  WriteFile(server_ + "/Bin/setup", "not this installer's", 0755);
  WriteDefaults("AdminPassword=third\n");
  {
    // An older backup that cannot be removed to make room for the new one.
    Immutable stuck(server_ + "/Bin.old/loopcast.sh");
    if (!stuck.ok())
      GTEST_SKIP() << "files cannot be made immutable here: " << stuck.why();
    auto before = Files(server_);
    ProcessResult run = RunPackage({"-cfg", "inst.cfg"});
    EXPECT_EQ(255, run.code);
    EXPECT_NE(std::string::npos,
              run.out.find("ERROR: Unable to remove an earlier backup (" + server_ +
                           "/Bin.old/loopcast.sh: Operation not permitted); nothing has been "
                           "installed\nCleaning up installation files..."))
        << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("has been installed.")) << run.out;
    // Only the older backup lost what could go of it.
    auto after = Files(server_);
    for (const auto& file : before) {
      if (file.first.compare(0, 8, "Bin.old/") != 0) {
        EXPECT_EQ(file.second, after[file.first]) << file.first;
      }
    }
    EXPECT_TRUE(Exists(server_ + "/Bin.old/loopcast.sh"));
    EXPECT_EQ("not this installer's", ReadFile(server_ + "/Bin/setup"));
    EXPECT_FALSE(Exists(start_ + "/qzsetup"));
  }
  {
    // A directory that cannot be moved aside: what moved goes back, and the
    // older backups are still there.
    Immutable stuck(server_ + "/Lib");
    ASSERT_TRUE(stuck.ok()) << stuck.why();
    auto before = Files(server_);
    ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
    EXPECT_EQ(255, run.code);
    EXPECT_EQ("ERROR: Unable to back up the earlier installation (" + server_ +
                  "/Lib could not be moved to Lib.old: Operation not permitted); the earlier "
                  "installation is unchanged\n",
              run.out);
    EXPECT_EQ(before, Files(server_));
    EXPECT_EQ("not this installer's", ReadFile(server_ + "/Bin/setup"));
    EXPECT_NE(std::string::npos,
              ReadFile(server_ + "/qmserver.cfg").find("<Var MonitorPassword=\"second\"/>\n"));
    EXPECT_FALSE(Exists(start_ + "/qzsetup"));
  }
}

TEST_F(SetupPackage, ProductFileWithoutRoomStopsBeforeTheBackup) {
  WriteDefaults("AdminPassword=earlier\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  // The administrator's notes where the product has its license.
  ASSERT_EQ(0, unlink((server_ + "/License.txt").c_str()));
  MakeDirs(server_ + "/License.txt");
  WriteFile(server_ + "/License.txt/notes", "the administrator's");
  // Without a record (an older setup's installation) nothing tells that it
  // stands where a file of the installation was, to be saved like one.
  ASSERT_EQ(0, unlink((server_ + "/install-manifest.txt").c_str()));
  auto earlier = Files(server_);

  ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, run.code);
  EXPECT_EQ("ERROR: Unable to install the product's files: " + server_ +
                "/License.txt is a directory that is not empty, where the product has a file; "
                "nothing has been changed\n",
            run.out);
  // The server keeps its programs and its configuration.
  EXPECT_EQ(earlier, Files(server_));
  ExpectWorkingFilesGone();
}

TEST_F(SetupPackage, SilentInstallShowsNothing) {
  WriteDefaults();
  ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("", run.err);
  EXPECT_TRUE(Exists(server_ + "/qmserver.cfg"));
  ExpectWorkingFilesGone();
}

TEST_F(SetupPackage, WrongPortsEndTheInstallationBeforeItBegins) {
  // An earlier installation that must come through untouched.
  WriteDefaults("AdminPassword=earlier\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  // Not this installer's: it must survive the clean-up of a refused run.
  WriteFile(server_ + "/Bin/setup", "another program", 0755);
  auto earlier = Files(server_);

  LoopbackSocket listener(true);
  ASSERT_NE(0, listener.port());
  std::string busy = std::to_string(listener.port());
  std::string rtsp = std::to_string(ports_[1]);
  const std::pair<std::string, std::string> cases[] = {
      {"RTSPPort=70000\n", "ERROR: RTSPPort 70000 is not a valid port (1 to 65535)\n"},
      {"HTTPPort=" + busy + "\n", "ERROR: HTTPPort " + busy + " is in use on this machine\n"},
      {"VQXPort=" + rtsp + "\n", "ERROR: VQXPort " + rtsp + " is already the RTSP port\n"},
  };
  for (const auto& c : cases) {
    WriteDefaults(c.first);
    ProcessResult run = RunPackage({"-p", "-cfg", "inst.cfg"});
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(255, run.code) << c.first;
    EXPECT_NE(std::string::npos, run.out.find(c.second + "Cleaning up installation files..."))
        << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("Installing")) << run.out;
    // A silent installation still says what is wrong, and nothing else.
    run = RunPackage({"-s", "-cfg", "inst.cfg"});
    EXPECT_EQ(255, run.code) << c.first;
    EXPECT_EQ(c.second, run.out);
    EXPECT_EQ(earlier, Files(server_)) << c.first;
    EXPECT_FALSE(Exists(start_ + "/qzsetup"));
  }
}

TEST_F(SetupPackage, UnreadableDefaultsFileLeavesAnEarlierInstallationAlone) {
  WriteDefaults("AdminPassword=earlier\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  // Not this installer's: the run ends before anything is placed.
  WriteFile(server_ + "/Bin/setup", "another program", 0755);
  auto earlier = Files(server_);

  ProcessResult run = RunPackage({"-d", "server", "-cfg", "missing.cfg"});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(255, run.code);
  EXPECT_NE(std::string::npos,
            run.out.find("ERROR: Unable to read installer config file missing.cfg (No such file "
                         "or directory)\nCleaning up installation files..."))
      << run.out;
  EXPECT_EQ(earlier, Files(server_));
  EXPECT_EQ("another program", ReadFile(server_ + "/Bin/setup"));
  EXPECT_FALSE(Exists(start_ + "/qzsetup"));
}

TEST_F(SetupPackage, MissingUserNameEndsTheInstallation) {
  std::string text = "DefInstallPath=server\nAdminUserID=admin\n";
  for (int i = 0; i < 6; ++i)
    text += std::string(kPortSettings[i]) + "=" + std::to_string(ports_[i]) + "\n";
  WriteFile(tmp_ / "inst.cfg", text);
  ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, run.code);
  EXPECT_EQ("ERROR: EncoderUserID is not set; an unattended installation needs it\n", run.out);
  EXPECT_FALSE(Exists(server_));
  ExpectWorkingFilesGone();
}

TEST_F(SetupPackage, DirectoryWithABlankIsRefusedBeforeAnythingIsInstalled) {
  WriteDefaults();
  // The directory from the command line, after the file, is the one used.
  ProcessResult run = RunPackage({"-s", "-cfg", "inst.cfg", "-d", "my server"});
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(255, run.code);
  EXPECT_EQ("ERROR: Cannot install into " + start_ +
                "/my server: its name contains a blank; only letters, digits and "
                "\"/._+,:@%=-\" may be used\n",
            run.out);
  EXPECT_EQ(std::vector<std::string>{"inst.cfg"}, ListDirectory(start_));
  ExpectWorkingFilesGone();
}

// The dialogue in a terminal: license, directory, both accounts (one
// password mistyped), ports (one taken by a listening socket, one given
// twice) and the confirmation.
TEST_F(SetupPackage, DialogueInATerminal) {
  LoopbackSocket taken(true);
  ASSERT_NE(0, taken.port());
  std::vector<int> free = FreePorts(6);
  std::string takenPort = std::to_string(taken.port());

  PtySession session;
  ASSERT_TRUE(StartInTerminal(session, {}, 022));

  ASSERT_TRUE(session.Expect("\nStrata Server 9.08 (9.0.8.1427) Installer\n\n"));
  ASSERT_TRUE(session.Expect("STRATA SERVER 9.08 DEMONSTRATION LICENSE"));
  ASSERT_TRUE(
      session.Expect("Do you accept the terms of the license agreement? (yes or no) [no]: "));
  session.SendLine("maybe");
  ASSERT_TRUE(session.Expect("Please answer yes or no.\n"));
  ASSERT_TRUE(session.Expect("[no]: "));
  session.SendLine("yes");

  ASSERT_TRUE(session.Expect("Installation directory [" + start_ + "]: "));
  session.SendLine("server");

  ASSERT_TRUE(session.Expect("The administrator account"));
  ASSERT_TRUE(session.Expect("Username []: "));
  session.SendLine("admin");
  ASSERT_TRUE(session.Expect("Password []: "));
  session.SendLine("Adm1n-secret");
  ASSERT_TRUE(session.Expect("Confirm Password []: "));
  session.SendLine("Adm1n-typo");
  ASSERT_TRUE(session.Expect("Passwords don't match!\nPress [Enter] to try again."));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("Username [admin]: "));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("Password []: "));
  session.SendLine("Adm1n-secret");
  ASSERT_TRUE(session.Expect("Confirm Password []: "));
  session.SendLine("Adm1n-secret");

  ASSERT_TRUE(session.Expect("The encoder account"));
  ASSERT_TRUE(session.Expect("Username []: "));
  session.SendLine("encoder");
  ASSERT_TRUE(session.Expect("Password []: "));
  session.SendLine("Enc0der-secret");
  ASSERT_TRUE(session.Expect("Confirm Password []: "));
  session.SendLine("Enc0der-secret");

  ASSERT_TRUE(session.Expect("Monitor port [9090]: "));
  session.SendLine(std::to_string(free[0]));
  ASSERT_TRUE(session.Expect("RTSP port [554]: "));
  session.SendLine(takenPort);
  ASSERT_TRUE(session.Expect("ERROR: Port " + takenPort +
                             " is in use on this machine; choose another for RTSP.\n"));
  ASSERT_TRUE(session.Expect("RTSP port [554]: "));
  session.SendLine(std::to_string(free[1]));
  ASSERT_TRUE(session.Expect("VQX port [7070]: "));
  session.SendLine(std::to_string(free[1]));
  ASSERT_TRUE(session.Expect("ERROR: Port " + std::to_string(free[1]) +
                             " is already the RTSP port; choose another for VQX.\n"));
  ASSERT_TRUE(session.Expect("VQX port [7070]: "));
  session.SendLine("port");
  ASSERT_TRUE(session.Expect("ERROR: port is not a valid port; enter a number from 1 to 65535.\n"));
  session.SendLine(std::to_string(free[2]));
  ASSERT_TRUE(session.Expect("HTTP port [80]: "));
  session.SendLine(std::to_string(free[3]));
  ASSERT_TRUE(session.Expect("MMS port [1755]: "));
  session.SendLine(std::to_string(free[4]));
  ASSERT_TRUE(session.Expect("Admin port ["));
  ASSERT_TRUE(session.Expect("]: "));
  session.SendLine(std::to_string(free[5]));

  ASSERT_TRUE(session.Expect("    Installation directory:  " + server_ + "\n"));
  ASSERT_TRUE(session.Expect("Install now? (yes or no) [yes]: "));
  session.SendLine("");
  ProcessResult result = session.Finish();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(0, result.code) << result.out;

  // Typed passwords are neither echoed nor shown in the summary.
  for (const char* secret : {"Adm1n-secret", "Adm1n-typo", "Enc0der-secret"})
    EXPECT_EQ(std::string::npos, result.out.find(secret)) << secret;
  EXPECT_EQ(std::string::npos, result.out.find("(generated)"));
  EXPECT_EQ("Adm1n-secret;*;1\n", ReadFile(server_ + "/adm_b_db/users/admin"));
  EXPECT_EQ("Enc0der-secret;*;1\n", ReadFile(server_ + "/enc_b_db/users/encoder"));
  std::string config = ReadFile(server_ + "/qmserver.cfg");
  EXPECT_NE(std::string::npos, config.find("<Var RTSPPort=\"" + std::to_string(free[1]) + "\"/>"));
  EXPECT_NE(std::string::npos, config.find("<Var AdminPort=\"" + std::to_string(free[5]) + "\"/>"));
  EXPECT_FALSE(Exists(server_ + "/_license.txt"));
  ExpectWorkingFilesGone();

  // The answers install again without questions: the same installation,
  // so nothing to do; asked to reinstall, the accounts keep their
  // passwords, and the configuration its monitor password.
  std::string answers = ReadFile(server_ + "/installer.cfg");
  EXPECT_NE(std::string::npos, answers.find("\nDefInstallPath=" + server_ + "\n"));
  EXPECT_NE(std::string::npos, answers.find("\nAdminUserID=admin\nEncoderUserID=encoder\n"));
  EXPECT_NE(std::string::npos, answers.find("\nVQXPort=" + std::to_string(free[2]) + "\n"));
  EXPECT_EQ(std::string::npos, answers.find("secret"));
  ProcessResult same = RunPackage({"-cfg", "server/installer.cfg"});
  EXPECT_EQ(0, same.code) << same.out;
  EXPECT_NE(std::string::npos, same.out.find("already installed, nothing to do")) << same.out;
  EXPECT_FALSE(Exists(server_ + "/qmserver.cfg.old"));
  ProcessResult again = RunPackage({"--reinstall", "-cfg", "server/installer.cfg"});
  EXPECT_EQ(0, again.code) << again.out;
  EXPECT_NE(std::string::npos, again.out.find("Strata Server 9.08 has been reinstalled.\n"));
  EXPECT_EQ("kept", ShownValue(again.out, "Administrator password")) << again.out;
  EXPECT_EQ("kept", ShownValue(again.out, "Encoder password")) << again.out;
  EXPECT_EQ("Adm1n-secret;*;1\n", ReadFile(server_ + "/adm_b_db/users/admin"));
  EXPECT_EQ("Enc0der-secret;*;1\n", ReadFile(server_ + "/enc_b_db/users/encoder"));
  EXPECT_EQ(config, ReadFile(server_ + "/qmserver.cfg.old"));
  EXPECT_NE(std::string::npos,
            ReadFile(server_ + "/qmserver.cfg").find("<Var MonitorPassword=\"Adm1n-secret\"/>\n"));
}

TEST_F(SetupPackage, DeclinedLicenseInstallsNothing) {
  PtySession session;
  ASSERT_TRUE(StartInTerminal(session, {"-d", "server"}));
  ASSERT_TRUE(session.Expect("(yes or no) [no]: "));
  session.SendLine("");
  ASSERT_TRUE(
      session.Expect("The license agreement was not accepted; nothing has been installed.\n"));
  ProcessResult result = session.Finish();
  EXPECT_EQ(255, result.code);
  EXPECT_FALSE(Exists(server_));
  EXPECT_FALSE(Exists(start_ + "/qzsetup"));
}

TEST_F(SetupPackage, EndOfInputInTheDialogueInstallsNothing) {
  ProcessResult run = RunPackage({"-d", "server"});
  EXPECT_EQ(255, run.code);
  EXPECT_NE(std::string::npos,
            run.out.find("ERROR: The input ended before the installation was confirmed; nothing "
                         "has been installed.\n"));
  EXPECT_FALSE(Exists(server_));
  ExpectWorkingFilesGone();
}

}  // namespace
