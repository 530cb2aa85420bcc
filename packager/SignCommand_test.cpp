// Signatures of packages, made and checked both by mkpackage and by the real
// minisign program, on real files in a temporary directory.
#include "packager/SignCommand.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/Format.h"
#include "tests/PtySession.h"
#include "tests/Subprocess.h"

namespace {

typedef std::vector<std::string> Args;

const char kTryHelp[] = "Try 'mkpackage --help' for more information.\n";

class SignCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(m_dir / "dec", "pretend decompressor", 0755);
    // A real archive with a second stage, so that the builds warn of nothing.
    ASSERT_EQ(0, RunShell("cd " + ShellQuote(m_dir.path()) +
                          " && mkdir -p t/Bin && echo : > t/Bin/setup && tar -C t -cf - . | bzip2 "
                          "> archive.bz2"));
    ProcessResult built =
        Mk({"--launcher", STUB_LAUNCHER, "--decompressor", "./dec", "archive.bz2", "pkg"});
    ASSERT_EQ(0, built.code) << built.err;
  }

  ProcessResult Run(const std::string& program, const Args& args, const std::string& input = "") {
    ProgramRun run;
    run.program = program;
    run.argv = {program};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.cwd = m_dir.path();
    run.input = input;
    return RunProgram(run);
  }
  ProcessResult Mk(const Args& args) { return Run(MKPACKAGE, args); }
  ProcessResult Minisign(const Args& args, const std::string& input = "") {
    return Run("/usr/bin/minisign", args, input);
  }

  // The base64 line of a public key file.
  std::string KeyText(const std::string& pub) { return SplitLine(ReadFile(m_dir / pub), 1); }
  static std::string SplitLine(const std::string& text, size_t index) {
    size_t start = 0;
    for (size_t i = 0; i < index; ++i)
      start = text.find('\n', start) + 1;
    return text.substr(start, text.find('\n', start) - start);
  }

  // Checks pkg.minisig with both programs: both accept it, or both refuse.
  void ExpectBothVerdicts(bool valid, const std::string& pub, const std::string& why) {
    ProcessResult ours = Mk({"--verify", "pkg", "--pubkey", pub});
    ProcessResult theirs = Minisign({"-Vm", "pkg", "-p", pub});
    EXPECT_EQ(valid ? 0 : 1, ours.code) << why << ": " << ours.err;
    EXPECT_EQ(valid, theirs.code == 0) << why << ": " << theirs.err;
  }

  TempDir m_dir;
};

TEST_F(SignCommandTest, MinisignChecksWhatMkpackageSigns) {
  ProcessResult made = Mk({"--generate-key", "ours", "--no-password"});
  ASSERT_EQ(0, made.code) << made.err;
  EXPECT_EQ(0600, ModeOf(m_dir / "ours.key"));
  EXPECT_EQ(0600, ModeOf(m_dir / "ours.pub"));
  EXPECT_NE(std::string::npos, made.out.find("minisign -Vm PACKAGE -P " + KeyText("ours.pub")));
  std::string firstKey = ReadFile(m_dir / "ours.key");
  ProcessResult again = Mk({"--generate-key", "ours", "--no-password"});
  EXPECT_EQ(1, again.code);
  EXPECT_EQ("mkpackage: ours.key already exists; a key is never overwritten\n", again.err);
  EXPECT_EQ(firstKey, ReadFile(m_dir / "ours.key"));

  // Signed while it is built.
  ProcessResult built = Mk({"--sign", "ours.key", "--launcher", STUB_LAUNCHER, "--decompressor",
                            "./dec", "archive.bz2", "pkg"});
  ASSERT_EQ(0, built.code) << built.err;
  EXPECT_EQ(0644, ModeOf(m_dir / "pkg.minisig"));
  ProcessResult info = Mk({"--info", "pkg"});
  size_t at = info.out.find("Checksum:      ");
  ASSERT_NE(std::string::npos, at);
  std::string checksum = info.out.substr(at + 15, info.out.find('\n', at) - at - 15);
  for (const Args& key : {Args{"-p", "ours.pub"}, Args{"-P", KeyText("ours.pub")}}) {
    Args args = {"-Vm", "pkg"};
    args.insert(args.end(), key.begin(), key.end());
    ProcessResult checked = Minisign(args);
    EXPECT_EQ(0, checked.code) << checked.err;
    EXPECT_NE(std::string::npos, checked.out.find("\tfile:pkg\tproduct:Strata Server\tversion:" +
                                                  std::string("9.0.8.1427\tchecksum:") + checksum))
        << checked.out;
  }

  // Signed later, on its own; minisign also signs with a key of ours.
  ASSERT_EQ(0, Minisign({"-S", "-W", "-s", "ours.key", "-m", "pkg"}).code);
  ProcessResult resigned = Mk({"--sign", "ours.key", "--package", "pkg"});
  EXPECT_EQ(0, resigned.code) << resigned.err;
  EXPECT_EQ(0, Minisign({"-Vm", "pkg", "-p", "ours.pub"}).code);
  EXPECT_EQ(0, Mk({"--verify", "pkg", "-P", KeyText("ours.pub")}).code);

  // The same package built again keeps its signature fitting: no warning.
  ProcessResult same =
      Mk({"--launcher", STUB_LAUNCHER, "--decompressor", "./dec", "archive.bz2", "pkg"});
  EXPECT_EQ("", same.err);
  EXPECT_EQ(0, Minisign({"-Vm", "pkg", "-p", "ours.pub"}).code);

  // A package built otherwise leaves the old signature wrong.
  ProcessResult rebuilt = Mk({"--launcher", STUB_LAUNCHER, "--decompressor", "./dec", "--checksum",
                              "sha256", "archive.bz2", "pkg"});
  EXPECT_EQ(
      "mkpackage: warning: pkg.minisig does not sign the new package; sign it again or "
      "remove it\n",
      rebuilt.err);
  EXPECT_NE(0, Minisign({"-Vm", "pkg", "-p", "ours.pub"}).code);
}

