#include "package/EscapedPath.h"

#include <string.h>

namespace {

// The characters a path holds as C escapes, and the letters that follow the
// backslash for them.
const char kEscaped[] = "\t\n\r\\";
const char kEscapeLetters[] = "tnr\\";

// The index of c in the first four characters of set, or -1.
int IndexIn(const char* set, char c) {
  const void* at = memchr(set, c, 4);
  return at == nullptr ? -1 : static_cast<int>(static_cast<const char*>(at) - set);
}

}  // namespace

std::string EscapePath(const std::string& path) {
  std::string escaped;
  for (char c : path) {
    int at = IndexIn(kEscaped, c);
    if (at < 0)
      escaped += c;
    else
      escaped += std::string("\\") + kEscapeLetters[at];
  }
  return escaped;
}

bool UnescapePath(const std::string& text, std::string* path) {
  path->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *path += text[i];
      continue;
    }
    int at = ++i < text.size() ? IndexIn(kEscapeLetters, text[i]) : -1;
    if (at < 0)
      return false;
    *path += kEscaped[at];
  }
  return true;
}
