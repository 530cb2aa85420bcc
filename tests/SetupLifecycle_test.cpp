// The life of an installation from real packages of the demo product: a
// check before, the record of what was installed, a rerun that changes
// nothing, an upgrade, the removal by Bin/uninstall, setup's help and a
// port below 1024 chosen without root. Trees are compared before and after.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/ShellQuote.h"
#include "installer/ServerInstaller.h"
#include "tests/LocalPorts.h"
#include "tests/PtySession.h"
#include "tests/SetupPackageTest.h"
#include "tests/Subprocess.h"
#include "tests/TestFiles.h"

namespace {

using SetupLifecycle = SetupPackage;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The last line of output, without its line feed.
std::string LastLine(const std::string& output) {
  std::string text = output;
  while (!text.empty() && text.back() == '\n')
    text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

// The key=value lines of a manifest's header.
std::map<std::string, std::string> Header(const std::string& manifest) {
  std::map<std::string, std::string> header;
  size_t start = 0;
  while (start < manifest.size()) {
    size_t end = manifest.find('\n', start);
    std::string line = manifest.substr(start, end - start);
    start = end == std::string::npos ? manifest.size() : end + 1;
    size_t equals = line.find('=');
    if (line.compare(0, 5, "file\t") != 0 && line[0] != '#' && equals != std::string::npos)
      header[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return header;
}

// The manifest without its installed_at line.
std::string WithoutDate(const std::string& manifest) {
  size_t at = manifest.find("\ninstalled_at=");
  if (at == std::string::npos)
    return manifest;
  return manifest.substr(0, at) + manifest.substr(manifest.find('\n', at + 1));
}

std::string Sha256Sum(const std::string& path) {
  std::string output;
  RunShell("sha256sum < " + ShellQuote(path), &output);
  return output.substr(0, output.find(' '));
}

// The HMAC-SHA256 of a file's content under a key given in hexadecimal,
// as openssl computes it.
std::string HmacSha256(const std::string& hexKey, const std::string& path) {
  std::string output;
  RunShell("openssl dgst -sha256 -mac HMAC -macopt hexkey:" + hexKey + " < " + ShellQuote(path),
           &output);
  output = output.substr(output.rfind(' ') + 1);
  return output.substr(0, output.find('\n'));
}

// Entries of a TreeOf whose path is name or lies below it.
std::map<std::string, std::string> Below(const std::map<std::string, std::string>& tree,
                                         const std::string& name) {
  std::map<std::string, std::string> below;
  for (const auto& entry : tree) {
    if (entry.first == name || entry.first.compare(0, name.size() + 1, name + "/") == 0)
      below[entry.first.substr(name.size())] = entry.second;
  }
  return below;
}

// The demo product with one file changed, packed as another package with
// mkpackage's options.
std::string BuildSecondPackage(const TempDir& dir, const std::vector<std::string>& options = {}) {
  std::string stage = dir / "stage2";
  std::string copy = "cp -R '" DEMO_PRODUCT "' " + ShellQuote(stage) + " && (strip -o " +
                     ShellQuote(stage + "/Bin/setup") +
                     " '" SETUP_PROGRAM "' || cp '" SETUP_PROGRAM "' " +
                     ShellQuote(stage + "/Bin/setup") + ") && echo '# second build' >> " +
                     ShellQuote(stage + "/Bin/loopcast");
  EXPECT_EQ(0, RunShell(copy));
  ProgramRun build;
  build.program = MKPACKAGE;
  build.argv = {MKPACKAGE};
  build.argv.insert(build.argv.end(), options.begin(), options.end());
  build.argv.push_back(stage);
  build.argv.push_back(dir / "second.bin");
  EXPECT_EQ(0, RunProgram(build).code);
  return dir / "second.bin";
}

TEST_F(SetupLifecycle, CheckChangesNothingAndEndsWithItsVerdict) {
  WriteDefaults();
  auto before = TreeOf(start_);
  ProcessResult check = RunPackage({"--check", "-cfg", "inst.cfg"});
  EXPECT_EQ(0, check.code) << check.out;
  EXPECT_EQ("Check: install", LastLine(check.out)) << check.out;
  EXPECT_TRUE(Contains(check.out, server_)) << check.out;
  EXPECT_TRUE(Contains(check.out, std::to_string(ports_[5]))) << check.out;
  EXPECT_EQ(before, TreeOf(start_));
  // Silent: the verdict alone.
  EXPECT_EQ("Check: install\n", RunPackage({"-s", "--check", "-cfg", "inst.cfg"}).out);
  EXPECT_EQ(before, TreeOf(start_));

  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  auto installed = TreeOf(start_);
  EXPECT_EQ("Check: nothing to do\n", RunPackage({"-s", "--check", "-cfg", "inst.cfg"}).out);
  EXPECT_EQ("Check: reinstall\n",
            RunPackage({"-s", "--check", "--reinstall", "-cfg", "inst.cfg"}).out);
  EXPECT_EQ(installed, TreeOf(start_));

  // Another port: an upgrade, and the plan says which setting changes.
  int rtsp = FreePorts(1)[0];
  WriteDefaults("RTSPPort=" + std::to_string(rtsp) + "\n");
  installed = TreeOf(start_);
  ProcessResult upgrade = RunPackage({"--check", "-cfg", "inst.cfg"});
  EXPECT_EQ(0, upgrade.code) << upgrade.out;
  EXPECT_TRUE(Contains(upgrade.out, "Changed: rtsp_port: " + std::to_string(ports_[1]) + " -> " +
                                        std::to_string(rtsp) + "\n"))
      << upgrade.out;
  EXPECT_FALSE(Contains(upgrade.out, "Changed: package_digest")) << upgrade.out;
  EXPECT_EQ("Check: upgrade", LastLine(upgrade.out));
  EXPECT_EQ(installed, TreeOf(start_));
}

// What makes a rerun the same installation: the record's settings (an
// Admin port that no defaults file sets is the record's, not a new draw),
// the passwords the accounts hold, and a package known by its digest.
TEST_F(SetupLifecycle, OnlyTheSameKnownPackageAndSettingsAreNothingToDo) {
  std::string defaults = "DefInstallPath=server\nAdminUserID=admin\nEncoderUserID=encoder\n";
  for (int i = 0; i < 5; ++i)
    defaults += std::string(kPortSettings[i]) + "=" + std::to_string(ports_[i]) + "\n";
  WriteFile(start_ + "/inst.cfg", defaults + "NonInteractiveInstall=1\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  std::string adminPort = Header(ReadFile(server_ + "/install-manifest.txt"))["admin_port"];
  EXPECT_EQ("Check: nothing to do\n", RunPackage({"-s", "--check", "-cfg", "inst.cfg"}).out);

  WriteFile(start_ + "/inst.cfg", defaults + "AdminPassword=Adm1n-new\n");
  ProcessResult password = RunPackage({"-p", "--check", "-cfg", "inst.cfg"});
  EXPECT_EQ("Check: upgrade", LastLine(password.out)) << password.out;
  EXPECT_FALSE(Contains(password.out, "Adm1n-new")) << password.out;
  EXPECT_FALSE(Contains(password.out, "Changed:")) << password.out;

  // A package without a checksum cannot show that it is the same one.
  TempDir build;
  ProgramRun unknown;
  unknown.program = BuildSecondPackage(build, {"--no-checksum"});
  unknown.argv = {unknown.program, "-s", "-cfg", "inst.cfg"};
  unknown.cwd = start_;
  WriteFile(start_ + "/inst.cfg", defaults);
  ASSERT_EQ(0, RunProgram(unknown).code);
  auto header = Header(ReadFile(server_ + "/install-manifest.txt"));
  EXPECT_EQ("none", header["package_digest"]);
  EXPECT_EQ(adminPort, header["admin_port"]);
  unknown.argv = {unknown.program, "-p", "--check", "-cfg", "inst.cfg"};
  ProcessResult again = RunProgram(unknown);
  EXPECT_EQ("Check: upgrade", LastLine(again.out)) << again.out;
  EXPECT_TRUE(Contains(again.out, "\nChanged: package_digest: none -> none\n")) << again.out;
}

// A port held on IPv4, one held on IPv6 alone, and a directory that cannot
// be: the check ends as the installation would, with its very message.
TEST_F(SetupLifecycle, CheckRefusesWithTheInstallationsOwnMessage) {
  LoopbackSocket ipv4(true);
  Ipv6LoopbackListener ipv6;
  ASSERT_NE(0, ipv4.port());
  std::vector<std::pair<std::string, std::string>> cases = {
      {"RTSPPort=" + std::to_string(ipv4.port()) + "\n",
       "RTSPPort " + std::to_string(ipv4.port()) + " is in use"},
      {"DefInstallPath=my media\n", "my media: its name contains a blank"},
  };
  // A machine without IPv6 has no port to hold there.
  if (ipv6.port() != 0) {
    cases.push_back({"HTTPPort=" + std::to_string(ipv6.port()) + "\n",
                     "HTTPPort " + std::to_string(ipv6.port()) + " is in use"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    WriteDefaults(c.first);
    auto before = TreeOf(start_);
    ProcessResult check = RunPackage({"-s", "--check", "-cfg", "inst.cfg"});
    EXPECT_EQ(255, check.code);
    EXPECT_TRUE(Contains(check.out, c.second)) << check.out;
    EXPECT_FALSE(Contains(check.out, "Check:")) << check.out;
    EXPECT_EQ(before, TreeOf(start_));
    ProcessResult install = RunPackage({"-s", "-cfg", "inst.cfg"});
    EXPECT_EQ(255, install.code);
    EXPECT_EQ(install.out, check.out);
    EXPECT_EQ(before, TreeOf(start_));
  }
}

TEST_F(SetupLifecycle, ManifestRecordsEveryPlacedFileAndNoPassword) {
  WriteDefaults("AdminPassword=Adm1n-secret\n");
  ProcessResult run = RunPackage({"-cfg", "inst.cfg"});
  ASSERT_EQ(0, run.code) << run.out;
  std::string encoderPassword = ShownValue(run.out, "Encoder password");
  ASSERT_EQ(16u, encoderPassword.size()) << run.out;

  std::string path = server_ + "/install-manifest.txt";
  EXPECT_EQ(0644, ModeOf(path));
  std::string manifest = ReadFile(path);
  EXPECT_FALSE(Contains(manifest, "Adm1n-secret"));
  EXPECT_FALSE(Contains(manifest, encoderPassword));

  std::string info;
  RunShell(std::string("'" MKPACKAGE "' --info ") + ShellQuote(s_package), &info);
  size_t checksum = info.find("Checksum:");
  ASSERT_NE(std::string::npos, checksum) << info;
  std::string kind = info.substr(info.find_first_not_of(' ', checksum + 9));
  kind = kind.substr(0, kind.find('\n'));
  auto header = Header(manifest);
  EXPECT_EQ("1", header["format"]);
  EXPECT_EQ("Strata Server", header["product"]);
  EXPECT_EQ("9.08", header["release"]);
  EXPECT_EQ(kind.substr(0, kind.find(' ')) + ":" + kind.substr(kind.find(' ') + 1),
            header["package_digest"]);
  EXPECT_EQ(server_, header["install_dir"]);
  EXPECT_EQ("admin", header["admin_user"]);
  EXPECT_EQ("encoder", header["encoder_user"]);
  EXPECT_EQ(HostName() + ".ContentRealm", header["content_realm"]);
  const char* portKeys[] = {"monitor_port", "rtsp_port", "vqx_port",
                            "http_port",    "mms_port",  "admin_port"};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(std::to_string(ports_[i]), header[portKeys[i]]) << portKeys[i];
  EXPECT_EQ("1", header["backup_old_files"]);
  EXPECT_EQ("", header["moved_to_old"]);

  // One line per file and link of the installation, each as it is on disk.
  std::set<std::string> onDisk;
  VisitTree(server_, [&](const std::string& relative, const struct stat& st) {
    if (!S_ISDIR(st.st_mode) && relative != "install-manifest.txt" &&
        relative != "install-manifest.key" && relative != "Logs/install.log")
      onDisk.insert(relative);
  });
  // The installation's key: the owner's alone.
  std::string key = ReadFile(server_ + "/install-manifest.key");
  EXPECT_EQ(0600, ModeOf(server_ + "/install-manifest.key"));
  ASSERT_EQ(65u, key.size());
  key.pop_back();
  std::set<std::string> listed;
  size_t lines = 0;
  for (const auto& fields : FileLines(manifest)) {
    ++lines;
    const std::string& line = fields[0];  // named in a failure
    ASSERT_EQ(4u, fields.size()) << line;
    std::string file = server_ + "/" + fields[0];
    listed.insert(fields[0]);
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", ModeOf(file));
    EXPECT_EQ(mode, fields[1]) << line;
    EXPECT_EQ(std::to_string(ReadFile(file).size()), fields[2]) << line;
    // A file that others may not read can hold a password: it is listed by
    // its HMAC under the key, which only the owner can test a guess with.
    if ((ModeOf(file) & 04) != 0)
      EXPECT_EQ("sha256:" + Sha256Sum(file), fields[3]) << line;
    else
      EXPECT_EQ("hmac-sha256:" + HmacSha256(key, file), fields[3]) << line;
  }
  EXPECT_EQ(onDisk, listed);
  EXPECT_EQ(std::to_string(lines), header["files"]);
  EXPECT_TRUE(listed.count("Bin/uninstall"));
  EXPECT_TRUE(listed.count("qmserver.cfg"));
  EXPECT_TRUE(listed.count("adm_b_db/users/admin"));
  EXPECT_FALSE(Exists(server_ + "/Bin/setup"));
  // Where the configuration sends the logs.
  EXPECT_EQ(0750, ModeOf(server_ + "/Logs"));
  EXPECT_TRUE(Contains(ReadFile(server_ + "/qmserver.cfg"), server_ + "/Logs/"));
}

// Compares every file line of dir's record with the file on disk: the
// digest as sha256sum (or openssl, for a keyed one) computes it.
void ExpectRecordMatchesDisk(const std::string& dir) {
  std::string key = ReadFile(dir + "/install-manifest.key");
  ASSERT_EQ(65u, key.size()) << dir;
  key.pop_back();
  auto lines = FileLines(ReadFile(dir + "/install-manifest.txt"));
  EXPECT_LT(10u, lines.size()) << dir;
  for (const auto& fields : lines) {
    ASSERT_EQ(4u, fields.size()) << fields[0];
    const std::string file = dir + "/" + fields[0];
    if (fields[1] == "link")
      continue;
    EXPECT_EQ(std::to_string(ReadFile(file).size()), fields[2]) << fields[0];
    if ((ModeOf(file) & 04) != 0)
      EXPECT_EQ("sha256:" + Sha256Sum(file), fields[3]) << fields[0];
    else
      EXPECT_EQ("hmac-sha256:" + HmacSha256(key, file), fields[3]) << fields[0];
  }
}

// The demo product with the real setup, in dir/stage.
std::string StageProduct(const TempDir& dir) {
  std::string stage = dir / "stage";
  EXPECT_EQ(0, RunShell("cp -R '" DEMO_PRODUCT "' " + ShellQuote(stage) +
                        " && cp '" SETUP_PROGRAM "' " + ShellQuote(stage + "/Bin/setup")));
  return stage;
}

int BuildPackage(const std::vector<std::string>& args) {
  ProgramRun build;
  build.program = MKPACKAGE;
  build.argv = {MKPACKAGE};
  build.argv.insert(build.argv.end(), args.begin(), args.end());
  return RunProgram(build).code;
}

TEST_F(SetupLifecycle, PackagedDigestsStandOnlyForTheFilesSetupDidNotWrite) {
  WriteDefaults();
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  // The product brings files where setup writes its own, of the very size
  // setup's have: only their content tells them apart.
  const char* generated[] = {"qmserver.cfg", "default.cfg", "Bin/loopcast.sh"};
  TempDir build;
  std::string stage = StageProduct(build);
  for (const char* name : generated)
    WriteFile(stage + "/" + name, std::string(ReadFile(server_ + "/" + name).size(), 'x'));
  ASSERT_EQ(0, RunShell("rm -rf " + ShellQuote(server_)));
  std::string package = build / "twins.bin";
  ASSERT_EQ(0, BuildPackage({"--type", "tzst", stage, package}));
  std::string listing;
  RunShell(std::string("'" MKPACKAGE "' --list ") + ShellQuote(package), &listing);
  EXPECT_TRUE(Contains(listing, "./.digests-by-installation-package\n")) << listing;

  ProgramRun run;
  run.program = package;
  run.argv = {package, "-s", "-cfg", "inst.cfg"};
  run.cwd = start_;
  ASSERT_EQ(0, RunProgram(run).code);
  for (const char* name : generated) {
    std::string content = ReadFile(server_ + "/" + name);
    EXPECT_EQ(ReadFile(stage + "/" + name).size(), content.size()) << name;
    EXPECT_EQ(std::string::npos, content.find("xxxxxxxx")) << name;
  }
  EXPECT_FALSE(Exists(server_ + "/.digests-by-installation-package"));
  EXPECT_FALSE(Contains(ReadFile(server_ + "/install-manifest.txt"), ".digests-by"));
  ExpectRecordMatchesDisk(server_);

  ProgramRun verify;
  verify.program = server_ + "/Bin/verify";
  verify.argv = {verify.program};
  ProcessResult verified = RunProgram(verify);
  EXPECT_EQ(0, verified.code) << verified.out;
  run.argv = {package, "-cfg", "inst.cfg"};
  ProcessResult rerun = RunProgram(run);
  EXPECT_TRUE(Contains(rerun.out, "already installed, nothing to do")) << rerun.out;
}

TEST_F(SetupLifecycle, PackageWithoutUsableDigestsIsRecordedFromTheFiles) {
  TempDir build;
  std::string stage = StageProduct(build);
  std::vector<std::string> files;
  VisitTree(stage, [&](const std::string& relative, const struct stat& st) {
    if (S_ISREG(st.st_mode))
      files.push_back(relative);
  });
  ASSERT_LT(5u, files.size());
  // Wrong digests that setup would record if it trusted them: for files of
  // other sizes, and in a list malformed at its end.
  std::string wrongSizes;
  std::string malformed;
  for (const std::string& file : files) {
    size_t size = ReadFile(stage + "/" + file).size();
    wrongSizes += std::string(64, 'f') + " " + std::to_string(size + 1) + " " + file + "\n";
    malformed += std::string(64, 'f') + " " + std::to_string(size) + " " + file + "\n";
  }
  malformed += std::string(64, 'f') + " 1 ../outside\n";
  const struct {
    const char* name;
    std::string list;  // none when empty
  } cases[] = {{"plain", ""}, {"wrong-sizes", wrongSizes}, {"malformed", malformed}};
  for (const auto& c : cases) {
    std::string list = stage + "/.digests-by-installation-package";
    unlink(list.c_str());
    if (!c.list.empty())
      WriteFile(list, c.list);
    std::string archive = build / (std::string(c.name) + ".tar.bz2");
    ASSERT_EQ(0, RunShell("tar -C " + ShellQuote(stage) + " -cjf " + ShellQuote(archive) + " ."));
    std::string package = build / (std::string(c.name) + ".bin");
    ASSERT_EQ(0, BuildPackage({archive, package})) << c.name;
    WriteDefaults(std::string("DefInstallPath=") + c.name + "\n");
    ProgramRun run;
    run.program = package;
    run.argv = {package, "-s", "-cfg", "inst.cfg"};
    run.cwd = start_;
    ProcessResult installed = RunProgram(run);
    ASSERT_EQ(0, installed.code) << c.name << installed.out;
    std::string dir = start_ + "/" + c.name;
    EXPECT_FALSE(Exists(dir + "/.digests-by-installation-package")) << c.name;
    ExpectRecordMatchesDisk(dir);
    ProgramRun verify;
    verify.program = dir + "/Bin/verify";
    verify.argv = {verify.program};
    EXPECT_EQ(0, RunProgram(verify).code) << c.name;
  }
}

TEST_F(SetupLifecycle, RerunChangesOnlyTheDateAndAnotherPackageUpgrades) {
  WriteDefaults();
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  auto first = TreeOf(server_);
  std::string firstManifest = ReadFile(server_ + "/install-manifest.txt");
  // The date has whole seconds.
  sleep(1);
  ProcessResult rerun = RunPackage({"-cfg", "inst.cfg"});
  EXPECT_EQ(0, rerun.code) << rerun.out;
  EXPECT_TRUE(Contains(rerun.out, "already installed, nothing to do")) << rerun.out;
  auto again = TreeOf(server_);
  std::string manifest = ReadFile(server_ + "/install-manifest.txt");
  EXPECT_NE(firstManifest, manifest);
  EXPECT_EQ(WithoutDate(firstManifest), WithoutDate(manifest));
  first.erase("install-manifest.txt");
  again.erase("install-manifest.txt");
  EXPECT_EQ(first, again);
  ExpectWorkingFilesGone();

  TempDir build;
  std::string second = BuildSecondPackage(build);
  ProgramRun check;
  check.program = second;
  check.argv = {second, "--check", "-cfg", "inst.cfg"};
  check.cwd = start_;
  ProcessResult plan = RunProgram(check);
  EXPECT_EQ("Check: upgrade", LastLine(plan.out)) << plan.out;
  std::string oldDigest = Header(manifest)["package_digest"];
  EXPECT_TRUE(Contains(plan.out, "Changed: package_digest: " + oldDigest + " -> ")) << plan.out;

  ProgramRun install = check;
  install.argv = {second, "-cfg", "inst.cfg"};
  ProcessResult upgrade = RunProgram(install);
  ASSERT_EQ(0, upgrade.code) << upgrade.out;
  EXPECT_TRUE(Contains(upgrade.out, "has been upgraded")) << upgrade.out;
  auto upgraded = TreeOf(server_);
  for (const char* name : {"Bin", "Plugins", "Lib", "qmserver.cfg", "default.cfg"})
    EXPECT_EQ(Below(first, name), Below(upgraded, std::string(name) + ".old")) << name;
  EXPECT_TRUE(Contains(ReadFile(server_ + "/Bin/loopcast"), "# second build\n"));
  auto header = Header(ReadFile(server_ + "/install-manifest.txt"));
  EXPECT_NE(oldDigest, header["package_digest"]);
  EXPECT_TRUE(Contains(plan.out, " -> " + header["package_digest"] + "\n")) << plan.out;
  EXPECT_EQ("Bin Plugins Lib qmserver.cfg default.cfg", header["moved_to_old"]);
  ExpectWorkingFilesGone();
}

TEST_F(SetupLifecycle, TheRunningServersOwnPortsDoNotStopARerun) {
  WriteDefaults();
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  // As if the installed server were running: it holds its RTSP port.
  LoopbackSocket server(ports_[1], true);
  ASSERT_EQ(ports_[1], server.port());
  auto before = TreeOf(server_);
  ProcessResult check = RunPackage({"--check", "-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(0, check.code) << check.out;
  EXPECT_EQ("Check: nothing to do", LastLine(check.out));
  ProcessResult rerun = RunPackage({"-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(0, rerun.code) << rerun.out;
  // The port held for another service than the one recorded for it is
  // still somebody else's.
  WriteDefaults(std::string(kPortSettings[2]) + "=" + std::to_string(ports_[1]) + "\n" +
                kPortSettings[1] + "=" + std::to_string(ports_[2]) + "\n");
  ProcessResult swapped = RunPackage({"--check", "-s", "-cfg", "inst.cfg"});
  EXPECT_EQ(255, swapped.code);
  EXPECT_TRUE(Contains(
      swapped.out, "ERROR: VQXPort " + std::to_string(ports_[1]) + " is in use on this machine\n"))
      << swapped.out;
  auto after = TreeOf(server_);
  before.erase("install-manifest.txt");
  after.erase("install-manifest.txt");
  EXPECT_EQ(before, after);
}

TEST_F(SetupLifecycle, UninstallKeepsWhatTheAdministratorAddedOrChanged) {
  WriteDefaults();
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  WriteFile(server_ + "/Content/added.txt", "the administrator's", 0640);
  std::string config = ReadFile(server_ + "/qmserver.cfg") + "<!-- tuned -->\n";
  WriteFile(server_ + "/qmserver.cfg", config, 0600);
  std::string contentDir = TreeOf(server_)["Content/"];

  ProgramRun uninstall;
  uninstall.program = server_ + "/Bin/uninstall";
  uninstall.argv = {uninstall.program, "-s"};
  uninstall.cwd = start_;
  ProcessResult run = RunProgram(uninstall);
  EXPECT_EQ(0, run.code) << run.out << run.err;
  EXPECT_TRUE(Contains(run.out + run.err, "Kept (changed since installation): qmserver.cfg"))
      << run.out;
  std::map<std::string, std::string> expected = {
      {"Content/", contentDir},
      {"Content/added.txt", "416 the administrator's"},
      {"Logs/", "488"},
      {"qmserver.cfg", "384 " + config},
  };
  // The log of the installation and of its removal stays.
  auto after = TreeOf(server_);
  EXPECT_TRUE(Contains(after["Logs/install.log"], " uninstall " + server_ + ": version "));
  after.erase("Logs/install.log");
  EXPECT_EQ(expected, after);
}

TEST_F(SetupLifecycle, UninstallPutsTheBackupBackWhenAsked) {
  WriteDefaults();
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  auto first = TreeOf(server_);
  std::string firstRecord = ReadFile(server_ + "/install-manifest.txt");
  WriteDefaults("LoggingStyle=3\n");
  ASSERT_EQ(0, RunPackage({"-s", "-cfg", "inst.cfg"}).code);
  ASSERT_TRUE(Exists(server_ + "/Bin.old"));

  ProgramRun uninstall;
  uninstall.program = server_ + "/Bin/uninstall";
  uninstall.argv = {uninstall.program, "-s", "--restore-backup"};
  ProcessResult run = RunProgram(uninstall);
  EXPECT_EQ(0, run.code) << run.out << run.err;
  auto restored = TreeOf(server_);
  for (const char* name : {"Bin", "Plugins", "Lib", "qmserver.cfg", "default.cfg"}) {
    EXPECT_EQ(Below(first, name), Below(restored, name)) << name;
    EXPECT_FALSE(Exists(server_ + "/" + name + ".old")) << name;
  }
  // An installation again, the earlier one with its record.
  std::string record = ReadFile(server_ + "/install-manifest.txt");
  EXPECT_EQ(Header(firstRecord)["logging_style"], Header(record)["logging_style"]) << record;
  EXPECT_EQ(Header(firstRecord)["package_digest"], Header(record)["package_digest"]) << record;
  ProgramRun verify;
  verify.program = server_ + "/Bin/verify";
  verify.argv = {verify.program};
  ProcessResult verified = RunProgram(verify);
  EXPECT_EQ(0, verified.code) << verified.out << verified.err;
}

TEST_F(SetupLifecycle, HelpOutsideAPackageTellsEverythingAndTouchesNothing) {
  WriteFile(start_ + "/note", "not the installer's");
  auto before = TreeOf(start_);
  ProgramRun help;
  help.program = SETUP_PROGRAM;
  help.argv = {SETUP_PROGRAM, "--help"};
  help.cwd = start_;
  ProcessResult run = RunProgram(help);
  EXPECT_EQ(0, run.code);
  EXPECT_EQ(before, TreeOf(start_));
  for (const char* option : {"--version", "--help", "--silent", "--progress-only", "--no-backup",
                             "--dest", "-cfg", "--check", "--reinstall", "--take-new-config"})
    EXPECT_TRUE(Contains(run.out, option)) << option;
  ServerInstaller installer;
  for (const ServerInstaller::InstCfgItem& item : installer.DefaultsFileItems()) {
    if (item.szName != nullptr) {
      EXPECT_TRUE(Contains(run.out, std::string("\n  ") + item.szName + " ")) << item.szName;
    }
  }
  EXPECT_TRUE(Contains(run.out, "255"));
  EXPECT_TRUE(Contains(run.out, "adm_b_db/users/"));
}

// A port below 1024 that nothing on this machine listens on, or 0.
// A port below 1024, other than avoid, that nothing on this machine listens
// on; 0 when there is none.
int FreePrivilegedPort(int avoid = 0) {
  for (int port = 1023; port > 600; --port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool refused = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
    close(fd);
    if (refused && port != avoid)
      return port;
  }
  return 0;
}

// Runs the package as the user nobody from a start directory of nobody's
// own, which holds a copy of the package and of the defaults file.
class SetupAsNobody : public SetupLifecycle {
 protected:
  void SetUp() override {
    SetupLifecycle::SetUp();
    if (geteuid() != 0)
      GTEST_SKIP() << "only root can run the package as another user";
    ASSERT_EQ(0, chmod(start_.c_str(), 0755));
    home_ = MakeDirs(start_ + "/nobody");
    ASSERT_EQ(0, RunShell("cp " + ShellQuote(s_package) + " " + ShellQuote(home_ + "/pkg.bin") +
                          " && chown -R nobody " + ShellQuote(home_)));
  }

  ProgramRun AsNobody(const std::vector<std::string>& args) {
    if (Exists(start_ + "/inst.cfg")) {
      EXPECT_EQ(0, RunShell("cp " + ShellQuote(start_ + "/inst.cfg") + " " + ShellQuote(home_)));
    }
    ProgramRun run;
    run.program = "/usr/bin/setpriv";
    run.argv = {run.program, "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                home_ + "/pkg.bin"};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = home_;
    run.env = {{"PAGER", "cat"}, {"TERM", "dumb"}};
    return run;
  }

  std::string home_;
};

TEST_F(SetupAsNobody, PortBelow1024IsOnlyWarnedAboutUnattended) {
  int port = FreePrivilegedPort();
  ASSERT_NE(0, port);
  ports_[1] = port;
  WriteDefaults();
  ProcessResult result = RunProgram(AsNobody({"-p", "-cfg", "inst.cfg"}));
  EXPECT_EQ(0, result.code) << result.out << result.err;
  EXPECT_TRUE(Contains(result.out, "RTSPPort " + std::to_string(port) + " is below 1024"))
      << result.out;
  EXPECT_TRUE(Contains(result.out, "root")) << result.out;
  struct stat st;
  ASSERT_EQ(0, stat((home_ + "/server/qmserver.cfg").c_str(), &st));
  EXPECT_EQ(65534u, st.st_uid);
}

// An interactive check: the questions are asked, a refused password says
// the rule, a port below 1024 is asked about, and nothing is installed.
TEST_F(SetupAsNobody, InteractiveCheckAsksEverythingAndInstallsNothing) {
  int refused = FreePrivilegedPort();
  int kept = FreePrivilegedPort(refused);
  ASSERT_NE(0, kept);
  auto before = TreeOf(home_);
  PtySession session;
  ASSERT_TRUE(session.Start(AsNobody({"--check"})));
  ASSERT_TRUE(
      session.Expect("Do you accept the terms of the license agreement? (yes or no) [no]: "));
  session.SendLine("yes");
  ASSERT_TRUE(session.Expect("Installation directory [" + home_ + "]: "));
  session.SendLine("server");
  for (const char* user : {"admin", "encoder"}) {
    ASSERT_TRUE(session.Expect("Username []: "));
    session.SendLine(user);
    ASSERT_TRUE(session.Expect("Password []: "));
    session.SendLine("");
    ASSERT_TRUE(session.Expect("it is empty (a password must not be empty"));
    ASSERT_TRUE(session.Expect("Password []: "));
    session.SendLine("Secret-1");
    ASSERT_TRUE(session.Expect("Confirm Password []: "));
    session.SendLine("Secret-1");
  }
  ASSERT_TRUE(session.Expect("Monitor port [9090]: "));
  session.SendLine(std::to_string(ports_[0]));
  ASSERT_TRUE(session.Expect("RTSP port [554]: "));
  session.SendLine(std::to_string(refused));
  ASSERT_TRUE(session.Expect("RTSPPort " + std::to_string(refused) + " is below 1024"));
  ASSERT_TRUE(session.Expect("(yes or no) [no]: "));
  session.SendLine("no");
  ASSERT_TRUE(session.Expect("RTSP port [554]: "));
  session.SendLine(std::to_string(ports_[1]));
  ASSERT_TRUE(session.Expect("VQX port [7070]: "));
  session.SendLine(std::to_string(ports_[2]));
  ASSERT_TRUE(session.Expect("HTTP port [80]: "));
  session.SendLine(std::to_string(kept));
  ASSERT_TRUE(session.Expect("HTTPPort " + std::to_string(kept) + " is below 1024"));
  ASSERT_TRUE(session.Expect("(yes or no) [no]: "));
  session.SendLine("yes");
  ASSERT_TRUE(session.Expect("MMS port [1755]: "));
  session.SendLine(std::to_string(ports_[4]));
  ASSERT_TRUE(session.Expect("]: "));
  session.SendLine(std::to_string(ports_[5]));
  ProcessResult result = session.Finish();
  EXPECT_EQ(0, result.code) << result.out;
  EXPECT_TRUE(Contains(result.out, "HTTP " + std::to_string(kept) + ",")) << result.out;
  EXPECT_EQ("Check: install", LastLine(result.out)) << result.out;
  EXPECT_FALSE(Contains(result.out, "Install now?")) << result.out;
  EXPECT_EQ(before, TreeOf(home_));
}

// The console blocks of the README's section "Operating an installation",
// one after the other.
std::string ReadmeTranscript() {
  std::string readme = ReadFile(std::string(DEMO_PRODUCT) + "/../../README.md");
  size_t start = readme.find("\n## Operating an installation\n");
  EXPECT_NE(std::string::npos, start);
  std::string section = readme.substr(start, readme.find("\n## ", start + 1) - start);
  std::string text;
  const std::string open = "```console\n";
  for (size_t at = section.find(open); at != std::string::npos; at = section.find(open, at)) {
    at += open.size();
    size_t close = section.find("```\n", at);
    text += section.substr(at, close - at);
    at = close;
  }
  return text;
}

// What changes from one run to the next, the same in every text.
std::string Normalized(const std::string& text) {
  const std::pair<const char*, const char*> rules[] = {
      {"installation\\.+\n", "installation...\n"},
      {"xxh3-128:[0-9a-f]{32}", "xxh3-128:HEX"},
      {"[a-km-z2-9]{16} \\(generated\\)", "PASSWORD (generated)"},
      {"[0-9]+ KiB", "N KiB"},
      {"installed_at=[^\n]*", "installed_at=DATE"},
  };
  std::string result = text;
  for (const auto& rule : rules)
    result = std::regex_replace(result, std::regex(rule.first), rule.second);
  return result;
}

std::string ReplacedAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Each command of the README's transcripts run as written, from a start
// directory with the demo's package, a later build of it and the demo's
// defaults file (on free ports), in the README's order.
TEST_F(SetupLifecycle, ReadmeTranscriptsAreWhatTheProgramsPrint) {
  std::string expected = ReadmeTranscript();
  ASSERT_NE("", expected);
  TempDir build;
  ASSERT_EQ(0,
            RunShell("cp " + ShellQuote(s_package) + " " + ShellQuote(start_ + "/strata-demo.bin") +
                     " && cp " + ShellQuote(BuildSecondPackage(build)) + " " +
                     ShellQuote(start_ + "/strata-demo-2.bin")));
  std::string config = ReadFile(std::string(DEMO_PRODUCT) + "/../demo.cfg");
  std::vector<std::pair<std::string, std::string>> ports;
  int next = 0;
  for (const char* setting : kPortSettings) {
    std::string line = std::string("\n") + setting + "=";
    size_t at = config.find(line);
    ASSERT_NE(std::string::npos, at) << setting;
    at += line.size();
    size_t end = config.find('\n', at);
    ports.push_back({std::to_string(ports_[next++]), config.substr(at, end - at)});
    config.replace(at, end - at, ports.back().first);
  }
  WriteFile(start_ + "/demo.cfg", config);

  std::string actual;
  for (size_t at = 0; at < expected.size();) {
    size_t end = expected.find('\n', at);
    std::string line = expected.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, 2, "$ ") != 0)
      continue;
    std::string output;
    RunShell("cd " + ShellQuote(start_) + " && (" + line.substr(2) + ") 2>&1", &output);
    actual += line + "\n" + output;
  }
  actual = ReplacedAll(actual, start_, "/srv/media");
  actual = ReplacedAll(actual, "//" + HostName() + ":", "//vm:");
  actual = ReplacedAll(actual, "=" + HostName() + ".", "=vm.");
  for (const auto& port : ports)
    actual = std::regex_replace(actual, std::regex("\\b" + port.first + "\\b"), port.second);
  EXPECT_EQ(Normalized(expected), Normalized(actual));
}

}  // namespace