TEST_F(SignCommandTest, MkpackageChecksWhatMinisignSigns) {
  ASSERT_EQ(0, Minisign({"-G", "-W", "-p", "m.pub", "-s", "m.key"}).code);
  std::string id = SplitLine(ReadFile(m_dir / "m.pub"), 0).substr(39);
  for (const Args& legacy : {Args{}, Args{"-l"}}) {
    Args args = {"-S", "-W", "-s", "m.key", "-m", "pkg", "-t", "release 9.0.8"};
    args.insert(args.end(), legacy.begin(), legacy.end());
    ASSERT_EQ(0, Minisign(args).code);
    ProcessResult checked = Mk({"--verify", "pkg", "--pubkey", "m.pub"});
    EXPECT_EQ(0, checked.code) << checked.err;
    EXPECT_EQ(
        "Signature verified: pkg.minisig, key ID " + id + "\nTrusted comment: release 9.0.8\n",
        checked.out);
  }
  // A key of minisign's without a password signs for mkpackage too.
  ASSERT_EQ(0, Mk({"--sign", "m.key", "--package", "pkg"}).code);
  EXPECT_EQ(0, Minisign({"-Vm", "pkg", "-P", KeyText("m.pub")}).code);
}

TEST_F(SignCommandTest, BothRefuseWhatWasChanged) {
  ASSERT_EQ(0, Mk({"--generate-key", "a", "--no-password"}).code);
  ASSERT_EQ(0, Mk({"--generate-key", "b", "--no-password"}).code);
  std::string package = ReadFile(m_dir / "pkg");
  // Each algorithm: mkpackage's prehashed signature, minisign's legacy one.
  const std::vector<Args> signers = {
      {MKPACKAGE, "--sign", "a.key", "--package", "pkg"},
      {"/usr/bin/minisign", "-S", "-l", "-W", "-s", "a.key", "-m", "pkg"}};
  for (const Args& signer : signers) {
    auto sign = [&](const std::string& key) {
      Args args(signer.begin() + 1, signer.end());
      args[args[0] == "--sign" ? 1 : 4] = key;
      ASSERT_EQ(0, Run(signer[0], args).code);
    };
    sign("a.key");
    ExpectBothVerdicts(true, "a.pub", signer[0]);
    std::string signature = ReadFile(m_dir / "pkg.minisig");

    std::string flipped = package;
    flipped[flipped.size() / 2] ^= 0x01;
    WriteFile(m_dir / "pkg", flipped, 0755);
    ExpectBothVerdicts(false, "a.pub", "flipped byte");
    WriteFile(m_dir / "pkg", package, 0755);

    sign("b.key");
    ExpectBothVerdicts(false, "a.pub", "another key");
    ProcessResult other = Mk({"--verify", "pkg", "--pubkey", "a.pub"});
    EXPECT_EQ("mkpackage: pkg.minisig: signed with key ID " +
                  SplitLine(ReadFile(m_dir / "b.pub"), 0).substr(39) + ", not with the given key " +
                  SplitLine(ReadFile(m_dir / "a.pub"), 0).substr(39) + "\n",
              other.err);

    std::string damaged = signature;
    size_t line2 = damaged.find('\n') + 1;
    damaged[line2 + 20] = damaged[line2 + 20] == 'A' ? 'B' : 'A';
    WriteFile(m_dir / "pkg.minisig", damaged);
    ExpectBothVerdicts(false, "a.pub", "damaged signature");
    WriteFile(m_dir / "pkg.minisig", signature.substr(0, signature.size() / 2));
    ExpectBothVerdicts(false, "a.pub", "signature cut short");

    std::string edited = signature;
    size_t comment = edited.find("\ntrusted comment: ") + 18;
    edited.insert(comment, "x");
    WriteFile(m_dir / "pkg.minisig", edited);
    ExpectBothVerdicts(false, "a.pub", "edited trusted comment");
    EXPECT_EQ(
        "mkpackage: pkg.minisig: the trusted comment does not match its signature: it was "
        "changed\n",
        Mk({"--verify", "pkg", "--pubkey", "a.pub"}).err);
  }
}

