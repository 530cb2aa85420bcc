#ifndef STRATA_PACKAGE_RECORDDIGEST_H_
#define STRATA_PACKAGE_RECORDDIGEST_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

// The SHA-256 that the installation record keeps of each file's content and
// of each link's target text, streamed; the builder lists the same digests
// of a product's files in the package (package/ProductDigests.h). It is
// computed by OpenSSL's libcrypto, which uses the processor's SHA extensions
// where it has them and its own plain code where it has not, chosen when the
// program starts. Not copyable.
class RecordDigest {
 public:
  RecordDigest();
  ~RecordDigest();

  RecordDigest(const RecordDigest&) = delete;
  RecordDigest& operator=(const RecordDigest&) = delete;

  void Update(const void* data, size_t size);
  // Adds what fd holds from its position to its end, read through block
  // (blockSize bytes, the caller's): true with *bytes the count read, or
  // false with errno set by the read that failed.
  bool UpdateFrom(int fd, char* block, size_t blockSize, uint64_t* bytes);
  // The digest as 64 lowercase hexadecimal characters; the object starts
  // afresh afterwards.
  std::string FinalHex();

  // The digest of size bytes at data.
  static std::string Of(const void* data, size_t size);

 private:
  struct State;
  std::unique_ptr<State> m_pState;
};

#endif  // STRATA_PACKAGE_RECORDDIGEST_H_
