#include "packager/SignCommand.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "common/AtomicFile.h"
#include "common/FileIo.h"
#include "common/Path.h"
#include "common/ScopedFd.h"
#include "common/ShownText.h"
#include "common/SystemError.h"
#include "package/Checksum.h"
#include "packager/PackageInspector.h"
#include "packager/Progress.h"
#include "product/ServerVersion.h"
#include "signing/KeyFile.h"
#include "signing/PublicKey.h"
#include "signing/SecretKey.h"
#include "signing/Signature.h"
#include "signing/Sodium.h"
#include "signing/TerminalPassword.h"

namespace {

// Wipes a password or key text when it goes out of scope.
class Wiped {
 public:
  explicit Wiped(std::string* text) : m_pText(text) {}
  ~Wiped() {
    for (char& c : *m_pText)
      *static_cast<volatile char*>(&c) = 0;
  }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;

 private:
  std::string* m_pText;
};

}  // namespace

bool SignOptions::Take(const std::string& name, const std::string& value, std::string* problem) {
  static const struct {
    const char* name;
    std::string SignOptions::*field;
    const char* what;
  } kValues[] = {
      {"--sign", &SignOptions::secretKey, "a secret key file"},
      {"--package", &SignOptions::package, "a package"},
      {"--verify", &SignOptions::verify, "a package"},
      {"--pubkey", &SignOptions::publicKeyFile, "a public key file"},
      {"-P", &SignOptions::publicKey, "a public key"},
      {"--password-file", &SignOptions::passwordFile, "a file"},
      {"--generate-key", &SignOptions::generateKey, "a name"},
  };
  if (name == "--no-password") {
    noPassword = true;
    return true;
  }
  for (const auto& option : kValues) {
    if (name != option.name)
      continue;
    if (value.empty())
      *problem = "option '" + name + "' needs " + option.what;
    this->*option.field = value;
    return true;
  }
  return false;
}

bool SignOptions::Choose(bool info, bool list, bool build, Mode* mode, std::string* problem) const {
  bool sign = !secretKey.empty();
  bool keyGiven = !publicKeyFile.empty() || !publicKey.empty();
  const char* conflict = nullptr;
  if (!publicKeyFile.empty() && !publicKey.empty()) {
    conflict = "give only one of --pubkey and -P";
  } else if (noPassword && !passwordFile.empty()) {
    conflict = "give only one of --password-file and --no-password";
  } else if (!generateKey.empty()) {
    if (sign || !package.empty() || !verify.empty() || keyGiven || info || list || build)
      conflict = "--generate-key takes a NAME and only --password-file or --no-password";
    *mode = kGenerateKey;
  } else if (noPassword) {
    conflict = "--no-password goes only with --generate-key";
  } else if (!verify.empty()) {
    if (sign || !package.empty() || !passwordFile.empty() || info || list || build)
      conflict = "--verify takes a package and a public key and nothing else";
    else if (!keyGiven)
      conflict = "--verify needs a public key: --pubkey FILE or -P KEY";
    *mode = kVerify;
  } else if (keyGiven) {
    if (!info)
      conflict = "--pubkey and -P go only with --verify or --info";
    else if (sign || !package.empty() || !passwordFile.empty())
      conflict = "--info takes a package and nothing else";
    *mode = kInfo;
  } else if (!package.empty() && !sign) {
    conflict = "--package goes only with --sign";
  } else if (!passwordFile.empty() && !sign) {
    conflict = "--password-file goes only with --sign or --generate-key";
  } else if (!sign) {
    *mode = kNoSigning;
  } else if (info || list) {
    conflict = "--sign goes with ARCHIVE OUTPUT or with --package, not with --info or --list";
  } else if (!package.empty()) {
    if (build)
      conflict = "--sign with --package takes no ARCHIVE, OUTPUT or build options";
    *mode = kSignPackage;
  } else {
    *mode = kBuildAndSign;
  }
  if (conflict)
    *problem = conflict;
  return conflict == nullptr;
}

SignCommand::SignCommand(SignOptions options) : m_options(std::move(options)) {}

SignCommand::~SignCommand() = default;

std::string SignCommand::SignaturePath(const std::string& package) {
  return package + ".minisig";
}

bool SignCommand::ReadPasswordFile(std::string* password, std::string* error) {
  std::string content;
  Wiped wipe(&content);
  if (!ReadPrivateFile(m_options.passwordFile, &content, error))
    return false;
  // The first line is the password, so that a file written by "echo" works.
  size_t end = content.find('\n');
  password->assign(content, 0, end == std::string::npos ? content.size() : end);
  if (!password->empty() && password->back() == '\r')
    password->pop_back();
  if (password->empty()) {
    *error = m_options.passwordFile + ": the first line holds no password";
    return false;
  }
  return true;
}