TEST_F(SignCommandTest, InfoTellsWhetherASignatureLiesBeside) {
  ASSERT_EQ(0, Mk({"--generate-key", "a", "--no-password"}).code);
  ASSERT_EQ(0, Mk({"--generate-key", "b", "--no-password"}).code);
  std::string id = SplitLine(ReadFile(m_dir / "a.pub"), 0).substr(39);
  ProcessResult none = Mk({"--info", "pkg"});
  EXPECT_EQ(0, none.code);
  EXPECT_NE(std::string::npos, none.out.find("\nVerified:      yes\nSignature:     none\n"));
  ProcessResult wanted = Mk({"--info", "pkg", "--pubkey", "a.pub"});
  EXPECT_EQ(1, wanted.code);
  EXPECT_EQ("mkpackage: pkg: there is no signature pkg.minisig to check\n", wanted.err);

  // A damaged package is not signed.
  std::string package = ReadFile(m_dir / "pkg");
  std::string damaged = package;
  damaged[damaged.size() - 1] ^= 0x01;
  WriteFile(m_dir / "pkg", damaged, 0755);
  ProcessResult refused = Mk({"--sign", "a.key", "--package", "pkg"});
  EXPECT_EQ(1, refused.code);
  EXPECT_EQ("mkpackage: pkg: the package is damaged (see --info); it is not signed\n", refused.err);
  EXPECT_FALSE(Exists(m_dir / "pkg.minisig"));
  WriteFile(m_dir / "pkg", package, 0755);

  ASSERT_EQ(0, Mk({"--sign", "a.key", "--package", "pkg"}).code);
  EXPECT_NE(std::string::npos, Mk({"--info", "pkg"})
                                   .out.find("\nSignature:     pkg.minisig, by key ID " + id +
                                             ", not checked (give --pubkey FILE or -P KEY)\n"));
  ProcessResult good = Mk({"--info", "pkg", "-P", KeyText("a.pub")});
  EXPECT_EQ(0, good.code);
  EXPECT_NE(std::string::npos,
            good.out.find("\nSignature:     pkg.minisig, verified with key ID " + id + "\n"));
  ProcessResult bad = Mk({"--info", "pkg", "--pubkey", "b.pub"});
  EXPECT_EQ(1, bad.code);
  EXPECT_NE(std::string::npos, bad.out.find("\nSignature:     pkg.minisig, does not verify\n"));
}

TEST_F(SignCommandTest, LooseKeyAndPasswordFilesAreRefused) {
  ASSERT_EQ(0, Mk({"--generate-key", "a", "--no-password"}).code);
  for (int mode : {0640, 0604}) {
    ASSERT_EQ(0, chmod((m_dir / "a.key").c_str(), mode));
    ProcessResult loose = Mk({"--sign", "a.key", "--package", "pkg"});
    EXPECT_EQ(1, loose.code);
    EXPECT_EQ(FormatText("mkpackage: a.key: others may read it (mode %04o); make it private "
                         "with chmod 600\n",
                         mode),
              loose.err);
  }
  ASSERT_EQ(0, chmod((m_dir / "a.key").c_str(), 0600));
  WriteFile(m_dir / "pw", "secret\n", 0644);
  ProcessResult password = Mk({"--generate-key", "c", "--password-file", "pw"});
  EXPECT_EQ(1, password.code);
  EXPECT_EQ("mkpackage: pw: others may read it (mode 0644); make it private with chmod 600\n",
            password.err);
  EXPECT_FALSE(Exists(m_dir / "c.key"));
  EXPECT_FALSE(Exists(m_dir / "pkg.minisig"));
}

