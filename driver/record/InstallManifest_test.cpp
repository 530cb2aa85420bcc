#include "driver/record/InstallManifest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/record/InstallKey.h"
#include "driver/record/InstallLog.h"
#include "driver/record/InstallTree.h"
#include "tests/TestFiles.h"

namespace {

// SHA-256 of "hello" and of "../Lib/sub/libx.so" (as sha256sum gives them).
const char kHelloSha[] = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";
const char kLinkSha[] = "e8ea770d03722eb257361490a0f8f35b38f059b80bf212fcea453f28e99040b5";

InstallManifest Sample() {
  InstallManifest manifest;
  manifest.product = "Strata Server";
  manifest.release = "9.08";
  manifest.version = "9.0.8.1427";
  manifest.SetInstalledAt(1796781007);
  manifest.packageDigest = "sha256:ab12";
  manifest.installDir = "/opt/strata";
  manifest.adminUser = "admin";
  manifest.encoderUser = "enc";
  manifest.adminRealm = "media1.AdminRealm";
  manifest.loggingStyle = "5";
  int ports[6] = {9090, 554, 7070, 80, 1755, 12345};
  std::copy(ports, ports + 6, manifest.ports);
  manifest.movedToOld = {"Bin", "qmserver.cfg"};
  manifest.files = {{"qmserver.cfg", false, 0644, 5, kHelloSha},
                    {"Bin/a\tb\\c\nd\re", false, 0755, 5, kHelloSha},
                    {"Docs/link", true, 0, 14, kHelloSha}};
  return manifest;
}

}  // namespace

TEST(InstallManifest, FormatIsKeyValueLinesThenSortedFileLines) {
  std::string text = Sample().Format();
  EXPECT_EQ(0u, text.find("# Strata Server installation manifest, written by setup. Do not edit: "
                          "Bin/uninstall reads it.\nformat=1\nproduct=Strata Server\n"
                          "release=9.08\nversion=9.0.8.1427\ninstalled_at=2026-12-09T01:50:07Z\n"
                          "package_digest=sha256:ab12\ninstall_dir=/opt/strata\n"))
      << text;
  EXPECT_NE(std::string::npos,
            text.find("\nlogging_style=5\nmonitor_port=9090\nrtsp_port=554\nvqx_port=7070\n"
                      "http_port=80\nmms_port=1755\nadmin_port=12345\nbackup_old_files=1\n"
                      "moved_to_old=Bin qmserver.cfg\nfiles=3\n"
                      "file\tBin/a\\tb\\\\c\\nd\\re\t0755\t5\tsha256:" +
                      std::string(kHelloSha) + "\nfile\tDocs/link\tlink\t14\tsha256:" + kHelloSha +
                      "\nfile\tqmserver.cfg\t0644\t5\tsha256:" + kHelloSha + "\n"))
      << text;

  InstallManifest parsed;
  std::string error;
  ASSERT_TRUE(parsed.Parse(text, &error)) << error;
  EXPECT_EQ(text, parsed.Format());
  EXPECT_EQ("Bin/a\tb\\c\nd\re", parsed.files[0].path);
  EXPECT_TRUE(parsed.SameSettings(Sample()));
}

TEST(InstallManifest, ParseRefusesWhatItCannotTrust) {
  const std::string head = "# comment\nformat=1\n";
  const std::string file = std::string("file\tBin/x\t0755\t5\tsha256:") + kHelloSha + "\n";
  const std::pair<std::string, std::string> cases[] = {
      {"format=2\nfiles=0\n", "format 2 is not known (this program reads format 1)"},
      {"product=x\nformat=1\n", "line 1: the manifest does not begin with format="},
      {head + "files=2\n" + file, "files=2 but 1 file lines"},
      {head + file, "no files= line"},
      {head + "files=1\n" + file + "product=x\n", "line 5: a key=value line after the file lines"},
      {head + "admin_port=1\nadmin_port=2\nfiles=0\n", "line 4: admin_port= given twice"},
      {head + "admin_port=65536\nfiles=0\n", "line 3: bad port \"65536\""},
      {head + "files=1\nfile\t../x\t0755\t5\tsha256:" + kHelloSha + "\n",
       "line 4: bad path \"../x\""},
      {head + "files=1\nfile\tBin/\\x\t0755\t5\tsha256:" + kHelloSha + "\n",
       "line 4: bad path \"Bin/\\x\""},
      {head + "files=1\nfile\tBin/x\t755\t5\tsha256:" + kHelloSha + "\n",
       "line 4: bad mode \"755\""},
      {head + "files=1\nfile\tBin/x\t0755\t5\tmd5:00\n", "line 4: bad digest \"md5:00\""},
      {head + "files=2\n" + file + file, "line 5: \"Bin/x\" listed twice"},
      {head + "moved_to_old=Bin ../etc\nfiles=0\n", "line 3: bad name \"../etc\" in moved_to_old"},
      {head + "Product=x\nfiles=0\n", "line 3: neither a key=value line nor a file line"},
      {head + "files=1\nfile\tDocs/l\tlink\t5\thmac-sha256:" + kHelloSha + "\n",
       "line 4: bad digest \"hmac-sha256:" + std::string(kHelloSha) + "\""},
      {"# comment\r\nformat=1\r\nfiles=0\r\n",
       "line 1: ends with a carriage return: the record has CRLF line ends (converted or edited "
       "with another line end); setup writes line feeds only"},
  };
  for (const auto& c : cases) {
    InstallManifest manifest = Sample();
    std::string error;
    EXPECT_FALSE(manifest.Parse(c.first, &error)) << c.first;
    EXPECT_EQ(c.second, error) << c.first;
    EXPECT_EQ(Sample().Format(), manifest.Format());
  }
  // A key of a later writer is passed over.
  InstallManifest manifest;
  std::string error;
  EXPECT_TRUE(manifest.Parse(head + "signed_by=someone\nfiles=1\n" + file, &error)) << error;
}

