#ifndef STRATA_PACKAGE_CHECKSUM_H_
#define STRATA_PACKAGE_CHECKSUM_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

// A streaming digest of the pieces of a package, of one of the kinds of the
// package record (package/PackageRecord.h): SHA-256 or XXH3-128. The builder
// and the launcher both digest the decompressor piece followed by the archive
// piece with it.
class Checksum {
 public:
  static const size_t kMaxDigestSize = 32;

  // A digest of the given kind; Valid() is false for an unknown kind.
  explicit Checksum(uint32_t kind);
  ~Checksum();

  Checksum(const Checksum&) = delete;
  Checksum& operator=(const Checksum&) = delete;

  bool Valid() const { return m_nDigestSize != 0; }
  // Bytes of the digest: 32 for SHA-256, 16 for XXH3-128, 0 for none.
  static size_t DigestSize(uint32_t kind);
  // "sha256", "xxh3-128", "none", or "unknown".
  static const char* KindName(uint32_t kind);
  // The kind named by text ("sha256", "xxh3-128", "none"); false if unknown.
  static bool KindFromName(const std::string& text, uint32_t* kind);
  // Lowercase hexadecimal text of the first size bytes of digest.
  static std::string ToHex(const unsigned char* digest, size_t size);

  void Update(const void* data, size_t size);
  // Writes the digest into out and zeroes the rest of its 32 bytes. The
  // object must not be updated afterwards.
  void Final(unsigned char out[kMaxDigestSize]);

 private:
  struct State;
  uint32_t m_nKind;
  size_t m_nDigestSize;
  std::unique_ptr<State> m_pState;
};

// Hands every byte of fd from offset from to the end of the file to
// checksum, read with pread in large blocks: true, or false with *error
// ("what: reason").
bool DigestToEnd(int fd, uint64_t from, const std::string& what, Checksum* checksum,
                 std::string* error);

#endif  // STRATA_PACKAGE_CHECKSUM_H_
