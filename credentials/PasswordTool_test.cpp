#include "credentials/PasswordTool.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
// libmd's declarations need the BSD integer types of sys/types.h.
#include <md5.h>

#include <set>
#include <string>
#include <vector>

#include "tests/Subprocess.h"

namespace {

const char kAlphabet[] = "abcdefghijkmnopqrstuvwxyz23456789";

// A fresh directory holding a password database "db" with its "users"
// subdirectory; removed with everything in it at the end of the test.
class TempDatabase {
 public:
  TempDatabase() {
    mkdir(Db().c_str(), 0755);
    mkdir(Users().c_str(), 0755);
  }
  const std::string& Root() const { return m_root.path(); }
  std::string Db() const { return m_root / "db"; }
  std::string Users() const { return Db() + "/users"; }

 private:
  TempDir m_root;
};

// The MD5 of bytes as computed by coreutils' md5sum, an implementation
// independent of the one the tool uses.
std::string Md5sumOf(const std::string& bytes) {
  TempDir scratch;
  std::string file = scratch / "input";
  WriteFile(file, bytes);
  std::string output;
  RunShell("md5sum " + ShellQuote(file), &output);
  return output.substr(0, 32);
}

std::string Entry(const char* user, const char* realm, const char* password) {
  char entry[33];
  memset(entry, 'X', sizeof entry);
  char* result = PasswordTool::MakePasswordEntry(user, realm, password, entry);
  EXPECT_EQ(entry, result);
  return entry;
}

}  // namespace

// The tool relies on its MD5 dependency for the digest and its lowercase
// rendering; RFC 1321's test suite checks both.
TEST(PasswordTool, Md5DependencyMatchesRfc1321Suite) {
  struct {
    const char* input;
    const char* digest;
  } const kSuite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kSuite) {
    char hex[33];
    MD5Data(reinterpret_cast<const uint8_t*>(c.input), strlen(c.input), hex);
    EXPECT_STREQ(c.digest, hex) << c.input;
  }
}

TEST(PasswordTool, DigestEntryIsRfc2617HA1) {
  EXPECT_EQ("939e7578ed9e3c518a452acee763bce9",
            Entry("Mufasa", "testrealm@host.com", "Circle Of Life"));
}

TEST(PasswordTool, DigestEntryOfUserRealmAndPasswordJoinedByColons) {
  // Everything empty: the two colons alone are digested.
  EXPECT_EQ(Md5sumOf("::"), Entry("", "", ""));
  EXPECT_EQ(32u, Entry("", "", "").size());
  // The order is user, realm, password.
  EXPECT_EQ(Md5sumOf("admin:Strata Admin:s3cret"), Entry("admin", "Strata Admin", "s3cret"));
  EXPECT_NE(Entry("admin", "s3cret", "Strata Admin"), Entry("admin", "Strata Admin", "s3cret"));

  // More than 4096 bytes in all, past what a fixed line-sized buffer would
  // hold: digested whole, neither cut short nor overflowing.
  std::string longPassword(5000, 'p');
  longPassword += "end";
  EXPECT_EQ(Md5sumOf("u:r:" + longPassword), Entry("u", "r", longPassword.c_str()));
}

TEST(PasswordTool, DigestEntryIsLowercaseHex) {
  for (const char* password : {"a", "Circle Of Life", "PASSWORD", "\xff\xfe;\n"}) {
    std::string entry = Entry("user", "realm", password);
    ASSERT_EQ(32u, entry.size());
    EXPECT_EQ(std::string::npos, entry.find_first_not_of("0123456789abcdef")) << entry;
  }
}

TEST(PasswordTool, PasswordAcceptance) {
  EXPECT_EQ(0, PasswordTool::PasswordIsOK("admin", nullptr));
  EXPECT_EQ(0, PasswordTool::PasswordIsOK("admin", ""));
  EXPECT_EQ(1, PasswordTool::PasswordIsOK("admin", " "));
  EXPECT_EQ(1, PasswordTool::PasswordIsOK(nullptr, "x"));
  // Nothing but presence is checked: not even the user name itself.
  EXPECT_EQ(1, PasswordTool::PasswordIsOK("admin", "admin"));
}

TEST(PasswordTool, RandomCharactersCoverExactlyTheAlphabet) {
  srandom(12345);
  std::set<char> seen;
  for (int i = 0; i < 20000; ++i) {
    int c = PasswordTool::GenerateRandomPasswordChar();
    ASSERT_NE(nullptr, strchr(kAlphabet, c)) << "code " << c;
    ASSERT_NE('\0', c);
    seen.insert(static_cast<char>(c));
  }
  EXPECT_EQ(strlen(kAlphabet), seen.size());
}

TEST(PasswordTool, RandomPasswordIsSixAlphabetCharacters) {
  srandom(777);
  for (int i = 0; i < 2000; ++i) {
    char* password = PasswordTool::GenerateRandomPassword();
    ASSERT_EQ(6u, strlen(password));
    for (int k = 0; k < 6; ++k)
      ASSERT_NE(nullptr, strchr(kAlphabet, password[k])) << password;
    delete[] password;
  }
}

