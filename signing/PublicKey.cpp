#include "signing/PublicKey.h"

#include <string.h>

#include <vector>

#include "signing/MinisignText.h"

namespace {

// "Ed", the only algorithm of minisign keys.
const char kKeyAlgorithm[] = "Ed";
const size_t kEncodedSize = 2 + PublicKey::kIdSize + PublicKey::kKeySize;

}  // namespace

PublicKey::PublicKey() : m_id(), m_key() {}

PublicKey::PublicKey(const unsigned char id[kIdSize], const unsigned char key[kKeySize]) {
  memcpy(m_id, id, kIdSize);
  memcpy(m_key, key, kKeySize);
}

bool PublicKey::FromBase64(const std::string& text, std::string* error) {
  std::string bytes;
  if (!DecodeBase64(text, kEncodedSize, &bytes)) {
    *error = "not a minisign public key";
    return false;
  }
  if (bytes.compare(0, 2, kKeyAlgorithm) != 0) {
    *error = "not an Ed25519 minisign public key";
    return false;
  }
  memcpy(m_id, bytes.data() + 2, kIdSize);
  memcpy(m_key, bytes.data() + 2 + kIdSize, kKeySize);
  return true;
}

bool PublicKey::FromFileText(const std::string& text, std::string* error) {
  std::vector<std::string> lines = SplitLines(text);
  if (lines.size() < 2 ||
      lines[0].compare(0, strlen(kUntrustedCommentPrefix), kUntrustedCommentPrefix) != 0) {
    *error = "not a minisign public key file";
    return false;
  }
  return FromBase64(lines[1], error);
}

std::string PublicKey::ToBase64() const {
  std::string bytes = kKeyAlgorithm;
  bytes.append(reinterpret_cast<const char*>(m_id), kIdSize);
  bytes.append(reinterpret_cast<const char*>(m_key), kKeySize);
  return EncodeBase64(bytes.data(), bytes.size());
}

std::string PublicKey::ToFileText() const {
  return std::string(kUntrustedCommentPrefix) + "minisign public key " + IdText() + "\n" +
         ToBase64() + "\n";
}

std::string PublicKey::IdText() const {
  return KeyIdText(m_id);
}
