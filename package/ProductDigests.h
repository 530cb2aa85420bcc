#ifndef STRATA_PACKAGE_PRODUCTDIGESTS_H_
#define STRATA_PACKAGE_PRODUCTDIGESTS_H_

#include <stdint.h>

#include <string>
#include <vector>

// The SHA-256 of every regular file of a product, computed when the package
// is built from a directory and carried in the package as one file at the
// top of its archive, so that setup can record the digests instead of
// reading every file it has just unpacked. The list is no product file: it
// is neither installed nor recorded.
//
// Its text: one line per file, sorted by path, each
// "<64 lowercase hex digits> <size in decimal> <path>\n", the path relative
// to the top of the product and escaped as package/EscapedPath.h says.

// The name of the list in the archive's top directory.
extern const char kProductDigestsName[];

struct ProductDigest {
  std::string sha256;  // lowercase hexadecimal
  uint64_t size = 0;
  std::string path;  // relative, "/"-separated, unescaped
};

// The list's text for digests, in their order.
std::string FormatProductDigests(const std::vector<ProductDigest>& digests);

// The digests that text lists, in *digests: true, or false with *error
// ("line N: what is wrong") and *digests untouched when any line is
// malformed, a path is not plainly inside the product (empty, absolute, with
// an empty, "." or ".." name, or with a NUL), or a path is listed twice.
bool ParseProductDigests(const std::string& text, std::vector<ProductDigest>* digests,
                         std::string* error);

#endif  // STRATA_PACKAGE_PRODUCTDIGESTS_H_