TEST(InstallManifest, ChangedSettingsInHeaderOrderWithoutPasswordsOrDates) {
  InstallManifest before = Sample();
  InstallManifest after = Sample();
  after.SetInstalledAt(1796790000);
  after.movedToOld.clear();
  after.ports[5] = 23456;
  after.adminUser = "root2";
  std::vector<SettingChange> changes = before.ChangedSettings(after);
  ASSERT_EQ(2u, changes.size());
  EXPECT_EQ("admin_user admin root2",
            changes[0].key + " " + changes[0].before + " " + changes[0].after);
  EXPECT_EQ("admin_port 12345 23456",
            changes[1].key + " " + changes[1].before + " " + changes[1].after);
  EXPECT_TRUE(before.SamePackage(after));
  before.packageDigest = after.packageDigest = "unknown";
  EXPECT_FALSE(before.SamePackage(after));
  before.packageDigest = after.packageDigest = "none";
  EXPECT_FALSE(before.SamePackage(after));
}

TEST(InstallManifest, FilesOnDiskDescribedAndCheckedWithoutFollowingLinks) {
  TempDir tmp;
  std::string dir = MakeDirs(tmp / "inst");
  WriteFile(MakeDirs(dir + "/Bin") + "/qmserver", "hello", 0750);
  WriteFile(MakeDirs(dir + "/Lib/sub") + "/libx.so", "hello", 0644);
  ASSERT_EQ(0, symlink("../Lib/sub/libx.so", (dir + "/Bin/link").c_str()));
  WriteFile(MakeDirs(tmp / "outside") + "/qmserver", "hello", 0750);

  std::vector<ManifestEntry> entries;
  std::string error;
  ASSERT_TRUE(DescribeFiles(dir, {"Lib", "Bin", "Bin/qmserver"}, &entries, &error)) << error;
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ((ManifestEntry{"Bin/link", true, 0, 18, kLinkSha}), entries[0]);
  EXPECT_EQ((ManifestEntry{"Bin/qmserver", false, 0750, 5, kHelloSha}), entries[1]);
  EXPECT_EQ((ManifestEntry{"Lib/sub/libx.so", false, 0644, 5, kHelloSha}), entries[2]);

  InstallManifest manifest;
  manifest.files = entries;
  std::vector<FileState> states;
  ASSERT_TRUE(manifest.CheckFiles(dir, &states, &error)) << error;
  EXPECT_EQ(std::vector<FileState>(3, FileState::kUnchanged), states);

  // Same size, other content; the mode alone; a directory swapped for a
  // link to a copy outside, which is not looked through.
  WriteFile(dir + "/Lib/sub/libx.so", "HELLO", 0644);
  chmod((dir + "/Bin/qmserver").c_str(), 0755);
  unlink((dir + "/Bin/link").c_str());
  ASSERT_EQ(0, symlink("../Lib/sub/libx.sO", (dir + "/Bin/link").c_str()));
  ASSERT_TRUE(manifest.CheckFiles(dir, &states, &error)) << error;
  EXPECT_EQ(std::vector<FileState>(3, FileState::kChanged), states);
  ASSERT_EQ(0, system(("rm -rf " + dir + "/Bin && ln -s ../outside " + dir + "/Bin").c_str()));
  ASSERT_TRUE(manifest.CheckFiles(dir, &states, &error)) << error;
  EXPECT_EQ(FileState::kMissing, states[1]);
  EXPECT_FALSE(DescribeFile(dir, "Bin/qmserver", &entries[0], &error));
  EXPECT_EQ(dir + "/Bin/qmserver: Not a directory", error);
}

TEST(InstallManifest, WrittenWithMode0644AndReadBackButNotThroughALink) {
  TempDir tmp;
  std::string error;
  ASSERT_TRUE(Sample().Write(tmp.path(), &error)) << error;
  EXPECT_EQ(0644, ModeOf(tmp / "install-manifest.txt"));
  InstallManifest read;
  ASSERT_TRUE(read.Read(tmp.path(), &error)) << error;
  EXPECT_EQ(Sample().Format(), read.Format());

  InstallManifest bad = Sample();
  bad.adminRealm = "two\nlines";
  EXPECT_FALSE(bad.Write(tmp.path(), &error));
  EXPECT_EQ("admin_realm holds a line break", error);

  std::string other = MakeDirs(tmp / "other");
  ASSERT_EQ(0, symlink("../install-manifest.txt", (other + "/install-manifest.txt").c_str()));
  EXPECT_FALSE(read.Read(other, &error));
  EXPECT_EQ(other + "/install-manifest.txt: Too many levels of symbolic links", error);
}

