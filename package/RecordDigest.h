#ifndef STRATA_PACKAGE_RECORDDIGEST_H_
#define STRATA_PACKAGE_RECORDDIGEST_H_

#include <stddef.h>

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
