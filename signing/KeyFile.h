#ifndef STRATA_SIGNING_KEYFILE_H_
#define STRATA_SIGNING_KEYFILE_H_

#include <string>

// Reads the small text files of signing: keys, signatures and password
// files. A file longer than a key or signature could be is refused, so that
// a wrong name (a package given as a key) costs no memory.
//
// ReadKeyFile reads the whole file into *content: false with a message that
// names path when it cannot be read or is too long.
bool ReadKeyFile(const std::string& path, std::string* content, std::string* error);

// The same for a file that holds a secret: also false, without reading it,
// when its group or other users may read it, since a secret that others can
// read is no longer one.
bool ReadPrivateFile(const std::string& path, std::string* content, std::string* error);

#endif  // STRATA_SIGNING_KEYFILE_H_
