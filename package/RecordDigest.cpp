#include "package/RecordDigest.h"

// The one-call SHA-256 functions, not the EVP interface: EVP fetches its
// algorithms through OpenSSL's providers, which brings the configuration
// file of the machine it runs on, dlopen and the network lookups into a
// program linked whole (several megabytes, and behaviour that depends on the
// server's /etc/ssl). These functions run the same code, SHA extensions
// included, and nothing else. OpenSSL 3 marks them deprecated, not removed.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "package/Checksum.h"

struct RecordDigest::State {
  SHA256_CTX context;
};

RecordDigest::RecordDigest() : m_pState(new State) {
  SHA256_Init(&m_pState->context);
}

RecordDigest::~RecordDigest() = default;

void RecordDigest::Update(const void* data, size_t size) {
  SHA256_Update(&m_pState->context, data, size);
}

std::string RecordDigest::FinalHex() {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_Final(digest, &m_pState->context);
  SHA256_Init(&m_pState->context);
  return Checksum::ToHex(digest, sizeof digest);
}

std::string RecordDigest::Of(const void* data, size_t size) {
  RecordDigest digest;
  digest.Update(data, size);
  return digest.FinalHex();
}
