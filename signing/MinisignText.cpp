#include "signing/MinisignText.h"

#include <inttypes.h>

#include <sodium.h>

#include "common/Format.h"

const char kUntrustedCommentPrefix[] = "untrusted comment: ";
const char kTrustedCommentPrefix[] = "trusted comment: ";

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool DecodeBase64(const std::string& line, size_t size, std::string* bytes) {
  // One byte of room beyond size, so that a longer text fails on its length
  // rather than on the buffer.
  std::string out(size + 1, '\0');
  size_t got = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(&out[0]), out.size(), line.data(),
                        line.size(), nullptr, &got, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != line.data() + line.size() || got != size) {
    sodium_memzero(&out[0], out.size());
    return false;
  }
  out.resize(size);
  bytes->swap(out);
  return true;
}

std::string EncodeBase64(const void* data, size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(&text[0], text.size(), static_cast<const unsigned char*>(data), size,
                    sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating NUL
  return text;
}

std::string KeyIdText(const unsigned char id[8]) {
  // As minisign prints it: the little-endian number in upper-case
  // hexadecimal, without leading zeros.
  uint64_t number = 0;
  for (int i = 7; i >= 0; --i)
    number = number << 8 | id[i];
  return FormatText("%" PRIX64, number);
}
