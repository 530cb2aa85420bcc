#ifndef STRATA_SIGNING_MINISIGNTEXT_H_
#define STRATA_SIGNING_MINISIGNTEXT_H_

#include <stddef.h>

#include <string>
#include <vector>

// The text form shared by minisign's key and signature files: lines of
// "untrusted comment: ..." or "trusted comment: ..." and lines of standard
// base64 (with padding) that hold the binary fields.

extern const char kUntrustedCommentPrefix[];  // "untrusted comment: "
extern const char kTrustedCommentPrefix[];    // "trusted comment: "

// The lines of text without their "\n" or "\r\n"; a last line without a line
// end counts, an empty tail after the last line end does not.
std::vector<std::string> SplitLines(const std::string& text);

// Decodes one base64 line into *bytes: false unless it is valid base64 of
// exactly size bytes and nothing else.
bool DecodeBase64(const std::string& line, size_t size, std::string* bytes);

std::string EncodeBase64(const void* data, size_t size);

// An 8-byte key ID as minisign shows it: the bytes read as a little-endian
// number, in uppercase hexadecimal without leading zeros.
std::string KeyIdText(const unsigned char id[8]);

#endif  // STRATA_SIGNING_MINISIGNTEXT_H_
