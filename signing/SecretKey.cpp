#include "signing/SecretKey.h"

#include <string.h>

#include <vector>

#include <sodium.h>

#include "signing/MinisignText.h"

// The key file's binary line, in minisign's layout:
//   "Ed" | KDF "Sc" (scrypt) or two zero bytes | "B2" (BLAKE2b checksum) |
//   salt (32) | ops limit (8, little-endian) | memory limit (8) |
//   key ID (8) | secret key (64) | checksum (32)
// The last three fields are the part that the password encrypts, by XOR
// with as many bytes of scrypt output.
namespace {

const size_t kIdSize = 8;
const size_t kSecretSize = 64;
const size_t kChecksumSize = 32;
const size_t kSaltSize = 32;
const size_t kHeaderSize = 2 + 2 + 2 + kSaltSize + 8 + 8;
const size_t kKeyPartSize = kIdSize + kSecretSize + kChecksumSize;
const size_t kEncodedSize = kHeaderSize + kKeyPartSize;

const char kKeyAlgorithm[] = "Ed";
const char kScrypt[] = "Sc";
const char kNoKdf[2] = {0, 0};
const char kBlake2b[] = "B2";

// Far beyond the limits minisign stores in a new key: a key that asks for
// more is damaged, and would keep scrypt busy for hours.
const uint64_t kMaxOpsLimit = 16ull * crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE;
const uint64_t kMaxMemLimit = 16ull * crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE;

uint64_t LoadLittleEndian(const unsigned char* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = value << 8 | p[i];
  return value;
}

void StoreLittleEndian(uint64_t value, std::string* out) {
  for (int i = 0; i < 8; ++i)
    out->push_back(static_cast<char>(value >> (8 * i) & 0xff));
}

// The key's checksum: BLAKE2b-256 of the algorithm, the key ID and the
// secret key, which tells a right password from a wrong one.
void ComputeChecksum(const unsigned char* keyPart, unsigned char out[kChecksumSize]) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, kChecksumSize);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(kKeyAlgorithm), 2);
  crypto_generichash_update(&state, keyPart, kIdSize + kSecretSize);
  crypto_generichash_final(&state, out, kChecksumSize);
}

// XORs the key part with the scrypt output of password.
bool ApplyPassword(const std::string& password, const unsigned char* salt, uint64_t opsLimit,
                   uint64_t memLimit, unsigned char* keyPart) {
  unsigned char stream[kKeyPartSize];
  if (crypto_pwhash_scryptsalsa208sha256(stream, sizeof stream, password.data(), password.size(),
                                         salt, opsLimit, static_cast<size_t>(memLimit)) != 0) {
    sodium_memzero(stream, sizeof stream);
    return false;
  }
  for (size_t i = 0; i < kKeyPartSize; ++i)
    keyPart[i] ^= stream[i];
  sodium_memzero(stream, sizeof stream);
  return true;
}

}  // namespace

SecretKey::SecretKey()
    : m_bOpen(false), m_bEncrypted(false), m_nOpsLimit(0), m_nMemLimit(0), m_salt(), m_keyPart() {}

SecretKey::~SecretKey() {
  sodium_memzero(m_keyPart, sizeof m_keyPart);
}