bool SignCommand::OpenSecretKey(std::string* error) {
  const std::string& path = m_options.secretKey;
  std::string text, password;
  Wiped wipeText(&text), wipePassword(&password);
  if (!StartSodium(error) || !ReadPrivateFile(path, &text, error))
    return false;
  m_pKey.reset(new SecretKey);
  if (!m_pKey->Parse(text, error)) {
    *error = path + ": " + *error;
    return false;
  }
  if (m_pKey->Encrypted()) {
    if (!m_options.passwordFile.empty()) {
      if (!ReadPasswordFile(&password, error))
        return false;
    } else if (!AskPassword("Password for the secret key " + path + ": ", &password, error)) {
      *error = path + ": " + *error + " (--password-file FILE gives it)";
      return false;
    }
  }
  bool opened;
  {
    // scrypt with minisign's limits takes seconds and a GiB.
    Progress::Step step(m_pKey->Encrypted() ? m_pProgress : nullptr,
                        "deriving the key from the password");
    opened = m_pKey->Open(password, error);
  }
  if (!opened) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool SignCommand::SignPackage(const std::string& package, std::string* error) {
  PackageInspector inspector;
  PackageInspector::Verdict verdict;
  std::string actual;
  if (!inspector.Open(package, error) || !inspector.Verify(&verdict, &actual, error))
    return false;
  if (verdict == PackageInspector::kMismatch || verdict == PackageInspector::kWrongStart) {
    // A signature would vouch for a package that cannot be installed.
    *error = package + ": the package is damaged (see --info); it is not signed";
    return false;
  }
  const PackageRecord& record = inspector.Record();
  std::string checksum = Checksum::KindName(record.checksumKind);
  if (record.checksumKind != kChecksumNone)
    checksum += " " + Checksum::ToHex(record.checksum, Checksum::DigestSize(record.checksumKind));
  // minisign's own fields (timestamp, file, "hashed" for the prehashed
  // algorithm) around the package's.
  std::string comment =
      "timestamp:" + std::to_string(static_cast<long long>(time(nullptr))) +
      "\tfile:" + ShownText(BaseNameOf(package)) + "\tproduct:" + ServerVersion::ProductName() +
      "\tversion:" + ServerVersion::VersionString() + "\tchecksum:" + checksum + "\thashed";
  Signature signature;
  if (!signature.Sign(package, *m_pKey, Signature::kPrehashed, comment, error))
    return false;
  return WriteFileAtomically(SignaturePath(package), signature.ToText(), 0644, error);
}

bool SignCommand::LoadPublicKey(PublicKey* key, std::string* error) {
  if (!StartSodium(error))
    return false;
  if (!m_options.publicKey.empty()) {
    if (key->FromBase64(m_options.publicKey, error))
      return true;
    *error = "the key given with -P: " + *error;
    return false;
  }
  std::string text;
  if (!ReadKeyFile(m_options.publicKeyFile, &text, error))
    return false;
  if (key->FromFileText(text, error))
    return true;
  *error = m_options.publicKeyFile + ": " + *error;
  return false;
}

bool SignCommand::Verify(std::string* report, std::string* error) {
  const std::string& package = m_options.verify;
  std::string path = SignaturePath(package), text;
  PublicKey key;
  Signature signature;
  if (!LoadPublicKey(&key, error) || !ReadKeyFile(path, &text, error))
    return false;
  if (!signature.Parse(text, error) || !signature.Verify(package, key, error)) {
    *error = path + ": " + *error;
    return false;
  }
  *report = "Signature verified: " + path + ", key ID " + key.IdText() +
            "\nTrusted comment: " + signature.TrustedComment() + "\n";
  return true;
}

bool SignCommand::InfoLine(const std::string& package, std::string* line, std::string* error) {
  std::string path = SignaturePath(package), text;
  bool keyGiven = !m_options.publicKeyFile.empty() || !m_options.publicKey.empty();
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
    *line = "none";
    if (!keyGiven)
      return true;
    *error = package + ": there is no signature " + path + " to check";
    return false;
  }
  Signature signature;
  PublicKey key;
  if (!ReadKeyFile(path, &text, error)) {
    *line = path + ", unreadable";
    return false;
  }
  if (!signature.Parse(text, error)) {
    *line = path + ", damaged";
    *error = path + ": " + *error;
    return false;
  }
  if (!keyGiven) {
    *line = path + ", by key ID " + signature.KeyIdText() +
            ", not checked (give --pubkey FILE or -P KEY)";
    return true;
  }
  if (!LoadPublicKey(&key, error)) {
    *line = path + ", not checked";
    return false;
  }
  if (!signature.Verify(package, key, error)) {
    *line = path + ", does not verify";
    *error = path + ": " + *error;
    return false;
  }
  *line = path + ", verified with key ID " + key.IdText();
  return true;
}

bool SignCommand::GenerateKey(std::string* report, std::string* error) {
  std::string secretPath = m_options.generateKey + ".key";
  std::string publicPath = m_options.generateKey + ".pub";
  for (const std::string& path : {secretPath, publicPath}) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
      *error = path + " already exists; a key is never overwritten";
      return false;
    }
  }
  std::string password, again, text;
  Wiped wipePassword(&password), wipeAgain(&again), wipeText(&text);
  if (!m_options.noPassword) {
    if (!m_options.passwordFile.empty()) {
      if (!ReadPasswordFile(&password, error))
        return false;
    } else {
      if (!AskPassword("Password for the new secret key " + secretPath + ": ", &password, error) ||
          !AskPassword("The same password again: ", &again, error))
        return false;
      if (password != again) {
        *error = "the two passwords differ; no key was written";
        return false;
      }
      if (password.empty()) {
        *error = "an empty password; give --no-password for a key without one";
        return false;
      }
    }
  }
  if (!StartSodium(error))
    return false;
  SecretKey key;
  key.Generate();
  bool written;
  {
    Progress::Step step(m_options.noPassword ? nullptr : m_pProgress,
                        "encrypting the key with the password");
    written = key.ToFileText(m_options.noPassword ? nullptr : &password, &text, error);
  }
  if (!written || !CreateFileAtomically(secretPath, text, 0600, error))
    return false;
  PublicKey pub = key.Public();
  // Keys are private until their owner decides otherwise; the public one is
  // meant to be copied out.
  if (!CreateFileAtomically(publicPath, pub.ToFileText(), 0600, error)) {
    unlink(secretPath.c_str());
    return false;
  }
  *report = "Secret key: " + secretPath + " (keep it secret)\nPublic key: " + publicPath +
            ", key ID " + pub.IdText() +
            "\nAdministrators check a package with:\n  minisign -Vm PACKAGE -P " + pub.ToBase64() +
            "\n";
  return true;
}
