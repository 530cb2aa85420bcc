#ifndef STRATA_PACKAGER_SIGNCOMMAND_H_
#define STRATA_PACKAGER_SIGNCOMMAND_H_

#include <memory>
#include <string>

class Progress;
class PublicKey;
class SecretKey;

// The signing options of the mkpackage command line.
struct SignOptions {
  enum Mode {
    kNoSigning,     // none of these options
    kBuildAndSign,  // --sign with ARCHIVE OUTPUT
    kSignPackage,   // --sign with --package
    kVerify,        // --verify
    kGenerateKey,   // --generate-key
    kInfo,          // --info with --pubkey or -P
  };

  std::string secretKey;      // --sign KEY
  std::string package;        // --package PACKAGE
  std::string verify;         // --verify PACKAGE
  std::string publicKeyFile;  // --pubkey FILE
  std::string publicKey;      // -P KEY, in base64
  std::string passwordFile;   // --password-file FILE
  std::string generateKey;    // --generate-key NAME
  bool noPassword = false;    // --no-password

  // Takes option name with its value if it is one of these: true, with
  // *problem set when the value is empty; false for any other option.
  bool Take(const std::string& name, const std::string& value, std::string* problem);

  // What the options ask for, given whether the command line also has
  // --info, --list, or build options or operands: false with a usage
  // message when they do not go together.
  bool Choose(bool info, bool list, bool build, Mode* mode, std::string* problem) const;
};

// Carries out the signing modes of mkpackage in minisign's formats: signs a
// package into PACKAGE.minisig beside it, checks such a signature against a
// public key, makes a key pair. Owns the secret key once it is open. Every
// operation returns false with a message (without the program's name);
// files it writes appear whole or not at all.
class SignCommand {
 public:
  explicit SignCommand(SignOptions options);
  ~SignCommand();

  SignCommand(const SignCommand&) = delete;
  SignCommand& operator=(const SignCommand&) = delete;

  // Shows the derivation of a key from its password there
  // (packager/Progress.h); null, the default, for none.
  void SetProgress(Progress* progress) { m_pProgress = progress; }

  // The signature that belongs beside package.
  static std::string SignaturePath(const std::string& package);

  // Reads the secret key of --sign (refused when others may read it) and
  // opens it, with the password from --password-file or asked for on the
  // terminal. Done before a build, so that a wrong password costs none.
  bool OpenSecretKey(std::string* error);

  // Signs package with the open key, unless its pieces do not give the
  // digest its record holds: writes PACKAGE.minisig (mode 0644), whose
  // trusted comment names the file, the product and version and the
  // record's digest. An earlier signature is replaced.
  bool SignPackage(const std::string& package, std::string* error);

  // Checks PACKAGE.minisig of --verify against the key of --pubkey or -P;
  // *report receives what to show on success.
  bool Verify(std::string* report, std::string* error);

  // What --info shows after "Signature:": whether a signature lies beside
  // package and, with a key given, whether it verifies (false when it does
  // not, or when there is none to check).
  bool InfoLine(const std::string& package, std::string* line, std::string* error);

  // Writes the key pair NAME.key and NAME.pub of --generate-key, both mode
  // 0600, never over an existing file; the secret key is encrypted with a
  // password (from --password-file, or asked for twice on the terminal)
  // unless --no-password. *report receives what to show.
  bool GenerateKey(std::string* report, std::string* error);

 private:
  bool ReadPasswordFile(std::string* password, std::string* error);
  bool LoadPublicKey(PublicKey* key, std::string* error);

  SignOptions m_options;
  std::unique_ptr<SecretKey> m_pKey;
  Progress* m_pProgress = nullptr;
};

#endif  // STRATA_PACKAGER_SIGNCOMMAND_H_
