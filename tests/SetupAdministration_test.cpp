// What an administrator does with an installation after setup: checks it
// against its record with Bin/verify, reads the record as any user, and
// finds an installation of an older setup still understood. Trees and
// records are compared as they stand on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/ShellQuote.h"
#include "tests/PtySession.h"
#include "tests/SetupPackageTest.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

using SetupAdministration = SetupPackage;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Sha256Sum(const std::string& path) {
  std::string output;
  RunShell("sha256sum < " + ShellQuote(path), &output);
  return output.substr(0, output.find(' '));
}

ProcessResult RunAs(const std::string& program, std::vector<std::string> args,
                    const std::string& user = "") {
  ProgramRun run;
  run.program = program;
  args.insert(args.begin(), program);
  if (!user.empty()) {
    run.program = "/usr/bin/setpriv";
    args.insert(args.begin(),
                {run.program, "--reuid=" + user, "--regid=nogroup", "--clear-groups"});
  }
  run.argv = args;
  return RunProgram(run);
}

TEST_F(SetupAdministration, VerifyNamesEachDifferenceAndNoSecret) {
  WriteDefaults("AdminPassword=Adm1n-secret\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  const std::string verify = server_ + "/Bin/verify";
  EXPECT_EQ(0755, ModeOf(verify));
  ProcessResult clean = RunAs(verify, {});
  EXPECT_EQ(0, clean.code);
  EXPECT_EQ("", clean.out);

  WriteFile(server_ + "/Content/welcome.txt", "the administrator's welcome\n", 0644);
  ASSERT_EQ(0, unlink((server_ + "/Docs/ReadMe.txt").c_str()));
  ASSERT_EQ(0, chmod((server_ + "/License.txt").c_str(), 0600));
  // The password changed in place, as the server's own pages change it: the
  // same size, another byte.
  std::string users = ReadFile(server_ + "/adm_b_db/users/admin");
  size_t at = users.find("Adm1n-secret");
  ASSERT_NE(std::string::npos, at) << users;
  users[at + 11] = 'T';
  WriteFile(server_ + "/adm_b_db/users/admin", users, 0600);
  auto before = TreeOf(server_);

  ProcessResult changed = RunAs(verify, {});
  EXPECT_EQ(1, changed.code);
  EXPECT_EQ(
      "changed Content/welcome.txt\n"
      "missing Docs/ReadMe.txt\n"
      "mode License.txt 0644 -> 0600\n"
      "changed adm_b_db/users/admin\n",
      changed.out);
  ProcessResult quiet = RunAs(verify, {"-q"});
  EXPECT_EQ(1, quiet.code);
  EXPECT_EQ("", quiet.out);
  EXPECT_EQ(before, TreeOf(server_));

  // Without a record it cannot tell.
  ASSERT_EQ(0, rename((server_ + "/install-manifest.txt").c_str(), (server_ + "/moved").c_str()));
  ProcessResult none = RunAs(verify, {});
  EXPECT_EQ(255, none.code);
  EXPECT_EQ("Error: no installation to verify here: " + server_ +
                "/install-manifest.txt: No such file or directory\n",
            none.out);
  ProcessResult unknown = RunAs(verify, {"--all"});
  EXPECT_EQ(255, unknown.code);
  EXPECT_EQ("Error: unknown option --all\n", unknown.out);
  EXPECT_EQ("Usage: verify [-q] [-h|--help]\n", unknown.err);
}

TEST_F(SetupAdministration, RecordReadByAnyoneTestsNoPasswordGuess) {
  if (geteuid() != 0)
    GTEST_SKIP() << "only root can read the record as another user";
  ASSERT_EQ(0, chmod(start_.c_str(), 0755));
  WriteDefaults("AdminPassword=Adm1n-secret\nEncoderPassword=Enc0der-secret\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);

  ProcessResult record = RunAs("/bin/cat", {server_ + "/install-manifest.txt"}, "nobody");
  ASSERT_EQ(0, record.code) << record.err;
  EXPECT_FALSE(Contains(record.out, "secret"));
  // Every file that holds a password is one that others may not read; none
  // is listed by a digest that a guess, made into such a file, could match.
  size_t secretFiles = 0;
  for (const auto& fields : FileLines(record.out)) {
    ASSERT_EQ(4u, fields.size());
    std::string path = server_ + "/" + fields[0];
    std::string content = ReadFile(path);
    if (Contains(content, "Adm1n-secret") || Contains(content, "Enc0der-secret")) {
      EXPECT_EQ(0, ModeOf(path) & 04) << fields[0];
    }
    if ((ModeOf(path) & 04) == 0) {
      ++secretFiles;
      EXPECT_FALSE(Contains(record.out, Sha256Sum(path))) << fields[0];
      EXPECT_EQ(0u, fields[3].find("hmac-sha256:")) << fields[0];
    }
  }
  // The five user files and the two configuration files.
  EXPECT_EQ(7u, secretFiles);
  ProcessResult key = RunAs("/bin/cat", {server_ + "/install-manifest.key"}, "nobody");
  EXPECT_NE(0, key.code);
  EXPECT_EQ("", key.out);
  // Nor can Bin/verify tell anyone else more.
  ProcessResult verify = RunAs(server_ + "/Bin/verify", {}, "nobody");
  EXPECT_EQ(255, verify.code);
  EXPECT_EQ(0u, verify.out.find("Error: ")) << verify.out;
  EXPECT_TRUE(Contains(verify.out, "Permission denied")) << verify.out;
  EXPECT_FALSE(Contains(verify.out, "secret"));
}

TEST_F(SetupAdministration, OlderRecordOfPlainDigestsWorksAndIsKeyedOnTheNextWrite) {
  WriteDefaults("AdminPassword=Adm1n-secret\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  // As an earlier setup wrote it: plain digests everywhere and no key.
  const std::string recordPath = server_ + "/install-manifest.txt";
  std::string record = ReadFile(recordPath);
  for (const auto& fields : FileLines(record)) {
    std::string keyed = fields[0] + "\t" + fields[1] + "\t" + fields[2] + "\thmac-sha256:";
    size_t at = record.find(keyed);
    if (at == std::string::npos)
      continue;
    record.replace(at, keyed.size() + 64,
                   fields[0] + "\t" + fields[1] + "\t" + fields[2] +
                       "\tsha256:" + Sha256Sum(server_ + "/" + fields[0]));
  }
  ASSERT_FALSE(Contains(record, "hmac-sha256:"));
  WriteFile(recordPath, record, 0644);
  ASSERT_EQ(0, unlink((server_ + "/install-manifest.key").c_str()));
  ProcessResult verify = RunAs(server_ + "/Bin/verify", {});
  EXPECT_EQ(0, verify.code);
  EXPECT_EQ("", verify.out);

  ProcessResult rerun = RunPackage({"-cfg", "inst.cfg"});
  EXPECT_EQ(0, rerun.code) << rerun.out;
  EXPECT_TRUE(Contains(rerun.out, "already installed, nothing to do")) << rerun.out;
  std::string rewritten = ReadFile(recordPath);
  for (const auto& fields : FileLines(rewritten)) {
    bool secret = (ModeOf(server_ + "/" + fields[0]) & 04) == 0;
    EXPECT_EQ(0u, fields[3].find(secret ? "hmac-sha256:" : "sha256:")) << fields[0];
  }
  EXPECT_EQ(0600, ModeOf(server_ + "/install-manifest.key"));
  verify = RunAs(server_ + "/Bin/verify", {});
  EXPECT_EQ(0, verify.code);
  EXPECT_EQ("", verify.out);
}

// The entries of a log, each without the date that begins it.
std::vector<std::string> LogEntries(const std::string& log) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\n2", start);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string entry = log.substr(start, end - start);
    // 2026-12-09T08:50:07Z: twenty characters.
    EXPECT_TRUE(entry.size() > 20 && entry[10] == 'T' && entry[19] == 'Z') << entry;
    entries.push_back(entry.substr(20));
    start = end;
  }
  return entries;
}

std::string HeaderValue(const std::string& record, const std::string& key) {
  size_t at = record.find("\n" + key + "=");
  if (at == std::string::npos)
    return "";
  at += key.size() + 2;
  return record.substr(at, record.find('\n', at) - at);
}

// A second build of the demo product, with another Bin/loopcast; change, a
// shell command run in the product's directory, changes it more.
std::string BuildSecondPackage(const TempDir& dir, const std::string& change = "true") {
  std::string stage = dir / "stage2";
  std::string copy =
      "cp -R '" DEMO_PRODUCT "' " + ShellQuote(stage) + " && (strip -o " +
      ShellQuote(stage + "/Bin/setup") + " '" SETUP_PROGRAM "' || cp '" SETUP_PROGRAM "' " +
      ShellQuote(stage + "/Bin/setup") + ") && echo '# second build' >> " +
      ShellQuote(stage + "/Bin/loopcast") + " && cd " + ShellQuote(stage) + " && " + change;
  EXPECT_EQ(0, RunShell(copy));
  ProgramRun build;
  build.program = MKPACKAGE;
  build.argv = {MKPACKAGE, stage, dir / "second.bin"};
  EXPECT_EQ(0, RunProgram(build).code);
  return dir / "second.bin";
}

TEST_F(SetupAdministration, EachRunThatChangesTheInstallationIsLogged) {
  WriteDefaults("AdminPassword=Adm1n-secret\n");
  const std::string logPath = server_ + "/Logs/install.log";
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  EXPECT_EQ(0640, ModeOf(logPath));
  const std::string version = HeaderValue(ReadFile(server_ + "/install-manifest.txt"), "version");
  const std::string first =
      HeaderValue(ReadFile(server_ + "/install-manifest.txt"), "package_digest");
  auto entries = LogEntries(ReadFile(logPath));
  ASSERT_EQ(1u, entries.size());
  const std::string head = ": version " + version + ", package ";
  EXPECT_EQ(0u, entries[0].find(" install " + server_ + head + first + "\n  added Bin/loopcast\n"))
      << entries[0];
  for (const char* file : {"Bin/uninstall", "Bin/verify", "adm_b_db/users/admin", "qmserver.cfg"})
    EXPECT_NE(std::string::npos, entries[0].find("\n  added " + std::string(file) + "\n")) << file;

  // Nothing to do changes nothing: no entry.
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  EXPECT_EQ(1u, LogEntries(ReadFile(logPath)).size());

  ASSERT_EQ(0, RunPackage({"-s", "--reinstall", "-cfg", "inst.cfg"}).code);
  const std::string moved =
      "  moved to .old: Bin\n  moved to .old: Plugins\n  moved to .old: Lib\n"
      "  moved to .old: qmserver.cfg\n  moved to .old: default.cfg\n";
  entries = LogEntries(ReadFile(logPath));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(" reinstall " + server_ + head + first + "\n" + moved, entries[1]);

  TempDir build;
  std::string second = BuildSecondPackage(build);
  ProgramRun upgrade;
  upgrade.program = second;
  upgrade.argv = {second, "-s", "-cfg", "inst.cfg"};
  upgrade.cwd = start_;
  ASSERT_EQ(0, RunProgram(upgrade).code);
  const std::string secondDigest =
      HeaderValue(ReadFile(server_ + "/install-manifest.txt"), "package_digest");
  ASSERT_NE(first, secondDigest);
  entries = LogEntries(ReadFile(logPath));
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ(
      " upgrade " + server_ + head + secondDigest + "\n" + moved + "  replaced Bin/loopcast\n",
      entries[2]);

  WriteFile(server_ + "/Content/welcome.txt", "the administrator's welcome\n", 0644);
  ProgramRun uninstall;
  uninstall.program = server_ + "/Bin/uninstall";
  uninstall.argv = {uninstall.program, "-s"};
  ASSERT_EQ(0, RunProgram(uninstall).code);
  std::string log = ReadFile(logPath);
  entries = LogEntries(log);
  ASSERT_EQ(4u, entries.size());
  EXPECT_EQ(0u, entries[3].find(" uninstall " + server_ + head + secondDigest +
                                "\n  removed Bin/loopcast\n"))
      << entries[3];
  EXPECT_NE(std::string::npos,
            entries[3].find("\n  removed adm_b_db/users/admin\n  removed cdi_b_db/flatfile.ctl\n"))
      << entries[3];
  EXPECT_NE(std::string::npos,
            entries[3].find("\n  kept as the administrator's (changed since installation): "
                            "Content/welcome.txt\n"))
      << entries[3];
  EXPECT_FALSE(Contains(log, "Adm1n-secret"));
  EXPECT_EQ(0640, ModeOf(logPath));
}

TEST_F(SetupAdministration, ProductNamesWithControlCharactersReachNoTerminal) {
  WriteDefaults();
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  // The package brings a file whose name clears the screen; the
  // installation has a directory of that name, which it must not replace.
  TempDir build;
  std::string odd = BuildSecondPackage(build, "printf x > \"$(printf 'Content/a\\033[2Jb')\"");
  MakeDirs(server_ + "/Content/a\x1b[2Jb/mine");
  auto before = TreeOf(server_);
  ProgramRun run;
  run.program = odd;
  run.argv = {odd, "-s", "-cfg", "inst.cfg"};
  run.cwd = start_;
  ProcessResult result = RunProgram(run);
  EXPECT_EQ(255, result.code);
  EXPECT_EQ("ERROR: Unable to install the product's files: " + server_ +
                "/Content/a?[2Jb is a directory that is not empty, where the product has a file; "
                "nothing has been changed\n",
            result.out);
  EXPECT_EQ(before, TreeOf(server_));
}

// The dialogue run again over an installation in the directory it offers:
// it says what is there, every default is the installation's, and Enter
// throughout (but at the license) leaves everything as it was.
TEST_F(SetupAdministration, InteractiveRerunWithEnterThroughoutChangesNothing) {
  server_ = start_;
  WriteDefaults("DefInstallPath=.\nAdminPassword=Adm1n-secret\n");
  ProcessResult first = RunPackage({"-s", "-cfg", "inst.cfg"});
  ASSERT_EQ(0, first.code) << first.out;
  ASSERT_EQ(0, unlink((start_ + "/inst.cfg").c_str()));
  std::string record = ReadFile(start_ + "/install-manifest.txt");
  auto before = TreeOf(start_);
  before.erase("install-manifest.txt");

  PtySession session;
  ProgramRun run;
  run.program = s_package;
  run.argv = {s_package};
  run.cwd = start_;
  run.env = {{"PAGER", "cat"}, {"TERM", "dumb"}};
  run.umask = 022;
  ASSERT_TRUE(session.Start(run));
  ASSERT_TRUE(session.Expect("An installation of version " + HeaderValue(record, "version") +
                             " from package " + HeaderValue(record, "package_digest") +
                             " is there: " + start_ +
                             "\nPress Enter at each question to keep what it has.\n"));
  ASSERT_TRUE(session.Expect("(yes or no) [no]: "));
  session.SendLine("yes");
  ASSERT_TRUE(session.Expect("Installation directory [" + start_ + "]: "));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("The administrator account"));
  ASSERT_TRUE(session.Expect("Username [admin]: "));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("Password (Enter keeps the existing one) []: "));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("The existing password of admin is kept.\n"));
  ASSERT_TRUE(session.Expect("Username [encoder]: "));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("Password (Enter keeps the existing one) []: "));
  session.SendLine("");
  ASSERT_TRUE(session.Expect("The existing password of encoder is kept.\n"));
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(session.Expect(std::string(ServerInstaller::g_pPortNames[i]) + " port [" +
                               std::to_string(ports_[i]) + "]: "))
        << session.Output();
    session.SendLine("");
  }
  ASSERT_TRUE(session.Expect("Install now? (yes or no) [yes]: "));
  session.SendLine("");
  ProcessResult result = session.Finish();
  EXPECT_EQ(0, result.code) << result.out;
  EXPECT_TRUE(Contains(result.out, "already installed, nothing to do.")) << result.out;
  EXPECT_FALSE(Contains(result.out, "Adm1n-secret"));
  auto after = TreeOf(start_);
  after.erase("install-manifest.txt");
  EXPECT_EQ(before, after);
  EXPECT_EQ("Adm1n-secret;*;1\n", ReadFile(start_ + "/adm_b_db/users/admin"));

  // Once more with another HTTP port: an upgrade, which says what changed.
  int other = 0;
  for (int port : FreePorts(7)) {
    if (std::find(ports_.begin(), ports_.end(), port) == ports_.end())
      other = port;
  }
  ASSERT_NE(0, other);
  PtySession again;
  ASSERT_TRUE(again.Start(run));
  ASSERT_TRUE(again.Expect("(yes or no) [no]: "));
  again.SendLine("yes");
  for (const char* question :
       {"Installation directory [", "Username [admin]: ", "(Enter keeps the existing one) []: ",
        "Username [encoder]: ", "(Enter keeps the existing one) []: ", "Monitor port [",
        "RTSP port [", "VQX port ["}) {
    ASSERT_TRUE(again.Expect(question)) << again.Output();
    again.SendLine("");
  }
  ASSERT_TRUE(again.Expect("HTTP port [" + std::to_string(ports_[3]) + "]: "));
  again.SendLine(std::to_string(other));
  for (const char* question : {"MMS port [", "Admin port [", "Install now? (yes or no) [yes]: "}) {
    ASSERT_TRUE(again.Expect(question)) << again.Output();
    again.SendLine("");
  }
  result = again.Finish();
  EXPECT_EQ(0, result.code) << result.out;
  EXPECT_TRUE(Contains(result.out, "has been upgraded.\n")) << result.out;
  EXPECT_TRUE(Contains(result.out, "Administrator password:  kept from the earlier installation"))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "Changed: http_port: " + std::to_string(ports_[3]) + " -> " +
                                       std::to_string(other) + "\n"))
      << result.out;
  EXPECT_EQ("Adm1n-secret;*;1\n", ReadFile(start_ + "/adm_b_db/users/admin"));
}

TEST_F(SetupAdministration, CheckOfAFirstInstallationDoesNotNameAPortItWillNotUse) {
  WriteDefaults();
  // No Admin port: the one drawn for the check is not the installation's.
  std::string text = ReadFile(start_ + "/inst.cfg");
  text.erase(text.find("AdminPort="),
             text.find('\n', text.find("AdminPort=")) + 1 - text.find("AdminPort="));
  WriteFile(start_ + "/inst.cfg", text);
  ProcessResult check = RunPackage({"--check", "-cfg", "inst.cfg"});
  EXPECT_EQ(0, check.code) << check.out;
  EXPECT_TRUE(Contains(check.out, ", Admin (a free port from 10000 to 29999 will be drawn)\n"))
      << check.out;
  // Once installed, the recorded port is named.
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  std::string port = HeaderValue(ReadFile(server_ + "/install-manifest.txt"), "admin_port");
  check = RunPackage({"--check", "-cfg", "inst.cfg"});
  EXPECT_TRUE(Contains(check.out, ", Admin " + port + "\n")) << check.out;
}

}  // namespace