bool SecretKey::Parse(const std::string& fileText, std::string* error) {
  m_bOpen = false;
  std::vector<std::string> lines = SplitLines(fileText);
  std::string bytes;
  if (lines.size() < 2 ||
      lines[0].compare(0, strlen(kUntrustedCommentPrefix), kUntrustedCommentPrefix) != 0 ||
      !DecodeBase64(lines[1], kEncodedSize, &bytes)) {
    *error = "not a minisign secret key";
    return false;
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  bool ok = false;
  if (memcmp(p, kKeyAlgorithm, 2) != 0 || memcmp(p + 4, kBlake2b, 2) != 0) {
    *error = "not an Ed25519 minisign secret key";
  } else if (memcmp(p + 2, kScrypt, 2) != 0 && memcmp(p + 2, kNoKdf, 2) != 0) {
    *error = "the secret key is encrypted in a way that is not scrypt";
  } else {
    m_bEncrypted = memcmp(p + 2, kScrypt, 2) == 0;
    memcpy(m_salt, p + 6, kSaltSize);
    m_nOpsLimit = LoadLittleEndian(p + 6 + kSaltSize);
    m_nMemLimit = LoadLittleEndian(p + 6 + kSaltSize + 8);
    memcpy(m_keyPart, p + kHeaderSize, kKeyPartSize);
    ok = !m_bEncrypted || (m_nOpsLimit <= kMaxOpsLimit && m_nMemLimit <= kMaxMemLimit);
    if (!ok)
      *error = "the secret key asks for far more scrypt work than minisign's keys (is it damaged?)";
  }
  sodium_memzero(&bytes[0], bytes.size());
  for (std::string& line : lines)
    sodium_memzero(&line[0], line.size());
  return ok;
}

bool SecretKey::Open(const std::string& password, std::string* error) {
  if (m_bOpen)
    return true;
  unsigned char part[kKeyPartSize];
  memcpy(part, m_keyPart, kKeyPartSize);
  if (m_bEncrypted && !ApplyPassword(password, m_salt, m_nOpsLimit, m_nMemLimit, part)) {
    sodium_memzero(part, sizeof part);
    *error = "cannot derive the key from the password (too little memory?)";
    return false;
  }
  unsigned char checksum[kChecksumSize];
  ComputeChecksum(part, checksum);
  bool checksumOk = sodium_memcmp(checksum, part + kIdSize + kSecretSize, kChecksumSize) == 0;
  // minisign leaves the checksum of a key without a password zero; the
  // public half that the seed gives must then match the stored one.
  if (!checksumOk && !m_bEncrypted && sodium_is_zero(part + kIdSize + kSecretSize, kChecksumSize)) {
    unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(pk, sk, part + kIdSize);
    checksumOk = sodium_memcmp(sk, part + kIdSize, kSecretSize) == 0;
    sodium_memzero(sk, sizeof sk);
  }
  if (!checksumOk) {
    sodium_memzero(part, sizeof part);
    *error = m_bEncrypted ? "wrong password for the secret key" : "the secret key is damaged";
    return false;
  }
  memcpy(m_keyPart, part, kKeyPartSize);
  sodium_memzero(part, sizeof part);
  m_bOpen = true;
  return true;
}

void SecretKey::Generate() {
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  randombytes_buf(m_keyPart, kIdSize);
  crypto_sign_keypair(pk, m_keyPart + kIdSize);
  ComputeChecksum(m_keyPart, m_keyPart + kIdSize + kSecretSize);
  m_bEncrypted = false;
  m_bOpen = true;
}

bool SecretKey::ToFileText(const std::string* password, std::string* text,
                           std::string* error) const {
  unsigned char salt[kSaltSize] = {};
  uint64_t opsLimit = 0, memLimit = 0;
  unsigned char part[kKeyPartSize];
  memcpy(part, m_keyPart, kKeyPartSize);
  if (password) {
    // The limits that minisign itself uses, and stores, for a new key.
    randombytes_buf(salt, sizeof salt);
    opsLimit = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE;
    memLimit = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE;
    if (!ApplyPassword(*password, salt, opsLimit, memLimit, part)) {
      sodium_memzero(part, sizeof part);
      *error = "cannot derive a key from the password (too little memory?)";
      return false;
    }
  }
  std::string bytes = kKeyAlgorithm;
  bytes.append(password ? kScrypt : kNoKdf, 2);
  bytes.append(kBlake2b);
  bytes.append(reinterpret_cast<const char*>(salt), kSaltSize);
  StoreLittleEndian(opsLimit, &bytes);
  StoreLittleEndian(memLimit, &bytes);
  bytes.append(reinterpret_cast<const char*>(part), kKeyPartSize);
  sodium_memzero(part, sizeof part);
  *text = std::string(kUntrustedCommentPrefix) +
          (password ? "minisign encrypted secret key" : "minisign secret key") + "\n" +
          EncodeBase64(bytes.data(), bytes.size()) + "\n";
  sodium_memzero(&bytes[0], bytes.size());
  return true;
}

PublicKey SecretKey::Public() const {
  // The secret key's second half is the public key.
  return PublicKey(m_keyPart, m_keyPart + kIdSize + 32);
}

void SecretKey::Sign(const std::string& message, unsigned char signature[kSignatureSize]) const {
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size(), m_keyPart + kIdSize);
}
