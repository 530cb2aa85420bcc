#ifndef STRATA_SIGNING_SECRETKEY_H_
#define STRATA_SIGNING_SECRETKEY_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "signing/PublicKey.h"

// A minisign secret key: an Ed25519 key pair with its key ID, kept in a
// key file that is either encrypted with a password (scrypt) or not. Owns
// the key material and wipes it when it goes; not copyable.
//
// A key is read with Parse and made usable with Open, or made afresh with
// Generate; only an open key signs or is written out.
class SecretKey {
 public:
  static const size_t kSignatureSize = 64;

  SecretKey();
  ~SecretKey();

  SecretKey(const SecretKey&) = delete;
  SecretKey& operator=(const SecretKey&) = delete;

  // Reads the text of a key file: false with a message (without a file
  // name) when it is no minisign secret key. The key is not open yet.
  bool Parse(const std::string& fileText, std::string* error);
  // Whether Open needs the key's password.
  bool Encrypted() const { return m_bEncrypted; }
  // Decrypts the key with password (unused for a key that is not
  // encrypted) and checks it: false with a message for a wrong password or
  // a damaged key, which then stays closed.
  bool Open(const std::string& password, std::string* error);

  // A new random key pair with a new key ID, open.
  void Generate();

  // The text of a key file for the open key: encrypted with password,
  // which must not be empty, or unencrypted when password is null. False
  // with a message when the key cannot be derived from the password.
  bool ToFileText(const std::string* password, std::string* text, std::string* error) const;

  // The public half of the open key.
  PublicKey Public() const;
  // Signs message with the open key.
  void Sign(const std::string& message, unsigned char signature[kSignatureSize]) const;

 private:
  struct Fields;

  bool m_bOpen;
  bool m_bEncrypted;
  uint64_t m_nOpsLimit;
  uint64_t m_nMemLimit;
  unsigned char m_salt[32];
  // The part of the key file that a password encrypts: key ID, secret key
  // (seed and public key), checksum.
  unsigned char m_keyPart[8 + 64 + 32];
};

#endif  // STRATA_SIGNING_SECRETKEY_H_
