#include "package/RecordDigest.h"

// The one-call SHA-256 functions, not the EVP interface: EVP fetches its
// algorithms through OpenSSL's providers, which brings the configuration
// file of the machine it runs on, dlopen and the network lookups into a
// program linked whole (several megabytes, and behaviour that depends on the
// server's /etc/ssl). These functions run the same code, SHA extensions
// included, and nothing else. OpenSSL 3 marks them deprecated, not removed.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <errno.h>
#include <unistd.h>

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

bool RecordDigest::UpdateFrom(int fd, char* block, size_t blockSize, uint64_t* bytes) {
  *bytes = 0;
  for (;;) {
    ssize_t got = read(fd, block, blockSize);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return false;
    if (got == 0)
      return true;
    Update(block, static_cast<size_t>(got));
    *bytes += static_cast<uint64_t>(got);
  }
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