TEST(PasswordTool, RandomPasswordsDoNotFollowTheProcessSequence) {
  // Drawn from the system's source: the same seed of random() must not give
  // the same password again, or one password would betray the next.
  srandom(99);
  char* first = PasswordTool::GenerateRandomPassword();
  srandom(99);
  char* again = PasswordTool::GenerateRandomPassword();
  EXPECT_STRNE(first, again);
  delete[] first;
  delete[] again;

  std::set<std::string> drawn;
  for (int i = 0; i < 100; ++i) {
    srandom(99);
    std::string password = RandomPasswordText(16);
    ASSERT_EQ(16u, password.size());
    EXPECT_EQ(std::string::npos, password.find_first_not_of(kAlphabet)) << password;
    drawn.insert(password);
  }
  EXPECT_EQ(100u, drawn.size());
}

TEST(PasswordTool, PlainAndDigestUserFiles) {
  TempDatabase t;
  std::string content;

  // No realm, or an empty one: the password as it is.
  ASSERT_EQ(0, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "alice", "s3cret", nullptr));
  ASSERT_TRUE(ReadFile(t.Users() + "/alice", &content));
  EXPECT_EQ("s3cret;*;1\n", content);
  ASSERT_EQ(0, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "bob", "pw", ""));
  ASSERT_TRUE(ReadFile(t.Users() + "/bob", &content));
  EXPECT_EQ("pw;*;1\n", content);

  // A plain password is written without any escaping.
  ASSERT_EQ(0, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "carol", "a;b\nc", nullptr));
  ASSERT_TRUE(ReadFile(t.Users() + "/carol", &content));
  EXPECT_EQ("a;b\nc;*;1\n", content);

  // With a realm: the digest entry, 37 bytes in all.
  ASSERT_EQ(0, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "Mufasa", "Circle Of Life",
                                                  "testrealm@host.com"));
  ASSERT_TRUE(ReadFile(t.Users() + "/Mufasa", &content));
  EXPECT_EQ("939e7578ed9e3c518a452acee763bce9;*;1\n", content);
  EXPECT_EQ(37u, content.size());

  // Nothing but the users' own files is left behind.
  std::set<std::string> names;
  for (const std::string& n : ListDirectory(t.Users()))
    names.insert(n);
  EXPECT_EQ((std::set<std::string>{"alice", "bob", "carol", "Mufasa"}), names);
}

TEST(PasswordTool, UserFileHasNewFilePermissions) {
  TempDatabase t;
  mode_t old = umask(022);
  ASSERT_EQ(0, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "a", "x", nullptr));
  umask(077);
  ASSERT_EQ(0, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "b", "x", nullptr));
  umask(old);
  struct stat st;
  ASSERT_EQ(0, stat((t.Users() + "/a").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 07777);
  ASSERT_EQ(0, stat((t.Users() + "/b").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

TEST(PasswordTool, ReplacesReadOnlyUserFileAndLeavesOthers) {
  TempDatabase t;
  WriteFile(t.Users() + "/admin", "old;*;1\n");
  chmod((t.Users() + "/admin").c_str(), 0444);
  WriteFile(t.Users() + "/other", "theirs;*;1\n");

  ASSERT_EQ(0, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "admin", "new", nullptr));
  std::string content;
  ASSERT_TRUE(ReadFile(t.Users() + "/admin", &content));
  EXPECT_EQ("new;*;1\n", content);
  ASSERT_TRUE(ReadFile(t.Users() + "/other", &content));
  EXPECT_EQ("theirs;*;1\n", content);
  EXPECT_EQ(2u, ListDirectory(t.Users()).size());
}

TEST(PasswordTool, MissingDirectoryIsRefused) {
  TempDatabase t;
  // No "users" subdirectory: it is not created.
  std::string bare = t.Root() + "/bare";
  mkdir(bare.c_str(), 0755);
  EXPECT_EQ(-1, PasswordTool::AddPasswordFileEntry(bare.c_str(), "admin", "pw", "realm"));
  EXPECT_TRUE(ListDirectory(bare).empty());

  // A "/" in the user name that leads into a missing directory.
  EXPECT_EQ(-1, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "no/such", "pw", nullptr));
  EXPECT_TRUE(ListDirectory(t.Users()).empty());

  // Missing arguments are refused rather than read through.
  EXPECT_EQ(-1, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), nullptr, "pw", nullptr));
  EXPECT_EQ(-1, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "admin", nullptr, nullptr));
  EXPECT_TRUE(ListDirectory(t.Users()).empty());
}

TEST(PasswordTool, FailedWriteKeepsEarlierEntry) {
  TempDatabase t;
  WriteFile(t.Users() + "/admin", "old;*;1\n");

  // With no descriptor left to open, the new file cannot be created; the
  // check runs in a child so that the limit does not touch this process.
  ProcessResult child = RunForked([&t] {
    struct rlimit none = {3, 3};
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    setrlimit(RLIMIT_NOFILE, &none);
    int result = PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "admin", "new", nullptr);
    _exit(result == -1 ? 0 : 1);
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(0, child.code) << "AddPasswordFileEntry did not return -1";

  std::string content;
  ASSERT_TRUE(ReadFile(t.Users() + "/admin", &content));
  EXPECT_EQ("old;*;1\n", content);
  EXPECT_EQ(1u, ListDirectory(t.Users()).size());

  // A user file that is in fact a directory cannot be replaced either, and
  // no temporary file stays behind.
  mkdir((t.Users() + "/dir").c_str(), 0755);
  EXPECT_EQ(-1, PasswordTool::AddPasswordFileEntry(t.Db().c_str(), "dir", "pw", nullptr));
  EXPECT_EQ(2u, ListDirectory(t.Users()).size());
}
