#include "package/Checksum.h"

#include <errno.h>
#include <string.h>
#include <sys/types.h>
// libmd's SHA-256 declarations need the BSD integer types of sys/types.h.
#include <sha2.h>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <vector>

#include "common/FileIo.h"
#include "common/SystemError.h"
#include "package/PackageRecord.h"

struct Checksum::State {
  SHA2_CTX sha;
  XXH3_state_t xxh;
};

Checksum::Checksum(uint32_t kind)
    : m_nKind(kind), m_nDigestSize(DigestSize(kind)), m_pState(new State) {
  if (kind == kChecksumSha256) {
    SHA256Init(&m_pState->sha);
  } else if (kind == kChecksumXxh3_128) {
    XXH3_128bits_reset(&m_pState->xxh);
  }
}

Checksum::~Checksum() = default;

size_t Checksum::DigestSize(uint32_t kind) {
  switch (kind) {
    case kChecksumSha256:
      return 32;
    case kChecksumXxh3_128:
      return 16;
    default:
      return 0;
  }
}

const char* Checksum::KindName(uint32_t kind) {
  switch (kind) {
    case kChecksumNone:
      return "none";
    case kChecksumSha256:
      return "sha256";
    case kChecksumXxh3_128:
      return "xxh3-128";
    default:
      return "unknown";
  }
}

bool Checksum::KindFromName(const std::string& text, uint32_t* kind) {
  for (uint32_t k : {kChecksumNone, kChecksumSha256, kChecksumXxh3_128}) {
    if (text == KindName(k)) {
      *kind = k;
      return true;
    }
  }
  return false;
}

std::string Checksum::ToHex(const unsigned char* digest, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0xf];
  }
  return hex;
}

void Checksum::Update(const void* data, size_t size) {
  if (m_nKind == kChecksumSha256) {
    SHA256Update(&m_pState->sha, static_cast<const uint8_t*>(data), size);
  } else if (m_nKind == kChecksumXxh3_128) {
    XXH3_128bits_update(&m_pState->xxh, data, size);
  }
}

void Checksum::Final(unsigned char out[kMaxDigestSize]) {
  memset(out, 0, kMaxDigestSize);
  if (m_nKind == kChecksumSha256) {
    SHA256Final(out, &m_pState->sha);
  } else if (m_nKind == kChecksumXxh3_128) {
    // The canonical form is big-endian, the same on every machine.
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&m_pState->xxh));
    memcpy(out, canonical.digest, sizeof canonical.digest);
  }
}

bool DigestToEnd(int fd, uint64_t from, const std::string& what, Checksum* checksum,
                 std::string* error) {
  std::vector<char> block(1 << 20);
  uint64_t position = from;
  for (;;) {
    size_t got;
    if (!PreadFull(fd, block.data(), block.size(), position, &got)) {
      *error = ErrnoMessage(what, errno);
      return false;
    }
    if (got == 0)
      return true;
    checksum->Update(block.data(), got);
    position += got;
  }
}
