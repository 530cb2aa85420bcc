// What an administrator does with an installation after setup: checks it
// against its record with Bin/verify, reads the record as any user, and
// finds an installation of an older setup still understood. Trees and
// records are compared as they stand on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/ShellQuote.h"
#include "tests/SetupPackageTest.h"
#include "tests/Subprocess.h"

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

// The file lines of a record, split into path, mode, size and digest.
std::vector<std::vector<std::string>> FileLines(const std::string& record) {
  std::vector<std::vector<std::string>> lines;
  for (size_t at = record.find("\nfile\t"); at != std::string::npos;
       at = record.find("\nfile\t", at + 1)) {
    std::string line = record.substr(at + 6, record.find('\n', at + 1) - at - 6);
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
      size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos)
        break;
      start = tab + 1;
    }
    lines.push_back(fields);
  }
  return lines;
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
    if (Contains(ReadFile(path), "secret")) {
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

}  // namespace
