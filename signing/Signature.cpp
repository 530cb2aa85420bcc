#include "signing/Signature.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include <sodium.h>

#include "common/SystemError.h"
#include "signing/MinisignText.h"

namespace {

const char kLegacyAlgorithm[] = "Ed";
const char kPrehashedAlgorithm[] = "ED";
const size_t kIdSize = PublicKey::kIdSize;
const size_t kSignatureSize = SecretKey::kSignatureSize;

// What Ed25519 signs for the file at path: its BLAKE2b-512 digest
// (prehashed) or its bytes (legacy).
bool SignedMessage(const std::string& path, Signature::Algorithm algorithm, std::string* message,
                   std::string* error) {
  // A FIFO must be refused, not waited on for a writer that never comes.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = path + ": " + ErrnoText(errno);
    return false;
  }
  struct stat st = {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = errno;
    *error = path + ": " + (st.st_mode == 0 ? ErrnoText(err) : "not a regular file");
    close(fd);
    return false;
  }
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
  message->clear();
  std::vector<unsigned char> block(1 << 20);
  bool ok = false;
  for (;;) {
    ssize_t n = read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      *error = path + ": " + ErrnoText(errno);
      break;
    }
    if (n == 0) {
      ok = true;
      break;
    }
    if (algorithm == Signature::kPrehashed)
      crypto_generichash_update(&state, block.data(), static_cast<size_t>(n));
    else
      message->append(reinterpret_cast<const char*>(block.data()), static_cast<size_t>(n));
  }
  close(fd);
  if (ok && algorithm == Signature::kPrehashed) {
    unsigned char digest[crypto_generichash_BYTES_MAX];
    crypto_generichash_final(&state, digest, sizeof digest);
    message->assign(reinterpret_cast<const char*>(digest), sizeof digest);
  }
  return ok;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

}  // namespace

Signature::Signature() : m_algorithm(kPrehashed), m_keyId(), m_signature(), m_commentSignature() {}

bool Signature::Sign(const std::string& path, const SecretKey& key, Algorithm algorithm,
                     const std::string& trustedComment, std::string* error) {
  if (trustedComment.find_first_of("\r\n") != std::string::npos) {
    *error = "a trusted comment must be one line";
    return false;
  }
  std::string message;
  if (!SignedMessage(path, algorithm, &message, error))
    return false;
  m_algorithm = algorithm;
  memcpy(m_keyId, key.Public().Id(), kIdSize);
  key.Sign(message, m_signature);
  m_szTrustedComment = trustedComment;
  // The comment is signed together with the file's signature, which ties it
  // to this file.
  std::string signedComment(reinterpret_cast<const char*>(m_signature), kSignatureSize);
  key.Sign(signedComment + trustedComment, m_commentSignature);
  return true;
}

bool Signature::Parse(const std::string& text, std::string* error) {
  std::vector<std::string> lines = SplitLines(text);
  std::string signatureLine, commentSignature;
  if (lines.size() < 4) {
    *error = "not a minisign signature (it is cut short)";
  } else if (!StartsWith(lines[0], kUntrustedCommentPrefix)) {
    *error = "not a minisign signature (it does not start with an untrusted comment)";
  } else if (!DecodeBase64(lines[1], 2 + kIdSize + kSignatureSize, &signatureLine)) {
    *error = "not a minisign signature (its signature line is damaged)";
  } else if (signatureLine.compare(0, 2, kLegacyAlgorithm) != 0 &&
             signatureLine.compare(0, 2, kPrehashedAlgorithm) != 0) {
    *error = "a signature algorithm that is neither minisign's legacy (Ed) nor its prehashed (ED)";
  } else if (!StartsWith(lines[2], kTrustedCommentPrefix)) {
    *error = "not a minisign signature (its third line is no trusted comment)";
  } else if (!DecodeBase64(lines[3], kSignatureSize, &commentSignature)) {
    *error = "not a minisign signature (the trusted comment's signature line is damaged)";
  } else {
    m_algorithm = signatureLine.compare(0, 2, kLegacyAlgorithm) == 0 ? kLegacy : kPrehashed;
    memcpy(m_keyId, signatureLine.data() + 2, kIdSize);
    memcpy(m_signature, signatureLine.data() + 2 + kIdSize, kSignatureSize);
    m_szTrustedComment = lines[2].substr(strlen(kTrustedCommentPrefix));
    memcpy(m_commentSignature, commentSignature.data(), kSignatureSize);
    return true;
  }
  return false;
}

std::string Signature::ToText() const {
  std::string signatureLine = m_algorithm == kLegacy ? kLegacyAlgorithm : kPrehashedAlgorithm;
  signatureLine.append(reinterpret_cast<const char*>(m_keyId), kIdSize);
  signatureLine.append(reinterpret_cast<const char*>(m_signature), kSignatureSize);
  return std::string(kUntrustedCommentPrefix) + "signature from mkpackage secret key\n" +
         EncodeBase64(signatureLine.data(), signatureLine.size()) + "\n" + kTrustedCommentPrefix +
         m_szTrustedComment + "\n" + EncodeBase64(m_commentSignature, kSignatureSize) + "\n";
}

bool Signature::Verify(const std::string& path, const PublicKey& key, std::string* error) const {
  if (memcmp(m_keyId, key.Id(), kIdSize) != 0) {
    *error = "signed with key ID " + KeyIdText() + ", not with the given key " + key.IdText();
    return false;
  }
  std::string message;
  if (!SignedMessage(path, m_algorithm, &message, error))
    return false;
  if (crypto_sign_verify_detached(m_signature,
                                  reinterpret_cast<const unsigned char*>(message.data()),
                                  message.size(), key.Key()) != 0) {
    *error =
        "the signature does not match the file: the file was changed, or the signature is "
        "not by this key";
    return false;
  }
  std::string signedComment(reinterpret_cast<const char*>(m_signature), kSignatureSize);
  signedComment += m_szTrustedComment;
  if (crypto_sign_verify_detached(m_commentSignature,
                                  reinterpret_cast<const unsigned char*>(signedComment.data()),
                                  signedComment.size(), key.Key()) != 0) {
    *error = "the trusted comment does not match its signature: it was changed";
    return false;
  }
  return true;
}

std::string Signature::KeyIdText() const {
  return ::KeyIdText(m_keyId);
}