TEST_F(SignCommandTest, MinisignsEncryptedKeyOpensWithThePasswordFile) {
  ASSERT_EQ(0, Minisign({"-G", "-p", "m.pub", "-s", "m.key"}, "tulip\ntulip\n").code);
  WriteFile(m_dir / "pw", "tulip\n", 0600);
  WriteFile(m_dir / "wrong", "tulips\n", 0600);
  ProcessResult signedWith = Mk({"--sign", "m.key", "--password-file", "pw", "--package", "pkg"});
  EXPECT_EQ(0, signedWith.code) << signedWith.err;
  EXPECT_EQ(0, Minisign({"-Vm", "pkg", "-p", "m.pub"}).code);

  std::string signature = ReadFile(m_dir / "pkg.minisig");
  ProcessResult wrong = Mk({"--sign", "m.key", "--password-file", "wrong", "--package", "pkg"});
  EXPECT_EQ(1, wrong.code);
  EXPECT_EQ("mkpackage: m.key: wrong password for the secret key\n", wrong.err);
  EXPECT_EQ(signature, ReadFile(m_dir / "pkg.minisig"));
}

TEST_F(SignCommandTest, OurEncryptedKeyAsksOnTheTerminalAndServesMinisign) {
  ProgramRun run;
  run.program = MKPACKAGE;
  run.argv = {MKPACKAGE, "--generate-key", "ours"};
  run.cwd = m_dir.path();
  // Ended at the prompt, it leaves the terminal echoing again.
  {
    PtySession session;
    ASSERT_TRUE(session.Start(run));
    ASSERT_TRUE(session.Expect("Password for the new secret key ours.key: "));
    EXPECT_EQ(0u, session.Settings().c_lflag & ECHO);
    session.Send("\x03");
    ProcessResult result = session.Finish();
    EXPECT_FALSE(result.exited);
    EXPECT_EQ(SIGINT, result.code);
    EXPECT_NE(0u, session.Settings().c_lflag & ECHO);
  }
  // Two different passwords write nothing.
  {
    PtySession session;
    ASSERT_TRUE(session.Start(run));
    ASSERT_TRUE(session.Expect("Password for the new secret key ours.key: "));
    session.SendLine("one");
    ASSERT_TRUE(session.Expect("The same password again: "));
    session.SendLine("two");
    ProcessResult result = session.Finish();
    EXPECT_EQ(1, result.code);
    EXPECT_TRUE(session.Expect("mkpackage: the two passwords differ; no key was written\n"));
    EXPECT_FALSE(Exists(m_dir / "ours.key"));
  }
  PtySession session;
  ASSERT_TRUE(session.Start(run));
  ASSERT_TRUE(session.Expect("Password for the new secret key ours.key: "));
  session.SendLine("violet");
  ASSERT_TRUE(session.Expect("The same password again: "));
  session.SendLine("violet");
  ProcessResult made = session.Finish();
  ASSERT_EQ(0, made.code) << session.Output();
  EXPECT_EQ(std::string::npos, session.Output().find("violet"));
  EXPECT_EQ(0600, ModeOf(m_dir / "ours.key"));

  WriteFile(m_dir / "pw", "violet\n", 0600);
  ProcessResult signedWith =
      Mk({"--sign", "ours.key", "--password-file", "pw", "--package", "pkg"});
  EXPECT_EQ(0, signedWith.code) << signedWith.err;
  EXPECT_EQ(0, Minisign({"-Vm", "pkg", "-p", "ours.pub"}).code);
  ASSERT_EQ(0, Minisign({"-S", "-s", "ours.key", "-m", "pkg"}, "violet\n").code);
  EXPECT_EQ(0, Mk({"--verify", "pkg", "--pubkey", "ours.pub"}).code);
}

TEST_F(SignCommandTest, SigningOptionsOutOfPlaceAreUsageErrors) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"--verify", "pkg"}, "--verify needs a public key: --pubkey FILE or -P KEY"},
      {{"--pubkey", "a.pub", "archive.bz2", "out"},
       "--pubkey and -P go only with --verify or --info"},
      {{"--sign", "a.key", "--package", "pkg", "out"},
       "--sign with --package takes no ARCHIVE, OUTPUT or build options"},
      {{"--generate-key", "k", "--sign", "a.key"},
       "--generate-key takes a NAME and only --password-file or --no-password"},
      {{"--no-password", "--sign", "a.key", "archive.bz2", "out"},
       "--no-password goes only with --generate-key"},
      {{"--sign=", "archive.bz2", "out"}, "option '--sign' needs a secret key file"},
  };
  for (const auto& c : cases) {
    ProcessResult result = Mk(c.first);
    EXPECT_EQ(2, result.code) << c.second;
    EXPECT_EQ("mkpackage: " + c.second + "\n" + kTryHelp, result.err);
  }
  ProcessResult help = Mk({"--help"});
  for (const char* option : {"\n  --sign KEY ", "\n  --package PACKAGE ", "\n  --verify PACKAGE ",
                             "\n  --pubkey FILE ", "\n  -P KEY ", "\n  --password-file FILE ",
                             "\n  --generate-key NAME ", "\n  --no-password "})
    EXPECT_NE(std::string::npos, help.out.find(option)) << option;
}

}  // namespace