TEST(InstallKey, KeyedDigestIsHmacSha256AndTheRecordSaysSo) {
  // RFC 4231, test case 2.
  EXPECT_EQ("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
            InstallKey::DigestText("Jefe", "what do ya want for nothing?"));

  TempDir tmp;
  WriteFile(tmp / "secret", "hello", 0600);
  WriteFile(tmp / "open", "hello", 0644);
  std::string key;
  std::string error;
  ASSERT_TRUE(InstallKey::Stage(tmp / "none", tmp.path(), &key, &error)) << error;
  EXPECT_EQ(0600, ModeOf(tmp / "install-manifest.key"));
  InstallTree tree;
  ASSERT_TRUE(tree.Open(tmp.path(), &error)) << error;
  std::string read;
  ASSERT_TRUE(InstallKey::Read(tree, &read, &error)) << error;
  EXPECT_EQ(key, read);
  // Staged again from the installation, the key stays what it was.
  std::string again;
  ASSERT_TRUE(InstallKey::Stage(tmp.path(), tmp.path(), &again, &error)) << error;
  EXPECT_EQ(key, again);

  InstallManifest manifest = Sample();
  ASSERT_TRUE(DescribeFiles(tmp.path(), {"open", "secret"}, &manifest.files, &error)) << error;
  ASSERT_TRUE(KeySecretFiles(tree, key, &manifest.files, &error)) << error;
  EXPECT_EQ(kHelloSha, manifest.files[0].sha256);
  EXPECT_FALSE(manifest.files[0].keyed);
  EXPECT_TRUE(manifest.files[1].keyed);
  EXPECT_EQ(InstallKey::DigestText(key, "hello"), manifest.files[1].sha256);
  std::string text = manifest.Format();
  EXPECT_EQ(std::string::npos, text.find("secret\t0600\t5\tsha256:"));
  EXPECT_NE(std::string::npos, text.find("file\tsecret\t0600\t5\thmac-sha256:" +
                                         InstallKey::DigestText(key, "hello") + "\n"));
  InstallManifest parsed;
  ASSERT_TRUE(parsed.Parse(text, &error)) << error;
  EXPECT_EQ(text, parsed.Format());

  std::vector<FileState> states;
  ASSERT_TRUE(parsed.CheckFiles(tmp.path(), &states, &error)) << error;
  EXPECT_EQ((std::vector<FileState>{FileState::kUnchanged, FileState::kUnchanged}), states);
  WriteFile(tmp / "secret", "hellO", 0600);
  ASSERT_TRUE(parsed.CheckFiles(tmp.path(), &states, &error)) << error;
  EXPECT_EQ(FileState::kChanged, states[1]);
  // Without the key nothing shows the file is as recorded.
  WriteFile(tmp / "secret", "hello", 0600);
  ASSERT_EQ(0, unlink((tmp / "install-manifest.key").c_str()));
  ASSERT_TRUE(parsed.CheckFiles(tmp.path(), &states, &error)) << error;
  EXPECT_EQ(FileState::kChanged, states[1]);
}

TEST(InstallLog, AnEntryNamesEachFileByWhatHappenedToItAndNothingElse) {
  InstallManifest earlier = Sample();
  InstallManifest newer = Sample();
  newer.movedToOld = {"Bin"};
  newer.files[0].sha256 = kLinkSha;        // qmserver.cfg: replaced
  newer.files[2].path = "Docs/new\nline";  // Docs/link goes, this comes
  InstallLog log("upgrade", "/opt/strata");
  log.SetPackage("9.0.8.1427", "sha256:ab12");
  log.AddChanges(&earlier, newer);
  log.AddFile("kept as the administrator's:", "Content/welcome.txt");
  EXPECT_EQ(
      "2026-12-09T01:50:07Z upgrade /opt/strata: version 9.0.8.1427, package sha256:ab12\n"
      "  moved to .old: Bin\n"
      "  added Docs/new?line\n"
      "  replaced qmserver.cfg\n"
      "  no longer installed: Docs/link\n"
      "  kept as the administrator's: Content/welcome.txt\n",
      log.Text(1796781007));

  // A first installation: every file added.
  InstallLog first("install", "/opt/strata");
  first.AddChanges(nullptr, earlier);
  EXPECT_EQ(
      "2026-12-09T01:50:07Z install /opt/strata: version unknown, package unknown\n"
      "  moved to .old: Bin\n"
      "  moved to .old: qmserver.cfg\n"
      "  added Bin/a?b\\c?d?e\n"
      "  added Docs/link\n"
      "  added qmserver.cfg\n",
      first.Text(1796781007));
}
