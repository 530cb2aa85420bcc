#include "package/ProductDigests.h"

#include <stdlib.h>

#include <set>

#include "package/EscapedPath.h"

// A leading dot and the package's own words: no product ships a file of
// this name, and the builder refuses one that does.
const char kProductDigestsName[] = ".digests-by-installation-package";

namespace {

bool IsSha256Hex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool IsPlainInside(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos)
    return false;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string name = path.substr(start, slash == std::string::npos ? slash : slash - start);
    if (name.empty() || name == "." || name == "..")
      return false;
    if (slash == std::string::npos)
      return true;
    start = slash + 1;
  }
}

// One line without its line feed into *digest: true, or false with *problem.
bool ParseLine(const std::string& line, ProductDigest* digest, std::string* problem) {
  size_t first = line.find(' ');
  size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
  if (second == std::string::npos) {
    *problem = "a line needs a digest, a size and a path";
    return false;
  }
  digest->sha256 = line.substr(0, first);
  std::string size = line.substr(first + 1, second - first - 1);
  if (!IsSha256Hex(digest->sha256)) {
    *problem = "bad digest";
    return false;
  }
  // At most 19 digits: below 2^63, so strtoull cannot overflow.
  if (size.empty() || size.size() > 19 ||
      size.find_first_not_of("0123456789") != std::string::npos) {
    *problem = "bad size";
    return false;
  }
  digest->size = strtoull(size.c_str(), nullptr, 10);
  if (!UnescapePath(line.substr(second + 1), &digest->path) || !IsPlainInside(digest->path)) {
    *problem = "bad path";
    return false;
  }
  return true;
}

}  // namespace

std::string FormatProductDigests(const std::vector<ProductDigest>& digests) {
  std::string text;
  for (const ProductDigest& digest : digests)
    text +=
        digest.sha256 + " " + std::to_string(digest.size) + " " + EscapePath(digest.path) + "\n";
  return text;
}

bool ParseProductDigests(const std::string& text, std::vector<ProductDigest>* digests,
                         std::string* error) {
  std::vector<ProductDigest> parsed;
  std::set<std::string> paths;
  size_t start = 0;
  for (size_t number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    std::string problem;
    ProductDigest digest;
    // A last line without its line feed may be a list cut short.
    if (end == std::string::npos)
      problem = "the line does not end";
    else if (ParseLine(text.substr(start, end - start), &digest, &problem) &&
             !paths.insert(digest.path).second)
      problem = "the path is listed twice";
    if (!problem.empty()) {
      *error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
    parsed.push_back(std::move(digest));
    start = end + 1;
  }
  *digests = std::move(parsed);
  return true;
}
