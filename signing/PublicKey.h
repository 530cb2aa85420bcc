#ifndef STRATA_SIGNING_PUBLICKEY_H_
#define STRATA_SIGNING_PUBLICKEY_H_

#include <string>

// A minisign public key: an Ed25519 public key and the 8-byte key ID that a
// signature names its key by. Plain data, freely copied.
class PublicKey {
 public:
  static const size_t kIdSize = 8;
  static const size_t kKeySize = 32;

  PublicKey();
  PublicKey(const unsigned char id[kIdSize], const unsigned char key[kKeySize]);

  // The key from its base64 text, as "minisign -P" takes it: false with a
  // message (without a file name) when the text is no minisign public key.
  bool FromBase64(const std::string& text, std::string* error);
  // The key from the text of a public key file: a comment line, then the
  // base64 line.
  bool FromFileText(const std::string& text, std::string* error);

  std::string ToBase64() const;
  // The text of a public key file, as minisign writes one.
  std::string ToFileText() const;

  const unsigned char* Id() const { return m_id; }
  const unsigned char* Key() const { return m_key; }
  // The key ID as minisign shows it.
  std::string IdText() const;

 private:
  unsigned char m_id[kIdSize];
  unsigned char m_key[kKeySize];
};

#endif  // STRATA_SIGNING_PUBLICKEY_H_
