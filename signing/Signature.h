#ifndef STRATA_SIGNING_SIGNATURE_H_
#define STRATA_SIGNING_SIGNATURE_H_

#include <string>

#include "signing/PublicKey.h"
#include "signing/SecretKey.h"

// A detached signature of one file in minisign's format (a ".minisig"
// file): the Ed25519 signature of the file, made by the key of the key ID
// it names, and a trusted comment that is signed together with that
// signature, so that neither can be changed alone.
//
// Two algorithms sign the file: the legacy one ("Ed") signs its bytes, the
// prehashed one ("ED", minisign's default since 0.11) its BLAKE2b-512
// digest, which needs no whole copy of a large file in memory.
class Signature {
 public:
  enum Algorithm { kLegacy, kPrehashed };

  Signature();

  // Signs the file at path with the open key: false with a message when
  // the file cannot be read or the comment holds a line end.
  bool Sign(const std::string& path, const SecretKey& key, Algorithm algorithm,
            const std::string& trustedComment, std::string* error);

  // Reads the text of a signature file: false with a message (without a
  // file name) when it is not one.
  bool Parse(const std::string& text, std::string* error);
  // The text of the signature file.
  std::string ToText() const;

  // Checks the signature of the file at path and of the trusted comment
  // against key: false with a message that says which does not match.
  bool Verify(const std::string& path, const PublicKey& key, std::string* error) const;

  // The ID of the key that made the signature, as minisign shows it.
  std::string KeyIdText() const;
  const std::string& TrustedComment() const { return m_szTrustedComment; }

 private:
  Algorithm m_algorithm;
  unsigned char m_keyId[PublicKey::kIdSize];
  unsigned char m_signature[SecretKey::kSignatureSize];
  std::string m_szTrustedComment;
  unsigned char m_commentSignature[SecretKey::kSignatureSize];
};

#endif  // STRATA_SIGNING_SIGNATURE_H_
